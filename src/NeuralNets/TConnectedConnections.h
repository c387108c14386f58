#pragma once

#include <memory>
#include <vector>

#include "NeuralNets/TBasicConnections.h"

namespace kartlo {

/// Every from-neuron joined to every to-neuron; every arc exists and is trainable.
/// Weights are one contiguous block of n_to rows of n_from weights; entry f of row t is arc f -> t.
class TConnectedConnections : public TBasicConnections {
 public:
  /// All weights 0.0.
  TConnectedConnections(TBasicNetwork* network, int fromLayer, int toLayer);

  /// n_from * n_to whatever the mask.
  int GetNumWeights(int mask) override;
  /// From-neuron-major order (all arcs of from-neuron 0 first), unlike Iterate.
  int GetWeights(double* out, int mask) override;
  /// From-neuron-major order, as GetWeights.
  int SetWeights(const double* in, int mask) override;
  /// Walks the block in storage order (to-neuron rows).
  void Randomize(double min, double max) override;
  double& GetWeight(int fromNode, int toNode) override;
  void Aggregate(double* values) override;
  bool IsValid(int fromNode, int toNode) override;
  void AddArc(int fromNode, int toNode) override;
  void SetTrainable(int fromNode, int toNode) override;
  void IterateToNode(TIterateObj& visitor, int toNode, int mask) override;
  void IterateFromNode(TIterateObj& visitor, int fromNode, int mask) override;
  void Iterate(TIterateObj& visitor, int mask) override;
  void Iterate2(TIterateObj2& visitor, TBasicNetwork* second, int mask) override;
  void Iterate3(TIterateObj3& visitor, TBasicNetwork* second, TBasicNetwork* third,
                int mask) override;
  const char* GetConnectionsNType() override;
  std::unique_ptr<TBasicConnections> Clone(TBasicNetwork* owner) override;
  void RemoveFromNode(int node) override;
  void RemoveToNode(int node) override;
  /// Requires `attached`; the new column gets one draw per to-neuron, in to-neuron order.
  void InsertFromNode(int node, double min, double max, bool attached) override;
  /// Requires `attached`; the new row gets one draw per from-neuron, in from-neuron order.
  void InsertToNode(int node, double min, double max, bool attached) override;

  /// First weight of row `toNode` (the n_from weights of the arcs into that neuron).
  double* GetRow(int toNode);

  /// All weights, row after row.
  std::vector<double> array_weights;
  /// index_weights[t] points at row t of array_weights.
  std::vector<double*> index_weights;

 private:
  /// A matrix with an empty block, for Clone: the new owner's layers are not consulted.
  TConnectedConnections(TBasicNetwork* network, int fromLayer, int toLayer, int);
  /// Allocates a zeroed block of the given shape and points the row table at it.
  void Reshape(int nFrom, int nTo);
  /// Address of the stored weight f -> t, or of a zeroed scratch weight for an arc the block
  /// does not hold yet (a layer changed and the matching resize has not come).
  double* WeightPtr(int fromNode, int toNode);

  /// Shape of the stored block; equals the layers' counts except between a layer's change
  /// and the matching resize call.
  int storedFrom = 0;
  int storedTo = 0;
  double scratch = 0.0;
};

}  // namespace kartlo
