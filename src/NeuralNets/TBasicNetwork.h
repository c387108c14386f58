#pragma once

#include <memory>
#include <vector>

#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/TBasicLayer.h"

namespace kartlo {

class TBasicConnections;
class TArcsIterator;
class TIterateObj;

/// A network of numbered layers with one connection matrix for every ordered
/// pair of layers. Between Allocate and the creator's filling the layer entries
/// are null; a complete network has every layer and matrix entry filled.
class TBasicNetwork {
 public:
  int numLayers = 0;
  /// Entry i is layer i (owned).
  std::vector<std::unique_ptr<TBasicLayer>> layers;
  int inLayer = 1;
  int outLayer = -1;
  /// Entry to*numLayers+from is the matrix from layer `from` to layer `to` (owned).
  std::vector<std::unique_ptr<TBasicConnections>> priv_conns;
  /// Row i is &priv_conns[i*numLayers]: priv_conns_index[to][from] is that matrix.
  std::vector<std::unique_ptr<TBasicConnections>*> priv_conns_index;
  std::unique_ptr<TFnRegistry> registry;

  /// No tables; a derived constructor calls Allocate itself.
  TBasicNetwork();
  explicit TBasicNetwork(int n_layers);
  /// Deep copy of a complete network; the copy gets a fresh registry.
  TBasicNetwork(const TBasicNetwork& x);
  /// Deep copy replacing everything held; self-assignment changes nothing.
  TBasicNetwork& operator=(const TBasicNetwork& x);
  /// Releases matrices, tables, layers and registry; tolerates null layer entries
  /// so that a network abandoned halfway through its construction can be deleted.
  virtual ~TBasicNetwork();

  /// n_layers empty layer slots, n_layers x n_layers empty matrices, a filled
  /// registry; inLayer 1, outLayer n_layers-1.
  void Allocate(int n_layers);

  /// Weights counted, copied and randomised matrix by matrix, from-layer major.
  virtual int GetNumWeights(int mask);
  virtual int GetWeights(double* out, int mask);
  virtual int SetWeights(const double* in, int mask);
  virtual void Randomize(double min, double max);
  /// Joins the pair with a pruneable matrix unless it is joined already.
  virtual void Connect(int fromLayer, int toLayer);
  /// Puts an empty matrix in the pair's place.
  virtual void Disconnect(int fromLayer, int toLayer);
  /// Forward pass; writes the output layer's values and returns their number.
  virtual int Recall(const double* input, double* output);
  virtual const char* GetNetworkNType() const;
  /// Arc iteration needs fully connected matrices: fails "false" here.
  virtual std::unique_ptr<TArcsIterator> NewInAllArcsIterator();

  int GetNumNeurons() const;
  /// The neuron with global number `index`, counting layer by layer from layer 0.
  TBasicNeuron* GetNeuron(int index);

  // Structure editing (TBasicNetworkEditing.cpp).
  void AddNeuron(int LayerNum, int node, double min, double max, bool attached);
  void RemoveNeuron(int LayerNum, int node);
  int PruneNodes();
  void IterateToNode(TIterateObj& visitor, int toLayer, int node, int mask);
  void IterateFromNode(TIterateObj& visitor, int fromLayer, int node, int mask);
  /// Inserts `layer` (made for this network) as number LayerNum; the network takes it.
  void InsertLayer(int LayerNum, std::unique_ptr<TBasicLayer> layer);
  void RemoveLayer(int LayerNum);

 protected:
  /// Releases every table and its contents (the destructor's work).
  void Release();
  /// Builds this network as a deep copy of `x` (the copy constructor's work).
  void CopyFrom(const TBasicNetwork& x);
  /// Points row i of priv_conns_index at entry i*numLayers of priv_conns.
  void BuildIndex();
};

}  // namespace kartlo
