// Structure editing of a network: neurons of hidden layers, pruning, whole layers,
// and the arc walks into and out of one neuron across all matrices.

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "KQmessage/Assert.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TBasicLayer.h"
#include "NeuralNets/TBasicNetwork.h"

namespace kartlo {

namespace {

/// Position in an m x m matrix table of the matrix from `from` to `to`.
std::size_t Entry(int to, int from, int m) {
  return static_cast<std::size_t>(to) * static_cast<std::size_t>(m) + static_cast<std::size_t>(from);
}

/// Gives `layer` number `num` and records it in each of its neurons.
void NumberLayer(TBasicLayer& layer, int num) {
  layer.layerNum = num;
  for (int p = 0; p < layer.numNeurons; ++p) layer.GetNeuron(p)->layerNum = num;
}

}  // namespace

void TBasicNetwork::AddNeuron(int LayerNum, int node, double min, double max, bool attached) {
  KARTLO_ASSERT_TEXT(LayerNum >= 0, "LayerNum>=0");
  KARTLO_ASSERT_TEXT(LayerNum < numLayers, "LayerNum<numLayers");
  KARTLO_ASSERT_TEXT(LayerNum != inLayer, "LayerNum!=inLayer");
  KARTLO_ASSERT_TEXT(LayerNum != outLayer, "LayerNum!=outLayer");
  KARTLO_ASSERT_TEXT(node >= 0, "node>=0");
  KARTLO_ASSERT_TEXT(node <= GetNumNeurons(), "node<=GetNumNeurons()");
  TBasicLayer& layer = *layers[static_cast<std::size_t>(LayerNum)];
  // The network-wide bound lets through positions the layer does not have.
  KARTLO_ASSERT_TEXT(node <= layer.numNeurons, "node<=layers[LayerNum]->numNeurons");

  layer.InsertNeuron(node);
  layer.numNeurons += 1;
  // The matrices read the grown count; the layer's matrix with itself gets its new
  // column before its new row.
  for (int i = 0; i < numLayers; ++i) {
    priv_conns_index[i][LayerNum]->InsertFromNode(node, min, max, attached);
    priv_conns_index[LayerNum][i]->InsertToNode(node, min, max, attached);
  }
}

void TBasicNetwork::RemoveNeuron(int LayerNum, int node) {
  KARTLO_ASSERT_TEXT(LayerNum >= 0, "LayerNum>=0");
  KARTLO_ASSERT_TEXT(LayerNum < numLayers, "LayerNum<numLayers");
  KARTLO_ASSERT_TEXT(LayerNum != inLayer, "LayerNum!=inLayer");
  KARTLO_ASSERT_TEXT(LayerNum != outLayer, "LayerNum!=outLayer");
  KARTLO_ASSERT_TEXT(node >= 0, "node>=0");
  KARTLO_ASSERT_TEXT(node < GetNumNeurons(), "node<GetNumNeurons()");
  TBasicLayer& layer = *layers[static_cast<std::size_t>(LayerNum)];
  KARTLO_ASSERT_TEXT(node < layer.numNeurons, "node<layers[LayerNum]->numNeurons");

  layer.RemoveNeuron(node);
  layer.numNeurons -= 1;
  for (int i = 0; i < numLayers; ++i) {
    priv_conns_index[i][LayerNum]->RemoveFromNode(node);
    priv_conns_index[LayerNum][i]->RemoveToNode(node);
  }
}

int TBasicNetwork::PruneNodes() {
  TIterateObjPruneNode visitor;
  int removed = 0;
  // Downwards in both loops, so the positions still to be visited stay valid;
  // layers above the output layer are never pruned.
  const int top = outLayer - 1 < numLayers - 1 ? outLayer - 1 : numLayers - 1;
  for (int L = top; L >= 0; --L) {
    if (L == inLayer || L == outLayer) continue;
    for (int p = layers[static_cast<std::size_t>(L)]->numNeurons - 1; p >= 0; --p) {
      visitor.count = 0;
      IterateFromNode(visitor, L, p, FMaskExists);
      if (visitor.count == 0) {
        RemoveNeuron(L, p);
        ++removed;
      }
    }
  }
  return removed;
}

void TBasicNetwork::IterateToNode(TIterateObj& visitor, int toLayer, int node, int mask) {
  KARTLO_ASSERT_TEXT(toLayer >= 0 && toLayer < numLayers, "toLayer>=0 && toLayer<numLayers");
  KARTLO_ASSERT_TEXT(node >= 0 && node < layers[static_cast<std::size_t>(toLayer)]->numNeurons,
                     "node>=0 && node<layers[toLayer]->numNeurons");
  for (int from = 0; from < numLayers; ++from) priv_conns_index[toLayer][from]->IterateToNode(visitor, node, mask);
}

void TBasicNetwork::IterateFromNode(TIterateObj& visitor, int fromLayer, int node, int mask) {
  KARTLO_ASSERT_TEXT(fromLayer >= 0 && fromLayer < numLayers, "fromLayer>=0 && fromLayer<numLayers");
  KARTLO_ASSERT_TEXT(node >= 0 && node < layers[static_cast<std::size_t>(fromLayer)]->numNeurons,
                     "node>=0 && node<layers[fromLayer]->numNeurons");
  for (int to = 0; to < numLayers; ++to) priv_conns_index[to][fromLayer]->IterateFromNode(visitor, node, mask);
}

void TBasicNetwork::InsertLayer(int LayerNum, std::unique_ptr<TBasicLayer> layer) {
  KARTLO_ASSERT_TEXT(LayerNum >= 0, "LayerNum>=0");
  KARTLO_ASSERT_TEXT(LayerNum <= numLayers, "LayerNum<=numLayers");
  const int n = numLayers;
  KARTLO_ASSERT_TEXT(priv_conns.size() == Entry(n, 0, n), "priv_conns != NULL");
  KARTLO_ASSERT_TEXT(priv_conns_index.size() == static_cast<std::size_t>(n), "priv_conns_index != NULL");
  KARTLO_ASSERT_TEXT(layer != nullptr, "layer != NULL");

  const int L = LayerNum;
  const int m = n + 1;
  auto shifted = [L](int i) { return i >= L ? i + 1 : i; };

  std::vector<std::unique_ptr<TBasicConnections>> conns(Entry(m, 0, m));
  // The new layer starts unconnected, with an empty matrix to itself.
  for (int i = 0; i < m; ++i) {
    conns[Entry(i, L, m)] = std::make_unique<TEmptyConnections>(this, L, i);
    if (i != L) conns[Entry(L, i, m)] = std::make_unique<TEmptyConnections>(this, i, L);
  }
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) conns[Entry(shifted(i), shifted(j), m)] = std::move(priv_conns[Entry(i, j, n)]);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) {
      TBasicConnections& matrix = *conns[Entry(i, j, m)];
      matrix.toLayer = i;
      matrix.fromLayer = j;
    }

  std::vector<std::unique_ptr<TBasicLayer>> newLayers(static_cast<std::size_t>(m));
  for (int i = 0; i < n; ++i)
    newLayers[static_cast<std::size_t>(shifted(i))] = std::move(layers[static_cast<std::size_t>(i)]);
  layer->network = this;
  newLayers[static_cast<std::size_t>(L)] = std::move(layer);
  for (int i = 0; i < m; ++i) NumberLayer(*newLayers[static_cast<std::size_t>(i)], i);

  if (inLayer >= L) ++inLayer;
  if (outLayer >= L) ++outLayer;

  numLayers = m;
  priv_conns = std::move(conns);
  layers = std::move(newLayers);
  BuildIndex();
}

