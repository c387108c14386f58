#pragma once

#include <memory>
#include <vector>

#include "NeuralNets/ActFunctions.h"

namespace kartlo {

class TBasicLayer;
class TBasicNetwork;

/// One neuron: its place in the network, its output slot in its layer's
/// `values` and its activation function. Stored by value inside its layer.
class TBasicNeuron {
 public:
  int layerNum = 0;
  int index = 0;
  /// Entry `index` of the owning layer's `values`.
  double* value = nullptr;
  TBasicLayer* layer = nullptr;
  /// A new neuron starts with the "error" function.
  TActFunction actFunction = &ActFnError;

  TBasicNeuron() = default;
  TBasicNeuron(const TBasicNeuron&) = default;
  TBasicNeuron& operator=(const TBasicNeuron&) = default;
  virtual ~TBasicNeuron();

  /// Calls actFunction(this, net).
  virtual void Activate(double net);
  virtual int GetNumParams() const;
  virtual void GetParams(double* out) const;
  virtual void SetParams(const double* in);
  /// Plain neurons have no parameters: fails "false".
  virtual const char* GetParamName(int i) const;
  virtual void CopyParams(const TBasicNeuron& from);
  /// The gain the "-gain" functions use: 1.0 for a plain neuron.
  virtual double GetGain() const;

  /// Sets the function and clears the layer's remembered common function.
  void SetActFunction(TActFunction fn);
  TActFunction GetActFunction() const { return actFunction; }
};

/// A neuron with one parameter, "Gain".
class TGainNeuron : public TBasicNeuron {
 public:
  double gain = 1.0;

  int GetNumParams() const override;
  void GetParams(double* out) const override;
  void SetParams(const double* in) override;
  /// Only index 0 exists: other indices fail "i==0".
  const char* GetParamName(int i) const override;
  double GetGain() const override;
};

/// One numbered stage of a network. `values` holds the net inputs and then the
/// outputs of the last pass; matrices read and add into values.data().
class TBasicLayer {
 public:
  TBasicNetwork* network;
  /// The function all neurons share when known; nullptr when unknown or mixed.
  TActFunction actFunction = nullptr;
  /// Changed by the network (not by the layer) when neurons are added or removed.
  int numNeurons;
  int layerNum;
  /// At least numNeurons entries (a removal leaves one unused entry at the end).
  std::vector<double> values;
  int numDimensions = 0;
  std::vector<int> dimensions;

  TBasicLayer(TBasicNetwork* network, int layerNum, int numNeurons);
  TBasicLayer(const TBasicLayer&) = delete;
  TBasicLayer& operator=(const TBasicLayer&) = delete;
  /// Takes the role of Destroy: releases values, dimensions and the neurons.
  virtual ~TBasicLayer();

  /// Applies the functions to `net` (which may be values.data()), storing into values.
  virtual void Activate(const double* net);
  /// Neuron i, unchecked; valid until the next insertion or removal.
  virtual TBasicNeuron* GetNeuron(int i) = 0;
  /// One forward step: clear (or copy the input in the input position), add the
  /// matrices from lower-numbered layers, apply the functions.
  virtual void Propagate(const double* input);
  virtual const char* GetLayerNType() const = 0;
  /// A copy for `owner` with the same neurons, functions, parameters and dimensions; values 0.
  virtual std::unique_ptr<TBasicLayer> Clone(TBasicNetwork* owner) const = 0;
  /// Drops neuron `node` (0 <= node < numNeurons); the caller then lowers numNeurons.
  virtual void RemoveNeuron(int node) = 0;
  /// Inserts a neuron at `node` (0 <= node <= numNeurons); the caller then raises numNeurons.
  virtual void InsertNeuron(int node);

  /// Gives the layer and every neuron `fn`.
  void SetActFunction(TActFunction fn);
  /// The common function (remembered once found), "null" for no neurons, nullptr when mixed.
  TActFunction GetActFunction();
  void GetDimensions(int* parameters) const;
  void SetDimensions(int n, const int* parameters);

 protected:
  /// Writes the forward-step warning for a plain layer found in the input position.
  static void WarnInputPosition(const char* className);
};

/// A layer of plain neurons (type "Simple").
class TSimpleLayer : public TBasicLayer {
 public:
  std::vector<TBasicNeuron> nodes;

  TSimpleLayer(TBasicNetwork* network, int layerNum, int numNeurons);

  void Activate(const double* net) override;
  TBasicNeuron* GetNeuron(int i) override;
  const char* GetLayerNType() const override;
  std::unique_ptr<TBasicLayer> Clone(TBasicNetwork* owner) const override;
  void RemoveNeuron(int node) override;
  void InsertNeuron(int node) override;

 protected:
  /// Copies neurons, functions and dimensions of `source` into this fresh layer.
  void CopyFrom(const TSimpleLayer& source);
  /// Points every neuron at this layer and its own entry of values.
  void RelinkNodes();
};

/// The input layer (type "Input"): copies the input unchanged; starts with "linear".
class TSimpleInputLayer : public TSimpleLayer {
 public:
  TSimpleInputLayer(TBasicNetwork* network, int layerNum, int numNeurons);

  void Propagate(const double* input) override;
  const char* GetLayerNType() const override;
  std::unique_ptr<TBasicLayer> Clone(TBasicNetwork* owner) const override;
};

/// A layer of gain neurons (type "Gain").
class TGainLayer : public TBasicLayer {
 public:
  std::vector<TGainNeuron> nodes;

  TGainLayer(TBasicNetwork* network, int layerNum, int numNeurons, double gain = 1.0);

  void Activate(const double* net) override;
  TBasicNeuron* GetNeuron(int i) override;
  const char* GetLayerNType() const override;
  std::unique_ptr<TBasicLayer> Clone(TBasicNetwork* owner) const override;
  void RemoveNeuron(int node) override;
  void InsertNeuron(int node) override;

  /// Sets every neuron's gain.
  void SetGain(double gain);

 private:
  void RelinkNodes();
};

}  // namespace kartlo
