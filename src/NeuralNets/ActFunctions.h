#pragma once

#include <string>
#include <vector>

namespace kartlo {

class TBasicNeuron;

/// Computes a neuron's output from its net input and stores it through the
/// neuron's `value`; functions are compared by identity (nullptr = none).
using TActFunction = void (*)(TBasicNeuron* neuron, double net);

/// "error": the function of a neuron whose function was never chosen; fails "false".
void ActFnError(TBasicNeuron* neuron, double net);
/// "null": what a layer without neurons reports; fails "false" when applied.
void ActFnNull(TBasicNeuron* neuron, double net);
/// "bias": always 1.0.
void ActFnBias(TBasicNeuron* neuron, double net);
/// "linear": the net input itself.
void ActFnLinear(TBasicNeuron* neuron, double net);
/// "saturated-linear": net clipped to [0, 1]; a NaN input gives 0.0.
void ActFnSaturatedLinear(TBasicNeuron* neuron, double net);
/// "sigmoid": 1/(1+exp(-net)); below -500 the constant 1.0e-300 without calling exp.
void ActFnSigmoid(TBasicNeuron* neuron, double net);
/// "tanh".
void ActFnTanh(TBasicNeuron* neuron, double net);
/// "linear-gain": gain * net, the gain read through the neuron's GetGain().
void ActFnLinearGain(TBasicNeuron* neuron, double net);
/// "sigmoid-gain": 1/(1+exp(-gain*net)), no lower cut-off.
void ActFnSigmoidGain(TBasicNeuron* neuron, double net);
/// "tanh-gain": tanh(gain*net).
void ActFnTanhGain(TBasicNeuron* neuron, double net);

/// A network's table of named activation functions; names are unique without
/// regard to case, and every search runs from the newest entry to the oldest.
class TFnRegistry {
 public:
  struct Entry {
    std::string name;  ///< spelled as registered
    TActFunction fn = nullptr;
  };

  /// Entries 0 .. count-1 in registration order; items.capacity() >= capacity.
  std::vector<Entry> items;
  /// Room reserved for entries: 16 at first, doubled whenever a full table gains an entry.
  int capacity = 16;
  int count = 0;

  TFnRegistry();
  virtual ~TFnRegistry();
  TFnRegistry(const TFnRegistry&) = delete;
  TFnRegistry& operator=(const TFnRegistry&) = delete;

  /// Registers the ten standard functions in their fixed order.
  virtual void RegisterDefaults();

  /// Appends {name, fn}; a name already registered fails "strcasecmp(p,pp->name)!=0".
  void Register(TActFunction fn, const char* name);
  /// The function registered as `name` (any case); the "error" function when there is none.
  TActFunction Find(const char* name) const;
  /// The registered spelling of `fn`'s name; an unregistered function fails "false".
  const char* GetName(TActFunction fn) const;
  /// The function slot named `name`, appended empty when missing; valid until the next addition.
  TActFunction& FindOrAdd(const char* name);

 private:
  void Append(TActFunction fn, const char* name);
};

}  // namespace kartlo
