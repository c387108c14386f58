#include "NeuralNets/TBasicLayer.h"

#include <algorithm>
#include <iostream>
#include <type_traits>

#include "KQmessage/Assert.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TBasicNetwork.h"

namespace kartlo {

// ---- neurons ----

TBasicNeuron::~TBasicNeuron() = default;

void TBasicNeuron::Activate(double net) { actFunction(this, net); }

int TBasicNeuron::GetNumParams() const { return 0; }

void TBasicNeuron::GetParams(double*) const {}

void TBasicNeuron::SetParams(const double*) {}

const char* TBasicNeuron::GetParamName(int) const {
  KARTLO_ASSERT(false);
  return nullptr;
}

void TBasicNeuron::CopyParams(const TBasicNeuron&) {}

double TBasicNeuron::GetGain() const { return 1.0; }

void TBasicNeuron::SetActFunction(TActFunction fn) {
  actFunction = fn;
  if (layer != nullptr) layer->actFunction = nullptr;
}

int TGainNeuron::GetNumParams() const { return 1; }

void TGainNeuron::GetParams(double* out) const { out[0] = gain; }

void TGainNeuron::SetParams(const double* in) { gain = in[0]; }

const char* TGainNeuron::GetParamName(int i) const {
  KARTLO_ASSERT_TEXT(i == 0, "i==0");
  return "Gain";
}

double TGainNeuron::GetGain() const { return gain; }

// ---- the layer base ----

TBasicLayer::TBasicLayer(TBasicNetwork* network, int layerNum, int numNeurons)
    : network(network),
      numNeurons(numNeurons),
      layerNum(layerNum),
      values(static_cast<size_t>(std::max(numNeurons, 0)), 0.0) {}

TBasicLayer::~TBasicLayer() = default;

void TBasicLayer::Activate(const double* net) {
  if (actFunction != nullptr) {
    for (int i = 0; i < numNeurons; ++i) actFunction(GetNeuron(i), net[i]);
  } else {
    for (int i = 0; i < numNeurons; ++i) {
      TBasicNeuron* n = GetNeuron(i);
      n->actFunction(n, net[i]);
    }
  }
}

void TBasicLayer::WarnInputPosition(const char* className) {
  std::cerr << "!Warning: changed input layer (" << className << ")\n";
}

void TBasicLayer::Propagate(const double* input) {
  const int L = layerNum;
  if (L == network->inLayer) {
    WarnInputPosition("TSimpleLayer");
    std::copy(input, input + numNeurons, values.begin());
  } else {
    std::fill(values.begin(), values.end(), 0.0);
  }
  for (int j = 0; j < L; ++j) network->priv_conns_index[L][j]->Aggregate(values.data());
  Activate(values.data());
}

void TBasicLayer::InsertNeuron(int) { KARTLO_ASSERT(false); }

void TBasicLayer::SetActFunction(TActFunction fn) {
  actFunction = fn;
  for (int i = 0; i < numNeurons; ++i) GetNeuron(i)->actFunction = fn;
}

TActFunction TBasicLayer::GetActFunction() {
  if (actFunction != nullptr) return actFunction;
  if (numNeurons <= 0) {
    actFunction = &ActFnNull;
    return actFunction;
  }
  const TActFunction first = GetNeuron(0)->actFunction;
  for (int i = 1; i < numNeurons; ++i) {
    if (GetNeuron(i)->actFunction != first) return nullptr;
  }
  actFunction = first;
  return actFunction;
}

void TBasicLayer::GetDimensions(int* parameters) const {
  if (numDimensions == 0) return;
  KARTLO_ASSERT_TEXT(parameters != nullptr, "parameters != NULL");
  KARTLO_ASSERT_TEXT(!dimensions.empty(), "dimensions != NULL");
  std::copy(dimensions.begin(), dimensions.begin() + numDimensions, parameters);
}

void TBasicLayer::SetDimensions(int n, const int* parameters) {
  numDimensions = n;
  dimensions.clear();
  if (n == 0) return;
  KARTLO_ASSERT_TEXT(parameters != nullptr, "parameters != NULL");
  dimensions.assign(parameters, parameters + n);
}

// ---- shared neuron-array editing ----

namespace {

/// Copies what a neuron carries from one array position to another.
template <class Neuron>
void CarryOver(Neuron& to, const Neuron& from) {
  to.layerNum = from.layerNum;
  to.actFunction = from.actFunction;
  if constexpr (std::is_same_v<Neuron, TGainNeuron>) to.gain = from.gain;
  to.CopyParams(from);
}

/// Rebuilds `nodes` with a new neuron at `node`; the caller relinks the array.
template <class Neuron>
void InsertInto(std::vector<Neuron>& nodes, int k, int node, TActFunction common) {
  std::vector<Neuron> fresh(static_cast<size_t>(k + 1));
  for (int i = 0; i < k; ++i) {
    const int j = i + (i >= node ? 1 : 0);
    CarryOver(fresh[static_cast<size_t>(j)], nodes[static_cast<size_t>(i)]);
  }
  Neuron& added = fresh[static_cast<size_t>(node)];
  added.actFunction = (common != nullptr) ? common : &ActFnError;
  if constexpr (std::is_same_v<Neuron, TGainNeuron>) added.gain = (k > 0) ? nodes[0].gain : 1.0;
  nodes.swap(fresh);
}

/// Rebuilds `nodes` without the neuron at `node`; the caller relinks the array.
template <class Neuron>
void RemoveFrom(std::vector<Neuron>& nodes, int k, int node) {
  std::vector<Neuron> fresh(static_cast<size_t>(k - 1));
  for (int i = 0; i < k - 1; ++i) {
    CarryOver(fresh[static_cast<size_t>(i)], nodes[static_cast<size_t>(i + (i >= node ? 1 : 0))]);
  }
  nodes.swap(fresh);
}

/// Points neuron i at `layer`, its values entry i, position i and the layer's number.
template <class Neuron>
void Relink(std::vector<Neuron>& nodes, TBasicLayer* layer) {
  for (size_t i = 0; i < nodes.size(); ++i) {
    nodes[i].layer = layer;
    nodes[i].value = &layer->values[i];
    nodes[i].index = static_cast<int>(i);
    nodes[i].layerNum = layer->layerNum;
  }
}

/// Copies neurons (functions, gains, parameters), dimensions and the common function.
template <class Neuron>
void CloneInto(std::vector<Neuron>& to, const std::vector<Neuron>& from, TBasicLayer& copy,
               const TBasicLayer& source) {
  copy.numDimensions = source.numDimensions;
  copy.dimensions = source.dimensions;
  copy.actFunction = source.actFunction;
  for (size_t i = 0; i < to.size() && i < from.size(); ++i) {
    CarryOver(to[i], from[i]);
    to[i].index = from[i].index;
  }
}

}  // namespace

// ---- TSimpleLayer ----

TSimpleLayer::TSimpleLayer(TBasicNetwork* network, int layerNum, int numNeurons)
    : TBasicLayer(network, layerNum, numNeurons), nodes(static_cast<size_t>(std::max(numNeurons, 0))) {
  RelinkNodes();
}

void TSimpleLayer::RelinkNodes() { Relink(nodes, this); }

void TSimpleLayer::Activate(const double* net) {
  if (actFunction != nullptr) {
    for (int i = 0; i < numNeurons; ++i) actFunction(&nodes[static_cast<size_t>(i)], net[i]);
  } else {
    for (int i = 0; i < numNeurons; ++i) {
      TBasicNeuron& n = nodes[static_cast<size_t>(i)];
      n.actFunction(&n, net[i]);
    }
  }
}

TBasicNeuron* TSimpleLayer::GetNeuron(int i) { return &nodes[static_cast<size_t>(i)]; }

const char* TSimpleLayer::GetLayerNType() const { return "Simple"; }

void TSimpleLayer::CopyFrom(const TSimpleLayer& source) {
  CloneInto(nodes, source.nodes, *this, source);
}

std::unique_ptr<TBasicLayer> TSimpleLayer::Clone(TBasicNetwork* owner) const {
  auto copy = std::make_unique<TSimpleLayer>(owner, layerNum, numNeurons);
  copy->CopyFrom(*this);
  return copy;
}

void TSimpleLayer::RemoveNeuron(int node) {
  KARTLO_ASSERT(node >= 0);
  KARTLO_ASSERT(node < numNeurons);
  RemoveFrom(nodes, numNeurons, node);
  RelinkNodes();
}

void TSimpleLayer::InsertNeuron(int node) {
  KARTLO_ASSERT(node >= 0);
  KARTLO_ASSERT(node <= numNeurons);
  InsertInto(nodes, numNeurons, node, actFunction);
  values.assign(static_cast<size_t>(numNeurons + 1), 0.0);
  RelinkNodes();
}

// ---- TSimpleInputLayer ----

TSimpleInputLayer::TSimpleInputLayer(TBasicNetwork* network, int layerNum, int numNeurons)
    : TSimpleLayer(network, layerNum, numNeurons) {
  SetActFunction(&ActFnLinear);
}

void TSimpleInputLayer::Propagate(const double* input) {
  if (layerNum == network->inLayer) {
    std::copy(input, input + numNeurons, values.begin());
  } else {
    WarnInputPosition("TSimpleInputLayer");
    std::fill(values.begin(), values.end(), 0.0);
  }
}

const char* TSimpleInputLayer::GetLayerNType() const { return "Input"; }

std::unique_ptr<TBasicLayer> TSimpleInputLayer::Clone(TBasicNetwork* owner) const {
  auto copy = std::make_unique<TSimpleInputLayer>(owner, layerNum, numNeurons);
  copy->CopyFrom(*this);
  return copy;
}

// ---- TGainLayer ----

TGainLayer::TGainLayer(TBasicNetwork* network, int layerNum, int numNeurons, double gain)
    : TBasicLayer(network, layerNum, numNeurons), nodes(static_cast<size_t>(std::max(numNeurons, 0))) {
  for (TGainNeuron& n : nodes) n.gain = gain;
  RelinkNodes();
}

void TGainLayer::RelinkNodes() { Relink(nodes, this); }

void TGainLayer::Activate(const double* net) {
  if (actFunction != nullptr) {
    for (int i = 0; i < numNeurons; ++i) actFunction(&nodes[static_cast<size_t>(i)], net[i]);
  } else {
    for (int i = 0; i < numNeurons; ++i) {
      TGainNeuron& n = nodes[static_cast<size_t>(i)];
      n.actFunction(&n, net[i]);
    }
  }
}

TBasicNeuron* TGainLayer::GetNeuron(int i) { return &nodes[static_cast<size_t>(i)]; }

const char* TGainLayer::GetLayerNType() const { return "Gain"; }

std::unique_ptr<TBasicLayer> TGainLayer::Clone(TBasicNetwork* owner) const {
  auto copy = std::make_unique<TGainLayer>(owner, layerNum, numNeurons, 1.0);
  CloneInto(copy->nodes, nodes, *copy, *this);
  return copy;
}

void TGainLayer::RemoveNeuron(int node) {
  KARTLO_ASSERT(node >= 0);
  KARTLO_ASSERT(node < numNeurons);
  RemoveFrom(nodes, numNeurons, node);
  RelinkNodes();
}

void TGainLayer::InsertNeuron(int node) {
  KARTLO_ASSERT(node >= 0);
  KARTLO_ASSERT(node <= numNeurons);
  InsertInto(nodes, numNeurons, node, actFunction);
  values.assign(static_cast<size_t>(numNeurons + 1), 0.0);
  RelinkNodes();
}

void TGainLayer::SetGain(double gain) {
  for (TGainNeuron& n : nodes) n.gain = gain;
}

}  // namespace kartlo
