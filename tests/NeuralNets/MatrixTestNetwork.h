#pragma once

// Small networks and visitors shared by the connection matrix tests.

#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TBasicLayer.h"
#include "NeuralNets/TBasicNetwork.h"

namespace kartlo::testing {

/// A network with one simple layer of each given size; every pair holds an empty matrix.
inline std::unique_ptr<TBasicNetwork> MakeNetwork(const std::vector<int>& sizes) {
  auto net = std::make_unique<TBasicNetwork>(static_cast<int>(sizes.size()));
  for (std::size_t i = 0; i < sizes.size(); ++i)
    net->layers[i] = std::make_unique<TSimpleLayer>(net.get(), static_cast<int>(i), sizes[i]);
  return net;
}

/// Puts a new matrix of class M for (from, to) into `net` and returns it.
template <class M>
M* Install(TBasicNetwork& net, int from, int to) {
  auto matrix = std::make_unique<M>(&net, from, to);
  M* raw = matrix.get();
  net.priv_conns_index[to][from] = std::move(matrix);
  return raw;
}

/// Inserts a neuron at `node` of layer `layer` the way the network does (layer first, then count).
inline void GrowLayer(TBasicNetwork& net, int layer, int node) {
  net.layers[layer]->InsertNeuron(node);
  net.layers[layer]->numNeurons += 1;
}

/// Removes neuron `node` of layer `layer` the way the network does.
inline void ShrinkLayer(TBasicNetwork& net, int layer, int node) {
  net.layers[layer]->RemoveNeuron(node);
  net.layers[layer]->numNeurons -= 1;
}

/// One visited arc as a visitor saw it.
struct Seen {
  int from;
  int to;
  double weight;
  bool trainable;
  bool operator==(const Seen&) const = default;
};

/// Records every visit in order.
class Recorder : public TIterateObj {
 public:
  void Visit() override { seen.push_back({fromNode, toNode, *weight, trainable}); }
  std::vector<Seen> seen;
};

/// The next `n` values of rand() after srand(seed).
inline std::vector<int> RandSequence(unsigned seed, int n) {
  std::srand(seed);
  std::vector<int> out;
  for (int i = 0; i < n; ++i) out.push_back(std::rand());
  return out;
}

}  // namespace kartlo::testing
