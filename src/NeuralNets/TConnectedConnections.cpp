#include "NeuralNets/TConnectedConnections.h"

#include <algorithm>
#include <cstddef>

#include "KQmessage/Assert.h"
#include "NeuralNets/TBasicLayer.h"
#include "NeuralNets/TBasicNetwork.h"

namespace kartlo {

TConnectedConnections::TConnectedConnections(TBasicNetwork* network, int fromLayer, int toLayer)
    : TBasicConnections(network, fromLayer, toLayer) {
  Reshape(NumFrom(), NumTo());
}

TConnectedConnections::TConnectedConnections(TBasicNetwork* network, int fromLayer, int toLayer,
                                             int)
    : TBasicConnections(network, fromLayer, toLayer) {}

void TConnectedConnections::Reshape(int nFrom, int nTo) {
  storedFrom = nFrom;
  storedTo = nTo;
  array_weights.assign(static_cast<std::size_t>(nFrom) * static_cast<std::size_t>(nTo), 0.0);
  index_weights.resize(static_cast<std::size_t>(nTo));
  for (int t = 0; t < nTo; ++t)
    index_weights[static_cast<std::size_t>(t)] =
        array_weights.data() + static_cast<std::size_t>(t) * static_cast<std::size_t>(nFrom);
}

double* TConnectedConnections::WeightPtr(int fromNode, int toNode) {
  if (fromNode >= 0 && fromNode < storedFrom && toNode >= 0 && toNode < storedTo)
    return index_weights[static_cast<std::size_t>(toNode)] + fromNode;
  scratch = 0.0;
  return &scratch;
}

double* TConnectedConnections::GetRow(int toNode) {
  KARTLO_ASSERT_TEXT(toNode >= 0 && toNode < storedTo && NumFrom() <= storedFrom,
                     "row within the stored weights");
  return index_weights[static_cast<std::size_t>(toNode)];
}

int TConnectedConnections::GetNumWeights(int) { return NumFrom() * NumTo(); }

int TConnectedConnections::GetWeights(double* out, int) {
  const int nFrom = NumFrom();
  const int nTo = NumTo();
  for (int f = 0; f < nFrom; ++f)
    for (int t = 0; t < nTo; ++t) *out++ = *WeightPtr(f, t);
  return nFrom * nTo;
}

int TConnectedConnections::SetWeights(const double* in, int) {
  const int nFrom = NumFrom();
  const int nTo = NumTo();
  for (int f = 0; f < nFrom; ++f)
    for (int t = 0; t < nTo; ++t) *WeightPtr(f, t) = *in++;
  return nFrom * nTo;
}

void TConnectedConnections::Randomize(double min, double max) {
  const int nFrom = std::min(NumFrom(), storedFrom);
  const int nTo = std::min(NumTo(), storedTo);
  for (int t = 0; t < nTo; ++t) {
    double* row = index_weights[static_cast<std::size_t>(t)];
    for (int f = 0; f < nFrom; ++f) row[f] = (min == max) ? min : DrawWeight(min, max);
  }
}

double& TConnectedConnections::GetWeight(int fromNode, int toNode) {
  return *WeightPtr(fromNode, toNode);
}

void TConnectedConnections::Aggregate(double* values) {
  const double* from = network->layers[fromLayer]->values.data();
  const int nFrom = std::min(NumFrom(), storedFrom);
  const int nTo = std::min(NumTo(), storedTo);
  for (int t = 0; t < nTo; ++t) {
    const double* row = index_weights[static_cast<std::size_t>(t)];
    double sum = 0.0;
    for (int f = 0; f < nFrom; ++f) sum = row[f] * from[f] + sum;
    values[t] += sum;
  }
}

bool TConnectedConnections::IsValid(int, int) { return true; }

void TConnectedConnections::AddArc(int, int) {}

void TConnectedConnections::SetTrainable(int, int) {}

void TConnectedConnections::IterateToNode(TIterateObj& visitor, int toNode, int) {
  FillContext(visitor);
  const int nFrom = NumFrom();
  for (int f = 0; f < nFrom; ++f) {
    visitor.fromNode = f;
    visitor.toNode = toNode;
    visitor.weight = WeightPtr(f, toNode);
    visitor.trainable = true;
    visitor.Visit();
  }
}

void TConnectedConnections::IterateFromNode(TIterateObj& visitor, int fromNode, int) {
  FillContext(visitor);
  const int nTo = NumTo();
  for (int t = 0; t < nTo; ++t) {
    visitor.fromNode = fromNode;
    visitor.toNode = t;
    visitor.weight = WeightPtr(fromNode, t);
    visitor.trainable = true;
    visitor.Visit();
  }
}

void TConnectedConnections::Iterate(TIterateObj& visitor, int) {
  FillContext(visitor);
  const int nFrom = NumFrom();
  const int nTo = NumTo();
  for (int t = 0; t < nTo; ++t)
    for (int f = 0; f < nFrom; ++f) {
      visitor.fromNode = f;
      visitor.toNode = t;
      visitor.weight = WeightPtr(f, t);
      visitor.trainable = true;
      visitor.Visit();
    }
}

void TConnectedConnections::Iterate2(TIterateObj2& visitor, TBasicNetwork* second, int) {
  FillContext2(visitor, second);
  const int nFrom = NumFrom();
  const int nTo = NumTo();
  for (int t = 0; t < nTo; ++t)
    for (int f = 0; f < nFrom; ++f) {
      visitor.fromNode = f;
      visitor.toNode = t;
      visitor.weight1 = WeightPtr(f, t);
      visitor.weight2 = &visitor.conn2->GetWeight(f, t);
      visitor.trainable = true;
      visitor.Visit();
    }
}

void TConnectedConnections::Iterate3(TIterateObj3& visitor, TBasicNetwork* second,
                                     TBasicNetwork* third, int) {
  FillContext3(visitor, second, third);
  const int nFrom = NumFrom();
  const int nTo = NumTo();
  for (int t = 0; t < nTo; ++t)
    for (int f = 0; f < nFrom; ++f) {
      visitor.fromNode = f;
      visitor.toNode = t;
      visitor.weight1 = WeightPtr(f, t);
      visitor.weight2 = &visitor.conn2->GetWeight(f, t);
      visitor.weight3 = &visitor.conn3->GetWeight(f, t);
      visitor.trainable = true;
      visitor.Visit();
    }
}

const char* TConnectedConnections::GetConnectionsNType() { return "FullyConnected"; }

std::unique_ptr<TBasicConnections> TConnectedConnections::Clone(TBasicNetwork* owner) {
  // The copy takes this block's shape; `owner` may not hold its layers yet.
  std::unique_ptr<TConnectedConnections> x(new TConnectedConnections(owner, fromLayer, toLayer, 0));
  x->Reshape(storedFrom, storedTo);
  x->array_weights = array_weights;
  return x;
}

void TConnectedConnections::RemoveFromNode(int node) {
  KARTLO_ASSERT_TEXT(node >= 0 && node < storedFrom, "node within the stored weights");
  const std::vector<double> old = std::move(array_weights);
  const int oldFrom = storedFrom;
  Reshape(storedFrom - 1, storedTo);
  for (int t = 0; t < storedTo; ++t)
    for (int f = 0; f < storedFrom; ++f)
      index_weights[static_cast<std::size_t>(t)][f] =
          old[static_cast<std::size_t>(t) * static_cast<std::size_t>(oldFrom) +
              static_cast<std::size_t>(f < node ? f : f + 1)];
}

void TConnectedConnections::RemoveToNode(int node) {
  KARTLO_ASSERT_TEXT(node >= 0 && node < storedTo, "node within the stored weights");
  const std::vector<double> old = std::move(array_weights);
  Reshape(storedFrom, storedTo - 1);
  for (int t = 0; t < storedTo; ++t) {
    const std::size_t src = static_cast<std::size_t>(t < node ? t : t + 1);
    std::copy_n(old.begin() + static_cast<std::ptrdiff_t>(src * static_cast<std::size_t>(storedFrom)),
                storedFrom, index_weights[static_cast<std::size_t>(t)]);
  }
}

void TConnectedConnections::InsertFromNode(int node, double min, double max, bool attached) {
  KARTLO_ASSERT(attached);
  KARTLO_ASSERT_TEXT(node >= 0 && node <= storedFrom, "node within the stored weights");
  const std::vector<double> old = std::move(array_weights);
  const int oldFrom = storedFrom;
  Reshape(storedFrom + 1, storedTo);
  for (int t = 0; t < storedTo; ++t)
    for (int f = 0; f < oldFrom; ++f)
      index_weights[static_cast<std::size_t>(t)][f < node ? f : f + 1] =
          old[static_cast<std::size_t>(t) * static_cast<std::size_t>(oldFrom) +
              static_cast<std::size_t>(f)];
  for (int t = 0; t < storedTo; ++t)
    index_weights[static_cast<std::size_t>(t)][node] = DrawWeight(min, max);
}

void TConnectedConnections::InsertToNode(int node, double min, double max, bool attached) {
  KARTLO_ASSERT(attached);
  KARTLO_ASSERT_TEXT(node >= 0 && node <= storedTo, "node within the stored weights");
  const std::vector<double> old = std::move(array_weights);
  const int oldTo = storedTo;
  Reshape(storedFrom, storedTo + 1);
  for (int t = 0; t < oldTo; ++t) {
    const std::size_t dst = static_cast<std::size_t>(t < node ? t : t + 1);
    std::copy_n(old.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(t) *
                                                           static_cast<std::size_t>(storedFrom)),
                storedFrom, index_weights[dst]);
  }
  for (int f = 0; f < storedFrom; ++f)
    index_weights[static_cast<std::size_t>(node)][f] = DrawWeight(min, max);
}

}  // namespace kartlo
