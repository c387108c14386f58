#include "NeuralNets/TArcsIterator.h"

#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TConnectedConnections.h"

namespace kartlo {

namespace {

/// Row `toNode` of a fully connected matrix, or nullptr for any other kind.
double* FullRow(TBasicConnections* matrix, int toNode) {
  auto* full = dynamic_cast<TConnectedConnections*>(matrix);
  return full != nullptr ? full->GetRow(toNode) : nullptr;
}

}  // namespace

TArcsIterator::~TArcsIterator() = default;

void TInAllArcsIterator::Init(int, int) {}

void TInAllArcsIterator::Init(const TBasicNeuron& to) { Init(to.layerNum, to.index); }

void TInLayerArcsIterator::Init(int, int, int) {}

void TInLayerArcsIterator::Init(const TBasicNeuron& to) { Init(to.layerNum, to.index, 0); }

// ---- all arcs into one neuron ----

TConnInAllArcsIterator::TConnInAllArcsIterator(TBasicNetwork* network)
    : TInAllArcsIterator(network) {}

void TConnInAllArcsIterator::Init(int toLayer_, int toNode_) {
  toLayer = toLayer_;
  toNode = toNode_;
  toNeuron = network->layers[static_cast<size_t>(toLayer)]->GetNeuron(toNode);
  fromLayer = -1;
  fromNode = -1;
  lastNode = -1;
  matrix = nullptr;
  row = nullptr;
  weight = nullptr;
  edge = Edge::BeforeFirst;
}

TBasicNeuron* TConnInAllArcsIterator::GetFromNeuron() {
  if (matrix == nullptr || fromNode < 0) return nullptr;
  return network->layers[static_cast<size_t>(fromLayer)]->GetNeuron(fromNode);
}

bool TConnInAllArcsIterator::Settle(int from, int step) {
  for (int f = from; f >= 0 && f <= lastNode; f += step) {
    if (row != nullptr) {
      fromNode = f;
      weight = row + f;
      return true;
    }
    if (matrix->IsValid(f, toNode)) {
      fromNode = f;
      weight = &matrix->GetWeight(f, toNode);
      return true;
    }
  }
  return false;
}

bool TConnInAllArcsIterator::SeekLayer(int firstLayer, int step) {
  matrix = nullptr;
  row = nullptr;
  weight = nullptr;
  fromNode = -1;
  for (int L = firstLayer; L >= 0 && L < network->numLayers; L += step) {
    fromLayer = L;
    TBasicConnections* m = network->priv_conns_index[toLayer][L].get();
    if (!m->IsConnected()) continue;
    lastNode = network->layers[static_cast<size_t>(L)]->numNeurons - 1;
    if (lastNode < 0) continue;
    matrix = m;
    row = FullRow(m, toNode);
    if (Settle(step > 0 ? 0 : lastNode, step)) {
      edge = Edge::None;
      return true;
    }
    matrix = nullptr;
    row = nullptr;
  }
  fromNode = -1;
  edge = step > 0 ? Edge::AfterLast : Edge::BeforeFirst;
  return false;
}

bool TConnInAllArcsIterator::Next() {
  if (edge == Edge::AfterLast) return false;
  if (matrix != nullptr && Settle(fromNode + 1, 1)) return true;
  return SeekLayer(edge == Edge::BeforeFirst ? 0 : fromLayer + 1, 1);
}

bool TConnInAllArcsIterator::Prev() {
  if (edge == Edge::BeforeFirst) return false;
  if (matrix != nullptr && Settle(fromNode - 1, -1)) return true;
  return SeekLayer(edge == Edge::AfterLast ? network->numLayers - 1 : fromLayer - 1, -1);
}

// ---- the arcs into one neuron from one layer ----

TConnInLayerArcsIterator::TConnInLayerArcsIterator(TBasicNetwork* network)
    : TInLayerArcsIterator(network) {}

void TConnInLayerArcsIterator::Init(int toLayer_, int toNode_, int fromLayer_) {
  toLayer = toLayer_;
  toNode = toNode_;
  fromLayer = fromLayer_;
  toNeuron = network->layers[static_cast<size_t>(toLayer)]->GetNeuron(toNode);
  TBasicConnections* m = network->priv_conns_index[toLayer][fromLayer].get();
  matrix = m->IsConnected() ? m : nullptr;
  row = matrix != nullptr ? FullRow(matrix, toNode) : nullptr;
  fromNode = -1;
  weight = nullptr;
  lastNode = network->layers[static_cast<size_t>(fromLayer)]->numNeurons - 1;
}

TBasicNeuron* TConnInLayerArcsIterator::GetFromNeuron() {
  if (matrix == nullptr || fromNode < 0) return nullptr;
  return network->layers[static_cast<size_t>(fromLayer)]->GetNeuron(fromNode);
}

bool TConnInLayerArcsIterator::MoveTo(int step) {
  if (matrix == nullptr) return false;
  for (int f = fromNode + step; f >= 0 && f <= lastNode; f += step) {
    if (row != nullptr) {
      fromNode = f;
      weight = row + f;
      return true;
    }
    if (matrix->IsValid(f, toNode)) {
      fromNode = f;
      weight = &matrix->GetWeight(f, toNode);
      return true;
    }
  }
  return false;
}

bool TConnInLayerArcsIterator::Next() { return MoveTo(1); }

bool TConnInLayerArcsIterator::Prev() { return MoveTo(-1); }

}  // namespace kartlo