void TBasicNetwork::RemoveLayer(int LayerNum) {
  KARTLO_ASSERT_TEXT(LayerNum >= 0, "LayerNum>=0");
  KARTLO_ASSERT_TEXT(LayerNum < numLayers, "LayerNum<numLayers");
  KARTLO_ASSERT_TEXT(LayerNum != inLayer, "LayerNum!=inLayer");
  KARTLO_ASSERT_TEXT(LayerNum != outLayer, "LayerNum!=outLayer");
  const int n = numLayers;
  KARTLO_ASSERT_TEXT(priv_conns.size() == Entry(n, 0, n), "priv_conns != NULL");
  KARTLO_ASSERT_TEXT(priv_conns_index.size() == static_cast<std::size_t>(n), "priv_conns_index != NULL");

  const int L = LayerNum;
  for (int i = 0; i < n; ++i) {
    priv_conns[Entry(i, L, n)].reset();
    if (i != L) priv_conns[Entry(L, i, n)].reset();
  }

  const int m = n - 1;
  auto source = [L](int i) { return i >= L ? i + 1 : i; };
  std::vector<std::unique_ptr<TBasicConnections>> conns(Entry(m, 0, m));
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) {
      auto& entry = conns[Entry(i, j, m)];
      entry = std::move(priv_conns[Entry(source(i), source(j), n)]);
      entry->toLayer = i;
      entry->fromLayer = j;
    }

  layers[static_cast<std::size_t>(L)].reset();
  std::vector<std::unique_ptr<TBasicLayer>> newLayers(static_cast<std::size_t>(m));
  for (int i = 0; i < m; ++i) {
    newLayers[static_cast<std::size_t>(i)] = std::move(layers[static_cast<std::size_t>(source(i))]);
    NumberLayer(*newLayers[static_cast<std::size_t>(i)], i);
  }

  if (inLayer >= L) --inLayer;
  if (outLayer >= L) --outLayer;

  numLayers = m;
  priv_conns = std::move(conns);
  layers = std::move(newLayers);
  BuildIndex();
}

}  // namespace kartlo
