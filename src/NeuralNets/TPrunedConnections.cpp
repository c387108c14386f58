#include "NeuralNets/TPrunedConnections.h"

#include <algorithm>
#include <cstddef>

#include "KQmessage/Assert.h"
#include "NeuralNets/TBasicLayer.h"
#include "NeuralNets/TBasicNetwork.h"

namespace kartlo {

namespace {

std::size_t At(int t, int nFrom, int f) {
  return static_cast<std::size_t>(t) * static_cast<std::size_t>(nFrom) + static_cast<std::size_t>(f);
}

}  // namespace

TPrunedConnections::TPrunedConnections(TBasicNetwork* network, int fromLayer, int toLayer)
    : TBasicConnections(network, fromLayer, toLayer) {
  Reshape(NumFrom(), NumTo(), FMaskAll);
}

TPrunedConnections::TPrunedConnections(TBasicNetwork* network, int fromLayer, int toLayer, int)
    : TBasicConnections(network, fromLayer, toLayer) {}

void TPrunedConnections::Reshape(int nFrom, int nTo, unsigned char flags) {
  storedFrom = nFrom;
  storedTo = nTo;
  const std::size_t size = static_cast<std::size_t>(nFrom) * static_cast<std::size_t>(nTo);
  array_weights.assign(size, 0.0);
  array_masks.assign(size, flags);
  index_weights.resize(static_cast<std::size_t>(nTo));
  index_masks.resize(static_cast<std::size_t>(nTo));
  for (int t = 0; t < nTo; ++t) {
    index_weights[static_cast<std::size_t>(t)] = array_weights.data() + At(t, nFrom, 0);
    index_masks[static_cast<std::size_t>(t)] = array_masks.data() + At(t, nFrom, 0);
  }
}

bool TPrunedConnections::Stored(int fromNode, int toNode) const {
  return fromNode >= 0 && fromNode < storedFrom && toNode >= 0 && toNode < storedTo;
}

void TPrunedConnections::Randomize(double min, double max) {
  const int nFrom = std::min(NumFrom(), storedFrom);
  const int nTo = std::min(NumTo(), storedTo);
  for (int t = 0; t < nTo; ++t) {
    double* row = index_weights[static_cast<std::size_t>(t)];
    const unsigned char* flags = index_masks[static_cast<std::size_t>(t)];
    for (int f = 0; f < nFrom; ++f)
      if (flags[f] & FMaskTrainable) row[f] = (min == max) ? min : DrawWeight(min, max);
  }
}

double& TPrunedConnections::GetWeight(int fromNode, int toNode) {
  if (Stored(fromNode, toNode)) return index_weights[static_cast<std::size_t>(toNode)][fromNode];
  scratch = 0.0;
  return scratch;
}

void TPrunedConnections::Aggregate(double* values) {
  const double* from = network->layers[fromLayer]->values.data();
  const int nFrom = std::min(NumFrom(), storedFrom);
  const int nTo = std::min(NumTo(), storedTo);
  for (int t = 0; t < nTo; ++t) {
    const double* row = index_weights[static_cast<std::size_t>(t)];
    const unsigned char* flags = index_masks[static_cast<std::size_t>(t)];
    double sum = 0.0;
    for (int f = 0; f < nFrom; ++f)
      if (flags[f] & FMaskExists) sum = row[f] * from[f] + sum;
    values[t] += sum;
  }
}

bool TPrunedConnections::IsValid(int fromNode, int toNode) {
  return (GetFlags(fromNode, toNode) & FMaskExists) != 0;
}

bool TPrunedConnections::IsTrainable(int fromNode, int toNode) {
  return (GetFlags(fromNode, toNode) & FMaskTrainable) != 0;
}

void TPrunedConnections::PruneArc(int fromNode, int toNode) {
  if (!Stored(fromNode, toNode)) return;
  index_masks[static_cast<std::size_t>(toNode)][fromNode] = 0;
  index_weights[static_cast<std::size_t>(toNode)][fromNode] = 0.0;
}

void TPrunedConnections::AddArc(int fromNode, int toNode) {
  if (!Stored(fromNode, toNode)) return;
  unsigned char& flags = index_masks[static_cast<std::size_t>(toNode)][fromNode];
  if (flags & FMaskExists) return;
  flags = FMaskAll;
  index_weights[static_cast<std::size_t>(toNode)][fromNode] = 0.0;
}

void TPrunedConnections::SetTrainable(int fromNode, int toNode) {
  if (!Stored(fromNode, toNode)) return;
  unsigned char& flags = index_masks[static_cast<std::size_t>(toNode)][fromNode];
  if (flags & FMaskExists) flags = static_cast<unsigned char>(flags | FMaskTrainable);
}

void TPrunedConnections::SetUntrainable(int fromNode, int toNode) {
  if (!Stored(fromNode, toNode)) return;
  unsigned char& flags = index_masks[static_cast<std::size_t>(toNode)][fromNode];
  flags = static_cast<unsigned char>(flags & ~FMaskTrainable);
}

void TPrunedConnections::IterateToNode(TIterateObj& visitor, int toNode, int mask) {
  FillContext(visitor);
  if (toNode < 0 || toNode >= std::min(NumTo(), storedTo)) return;
  const int nFrom = std::min(NumFrom(), storedFrom);
  double* row = index_weights[static_cast<std::size_t>(toNode)];
  const unsigned char* flags = index_masks[static_cast<std::size_t>(toNode)];
  for (int f = 0; f < nFrom; ++f) {
    if (!MaskSelects(mask, flags[f])) continue;
    visitor.fromNode = f;
    visitor.toNode = toNode;
    visitor.weight = row + f;
    visitor.trainable = (flags[f] & FMaskTrainable) != 0;
    visitor.Visit();
  }
}

void TPrunedConnections::IterateFromNode(TIterateObj& visitor, int fromNode, int mask) {
  FillContext(visitor);
  if (fromNode < 0 || fromNode >= std::min(NumFrom(), storedFrom)) return;
  const int nTo = std::min(NumTo(), storedTo);
  for (int t = 0; t < nTo; ++t) {
    const unsigned char flags = index_masks[static_cast<std::size_t>(t)][fromNode];
    if (!MaskSelects(mask, flags)) continue;
    visitor.fromNode = fromNode;
    visitor.toNode = t;
    visitor.weight = index_weights[static_cast<std::size_t>(t)] + fromNode;
    visitor.trainable = (flags & FMaskTrainable) != 0;
    visitor.Visit();
  }
}

void TPrunedConnections::Iterate(TIterateObj& visitor, int mask) {
  FillContext(visitor);
  const int nFrom = std::min(NumFrom(), storedFrom);
  const int nTo = std::min(NumTo(), storedTo);
  for (int t = 0; t < nTo; ++t)
    for (int f = 0; f < nFrom; ++f) {
      const unsigned char flags = index_masks[static_cast<std::size_t>(t)][f];
      if (!MaskSelects(mask, flags)) continue;
      visitor.fromNode = f;
      visitor.toNode = t;
      visitor.weight = index_weights[static_cast<std::size_t>(t)] + f;
      visitor.trainable = (flags & FMaskTrainable) != 0;
      visitor.Visit();
    }
}

void TPrunedConnections::Iterate2(TIterateObj2& visitor, TBasicNetwork* second, int mask) {
  FillContext2(visitor, second);
  const int nFrom = std::min(NumFrom(), storedFrom);
  const int nTo = std::min(NumTo(), storedTo);
  for (int t = 0; t < nTo; ++t)
    for (int f = 0; f < nFrom; ++f) {
      const unsigned char flags = index_masks[static_cast<std::size_t>(t)][f];
      if (!MaskSelects(mask, flags)) continue;
      visitor.fromNode = f;
      visitor.toNode = t;
      visitor.weight1 = index_weights[static_cast<std::size_t>(t)] + f;
      visitor.weight2 = &visitor.conn2->GetWeight(f, t);
      visitor.trainable = (flags & FMaskTrainable) != 0;
      visitor.Visit();
    }
}

void TPrunedConnections::Iterate3(TIterateObj3& visitor, TBasicNetwork* second,
                                  TBasicNetwork* third, int mask) {
  FillContext3(visitor, second, third);
  const int nFrom = std::min(NumFrom(), storedFrom);
  const int nTo = std::min(NumTo(), storedTo);
  for (int t = 0; t < nTo; ++t)
    for (int f = 0; f < nFrom; ++f) {
      const unsigned char flags = index_masks[static_cast<std::size_t>(t)][f];
      if (!MaskSelects(mask, flags)) continue;
      visitor.fromNode = f;
      visitor.toNode = t;
      visitor.weight1 = index_weights[static_cast<std::size_t>(t)] + f;
      visitor.weight2 = &visitor.conn2->GetWeight(f, t);
      visitor.weight3 = &visitor.conn3->GetWeight(f, t);
      visitor.trainable = (flags & FMaskTrainable) != 0;
      visitor.Visit();
    }
}

const char* TPrunedConnections::GetConnectionsNType() { return "Pruneable"; }

unsigned char TPrunedConnections::GetFlags(int fromNode, int toNode) {
  if (!Stored(fromNode, toNode)) return 0;
  return index_masks[static_cast<std::size_t>(toNode)][fromNode];
}

void TPrunedConnections::SetFlags(int fromNode, int toNode, unsigned char val) {
  if (!Stored(fromNode, toNode)) return;
  index_masks[static_cast<std::size_t>(toNode)][fromNode] = val;
}

std::unique_ptr<TBasicConnections> TPrunedConnections::Clone(TBasicNetwork* owner) {
  // The copy takes this block's shape; `owner` may not hold its layers yet.
  std::unique_ptr<TPrunedConnections> x(new TPrunedConnections(owner, fromLayer, toLayer, 0));
  x->Reshape(storedFrom, storedTo, 0);
  x->array_weights = array_weights;
  x->array_masks = array_masks;
  return x;
}

void TPrunedConnections::RemoveFromNode(int node) {
  KARTLO_ASSERT_TEXT(node >= 0 && node < storedFrom, "node within the stored weights");
  const std::vector<double> oldWeights = std::move(array_weights);
  const std::vector<unsigned char> oldMasks = std::move(array_masks);
  const int oldFrom = storedFrom;
  Reshape(storedFrom - 1, storedTo, 0);
  for (int t = 0; t < storedTo; ++t)
    for (int f = 0; f < storedFrom; ++f) {
      const std::size_t src = At(t, oldFrom, f < node ? f : f + 1);
      array_weights[At(t, storedFrom, f)] = oldWeights[src];
      array_masks[At(t, storedFrom, f)] = oldMasks[src];
    }
}

void TPrunedConnections::RemoveToNode(int node) {
  KARTLO_ASSERT_TEXT(node >= 0 && node < storedTo, "node within the stored weights");
  const std::vector<double> oldWeights = std::move(array_weights);
  const std::vector<unsigned char> oldMasks = std::move(array_masks);
  Reshape(storedFrom, storedTo - 1, 0);
  for (int t = 0; t < storedTo; ++t)
    for (int f = 0; f < storedFrom; ++f) {
      const std::size_t src = At(t < node ? t : t + 1, storedFrom, f);
      array_weights[At(t, storedFrom, f)] = oldWeights[src];
      array_masks[At(t, storedFrom, f)] = oldMasks[src];
    }
}

void TPrunedConnections::InsertFromNode(int node, double min, double max, bool attached) {
  KARTLO_ASSERT_TEXT(node >= 0 && node <= storedFrom, "node within the stored weights");
  const std::vector<double> oldWeights = std::move(array_weights);
  const std::vector<unsigned char> oldMasks = std::move(array_masks);
  const int oldFrom = storedFrom;
  Reshape(storedFrom + 1, storedTo, 0);
  for (int t = 0; t < storedTo; ++t)
    for (int f = 0; f < oldFrom; ++f) {
      const std::size_t dst = At(t, storedFrom, f < node ? f : f + 1);
      array_weights[dst] = oldWeights[At(t, oldFrom, f)];
      array_masks[dst] = oldMasks[At(t, oldFrom, f)];
    }
  for (int t = 0; t < storedTo; ++t) {
    array_weights[At(t, storedFrom, node)] = attached ? DrawWeight(min, max) : 0.0;
    array_masks[At(t, storedFrom, node)] = attached ? FMaskAll : 0;
  }
}

void TPrunedConnections::InsertToNode(int node, double min, double max, bool attached) {
  KARTLO_ASSERT_TEXT(node >= 0 && node <= storedTo, "node within the stored weights");
  const std::vector<double> oldWeights = std::move(array_weights);
  const std::vector<unsigned char> oldMasks = std::move(array_masks);
  const int oldTo = storedTo;
  Reshape(storedFrom, storedTo + 1, 0);
  for (int t = 0; t < oldTo; ++t)
    for (int f = 0; f < storedFrom; ++f) {
      const std::size_t dst = At(t < node ? t : t + 1, storedFrom, f);
      array_weights[dst] = oldWeights[At(t, storedFrom, f)];
      array_masks[dst] = oldMasks[At(t, storedFrom, f)];
    }
  for (int f = 0; f < storedFrom; ++f) {
    array_weights[At(node, storedFrom, f)] = attached ? DrawWeight(min, max) : 0.0;
    array_masks[At(node, storedFrom, f)] = attached ? FMaskAll : 0;
  }
}

}  // namespace kartlo
