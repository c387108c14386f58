#pragma once

#include <memory>
#include <vector>

#include "NeuralNets/TBasicConnections.h"

namespace kartlo {

/// Matrix whose arcs can be removed and restored one by one and made trainable or fixed.
/// Same weight layout as the fully connected matrix plus one flag byte per arc.
class TPrunedConnections : public TBasicConnections {
 public:
  /// Complete: every arc exists and is trainable, weights 0.0.
  TPrunedConnections(TBasicNetwork* network, int fromLayer, int toLayer);

  /// Every arc with the trainable bit, in storage order; min == max assigns min without drawing.
  void Randomize(double min, double max) override;
  /// The stored weight whether or not the arc exists.
  double& GetWeight(int fromNode, int toNode) override;
  /// Sums over existing arcs only.
  void Aggregate(double* values) override;
  bool IsValid(int fromNode, int toNode) override;
  bool IsTrainable(int fromNode, int toNode) override;
  /// Flags 0, weight 0.0.
  void PruneArc(int fromNode, int toNode) override;
  /// An absent arc gets flags FMaskAll and weight 0.0; an existing arc stays as it is.
  void AddArc(int fromNode, int toNode) override;
  /// Only an existing arc becomes trainable.
  void SetTrainable(int fromNode, int toNode) override;
  void SetUntrainable(int fromNode, int toNode) override;
  void IterateToNode(TIterateObj& visitor, int toNode, int mask) override;
  void IterateFromNode(TIterateObj& visitor, int fromNode, int mask) override;
  void Iterate(TIterateObj& visitor, int mask) override;
  void Iterate2(TIterateObj2& visitor, TBasicNetwork* second, int mask) override;
  void Iterate3(TIterateObj3& visitor, TBasicNetwork* second, TBasicNetwork* third,
                int mask) override;
  const char* GetConnectionsNType() override;
  unsigned char GetFlags(int fromNode, int toNode) override;
  /// Stores any byte unchecked; only 0, FMaskExists and FMaskAll are meaningful.
  void SetFlags(int fromNode, int toNode, unsigned char val) override;
  std::unique_ptr<TBasicConnections> Clone(TBasicNetwork* owner) override;
  void RemoveFromNode(int node) override;
  void RemoveToNode(int node) override;
  /// New arcs: with `attached` a draw and FMaskAll each, else weight 0.0 and flags 0 (no draw).
  void InsertFromNode(int node, double min, double max, bool attached) override;
  void InsertToNode(int node, double min, double max, bool attached) override;

  /// All weights, one row of n_from per to-neuron.
  std::vector<double> array_weights;
  /// index_weights[t] points at row t of array_weights.
  std::vector<double*> index_weights;
  /// Flag byte of every arc, laid out like array_weights.
  std::vector<unsigned char> array_masks;
  /// index_masks[t] points at row t of array_masks.
  std::vector<unsigned char*> index_masks;

 private:
  /// A matrix with an empty block, for Clone: the new owner's layers are not consulted.
  TPrunedConnections(TBasicNetwork* network, int fromLayer, int toLayer, int);
  /// Allocates blocks of the given shape (weights 0.0, flags `flags`) and points the row tables.
  void Reshape(int nFrom, int nTo, unsigned char flags);
  /// Whether the block holds arc f -> t; arcs it does not hold count as absent.
  bool Stored(int fromNode, int toNode) const;
  /// Shape of the stored blocks; equals the layers' counts except between a layer's change
  /// and the matching resize call.
  int storedFrom = 0;
  int storedTo = 0;
  double scratch = 0.0;
};

}  // namespace kartlo
