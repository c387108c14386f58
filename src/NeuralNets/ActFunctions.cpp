#include "NeuralNets/ActFunctions.h"

#include <cmath>

#include "KQmessage/Assert.h"
#include "KQmessage/StrCaseCmp.h"
#include "NeuralNets/TBasicLayer.h"

namespace kartlo {

void ActFnError(TBasicNeuron*, double) { KARTLO_ASSERT(false); }

void ActFnNull(TBasicNeuron*, double) { KARTLO_ASSERT(false); }

void ActFnBias(TBasicNeuron* neuron, double) { *neuron->value = 1.0; }

void ActFnLinear(TBasicNeuron* neuron, double net) { *neuron->value = net; }

void ActFnSaturatedLinear(TBasicNeuron* neuron, double net) {
  if (net < 1 && net > 0) {
    *neuron->value = net;
  } else {
    // A NaN fails both tests and ends up here as 0.0.
    *neuron->value = (net >= 1) ? 1.0 : 0.0;
  }
}

void ActFnSigmoid(TBasicNeuron* neuron, double net) {
  if (-500 > net) {
    *neuron->value = 1.0e-300;
  } else {
    const double e = std::exp(-net);
    *neuron->value = 1 / (e + 1);
  }
}

void ActFnTanh(TBasicNeuron* neuron, double net) { *neuron->value = std::tanh(net); }

void ActFnLinearGain(TBasicNeuron* neuron, double net) {
  *neuron->value = neuron->GetGain() * net;
}

void ActFnSigmoidGain(TBasicNeuron* neuron, double net) {
  const double e = std::exp(-neuron->GetGain() * net);
  *neuron->value = 1 / (e + 1);
}

void ActFnTanhGain(TBasicNeuron* neuron, double net) {
  *neuron->value = std::tanh(neuron->GetGain() * net);
}

TFnRegistry::TFnRegistry() { items.reserve(static_cast<size_t>(capacity)); }

TFnRegistry::~TFnRegistry() = default;

void TFnRegistry::RegisterDefaults() {
  Register(&ActFnError, "error");
  Register(&ActFnNull, "null");
  Register(&ActFnBias, "bias");
  Register(&ActFnLinear, "linear");
  Register(&ActFnSaturatedLinear, "saturated-linear");
  Register(&ActFnSigmoid, "sigmoid");
  Register(&ActFnTanh, "tanh");
  Register(&ActFnLinearGain, "linear-gain");
  Register(&ActFnSigmoidGain, "sigmoid-gain");
  Register(&ActFnTanhGain, "tanh-gain");
}

void TFnRegistry::Append(TActFunction fn, const char* name) {
  if (count == capacity) {
    capacity *= 2;
    items.reserve(static_cast<size_t>(capacity));
  }
  items.push_back(Entry{name, fn});
  ++count;
}

void TFnRegistry::Register(TActFunction fn, const char* name) {
  const char* p = name;
  for (int i = count - 1; i >= 0; --i) {
    const Entry* pp = &items[static_cast<size_t>(i)];
    KARTLO_ASSERT_TEXT(strcasecmp(p, pp->name.c_str()) != 0, "strcasecmp(p,pp->name)!=0");
  }
  Append(fn, name);
}

TActFunction TFnRegistry::Find(const char* name) const {
  for (int i = count - 1; i >= 0; --i) {
    const Entry& e = items[static_cast<size_t>(i)];
    if (strcasecmp(name, e.name.c_str()) == 0) return e.fn;
  }
  return &ActFnError;
}

const char* TFnRegistry::GetName(TActFunction fn) const {
  for (int i = count - 1; i >= 0; --i) {
    const Entry& e = items[static_cast<size_t>(i)];
    if (e.fn == fn) return e.name.c_str();
  }
  KARTLO_ASSERT(false);
  return nullptr;
}

TActFunction& TFnRegistry::FindOrAdd(const char* name) {
  for (int i = count - 1; i >= 0; --i) {
    Entry& e = items[static_cast<size_t>(i)];
    if (strcasecmp(name, e.name.c_str()) == 0) return e.fn;
  }
  Append(nullptr, name);
  return items.back().fn;
}

}  // namespace kartlo
