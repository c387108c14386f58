#pragma once

// Checks shared by the network editing tests: completeness of a network (every recorded
// number equal to its position), arc-by-arc snapshots and comparison of two networks.

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TBasicLayer.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TPrunedConnections.h"

namespace kartlo::testing {

/// Every layer, neuron and matrix of `net` records the number of its position, points back at
/// its owner, and every matrix's storage has the shape of its two layers' current counts.
inline void ExpectComplete(TBasicNetwork& net) {
  const int n = net.numLayers;
  const auto un = static_cast<std::size_t>(n);
  ASSERT_EQ(net.layers.size(), un);
  ASSERT_EQ(net.priv_conns.size(), un * un);
  ASSERT_EQ(net.priv_conns_index.size(), un);
  for (int i = 0; i < n; ++i) {
    SCOPED_TRACE("layer " + std::to_string(i));
    TBasicLayer* layer = net.layers[static_cast<std::size_t>(i)].get();
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->network, &net);
    EXPECT_EQ(layer->layerNum, i);
    ASSERT_GE(layer->values.size(), static_cast<std::size_t>(layer->numNeurons));
    for (int p = 0; p < layer->numNeurons; ++p) {
      SCOPED_TRACE("neuron " + std::to_string(p));
      const TBasicNeuron* neuron = layer->GetNeuron(p);
      EXPECT_EQ(neuron->layerNum, i);
      EXPECT_EQ(neuron->index, p);
      EXPECT_EQ(neuron->value, layer->values.data() + p);
      EXPECT_EQ(neuron->layer, layer);
    }
  }
  for (int to = 0; to < n; ++to) {
    EXPECT_EQ(net.priv_conns_index[static_cast<std::size_t>(to)], net.priv_conns.data() + static_cast<std::size_t>(to) * un);
    for (int from = 0; from < n; ++from) {
      SCOPED_TRACE("matrix " + std::to_string(from) + " -> " + std::to_string(to));
      TBasicConnections* matrix = net.priv_conns_index[to][from].get();
      ASSERT_NE(matrix, nullptr);
      EXPECT_EQ(matrix->network, &net);
      EXPECT_EQ(matrix->fromLayer, from);
      EXPECT_EQ(matrix->toLayer, to);
      const auto nFrom = static_cast<std::size_t>(net.layers[static_cast<std::size_t>(from)]->numNeurons);
      const auto nTo = static_cast<std::size_t>(net.layers[static_cast<std::size_t>(to)]->numNeurons);
      if (auto* full = dynamic_cast<TConnectedConnections*>(matrix)) {
        ASSERT_EQ(full->array_weights.size(), nFrom * nTo);
        ASSERT_EQ(full->index_weights.size(), nTo);
        for (std::size_t t = 0; t < nTo; ++t) EXPECT_EQ(full->index_weights[t], full->array_weights.data() + t * nFrom);
      } else if (auto* pruned = dynamic_cast<TPrunedConnections*>(matrix)) {
        ASSERT_EQ(pruned->array_weights.size(), nFrom * nTo);
        ASSERT_EQ(pruned->array_masks.size(), nFrom * nTo);
        ASSERT_EQ(pruned->index_weights.size(), nTo);
        ASSERT_EQ(pruned->index_masks.size(), nTo);
        for (std::size_t t = 0; t < nTo; ++t) {
          EXPECT_EQ(pruned->index_weights[t], pruned->array_weights.data() + t * nFrom);
          EXPECT_EQ(pruned->index_masks[t], pruned->array_masks.data() + t * nFrom);
        }
      } else {
        EXPECT_FALSE(matrix->IsConnected());
      }
    }
  }
}

/// One arc as stored.
struct ArcState {
  double weight;
  unsigned char flags;
  bool operator==(const ArcState&) const = default;
};

/// One matrix: its class, its shape and every stored arc (entry t*nFrom+f).
struct MatrixState {
  std::string type;
  int nFrom = 0;
  int nTo = 0;
  std::vector<ArcState> arcs;
  bool operator==(const MatrixState&) const = default;
};

/// All matrices of a network, entry to*numLayers+from.
struct NetState {
  int numLayers = 0;
  std::vector<MatrixState> matrices;
  const MatrixState& At(int to, int from) const {
    return matrices[static_cast<std::size_t>(to) * static_cast<std::size_t>(numLayers) + static_cast<std::size_t>(from)];
  }
};

inline NetState Snapshot(TBasicNetwork& net) {
  NetState state;
  state.numLayers = net.numLayers;
  for (int to = 0; to < net.numLayers; ++to)
    for (int from = 0; from < net.numLayers; ++from) {
      TBasicConnections& matrix = *net.priv_conns_index[to][from];
      MatrixState m;
      m.type = matrix.GetConnectionsNType();
      if (matrix.IsConnected()) {
        m.nFrom = net.layers[static_cast<std::size_t>(from)]->numNeurons;
        m.nTo = net.layers[static_cast<std::size_t>(to)]->numNeurons;
        for (int t = 0; t < m.nTo; ++t)
          for (int f = 0; f < m.nFrom; ++f) m.arcs.push_back({matrix.GetWeight(f, t), matrix.GetFlags(f, t)});
      }
      state.matrices.push_back(std::move(m));
    }
  return state;
}

/// Every arc of `before` whose layers and neurons survive an edit is found, with its weight and
/// flags, at its new place in `net`, in a matrix of the same class. The maps give the new layer
/// number of an old layer and the new position of an old neuron (-1: removed).
inline void ExpectArcsKept(const NetState& before, TBasicNetwork& net, const std::function<int(int)>& layerMap,
                           const std::function<int(int, int)>& nodeMap) {
  const NetState after = Snapshot(net);
  for (int to = 0; to < before.numLayers; ++to)
    for (int from = 0; from < before.numLayers; ++from) {
      const int newTo = layerMap(to);
      const int newFrom = layerMap(from);
      if (newTo < 0 || newFrom < 0) continue;
      SCOPED_TRACE("old matrix " + std::to_string(from) + " -> " + std::to_string(to));
      const MatrixState& old = before.At(to, from);
      const MatrixState& now = after.At(newTo, newFrom);
      ASSERT_EQ(now.type, old.type);
      for (int t = 0; t < old.nTo; ++t)
        for (int f = 0; f < old.nFrom; ++f) {
          const int nt = nodeMap(to, t);
          const int nf = nodeMap(from, f);
          if (nt < 0 || nf < 0) continue;
          SCOPED_TRACE("old arc " + std::to_string(f) + " -> " + std::to_string(t));
          EXPECT_EQ(now.arcs[static_cast<std::size_t>(nt * now.nFrom + nf)],
                    old.arcs[static_cast<std::size_t>(t * old.nFrom + f)]);
        }
    }
}

/// Same kind, layer shape, neuron functions and parameters, matrix classes, weights and flags.
inline void ExpectSameNetwork(TBasicNetwork& a, TBasicNetwork& b) {
  ASSERT_EQ(a.numLayers, b.numLayers);
  EXPECT_EQ(a.inLayer, b.inLayer);
  EXPECT_EQ(a.outLayer, b.outLayer);
  EXPECT_STREQ(a.GetNetworkNType(), b.GetNetworkNType());
  for (int i = 0; i < a.numLayers; ++i) {
    SCOPED_TRACE("layer " + std::to_string(i));
    TBasicLayer& la = *a.layers[static_cast<std::size_t>(i)];
    TBasicLayer& lb = *b.layers[static_cast<std::size_t>(i)];
    EXPECT_STREQ(la.GetLayerNType(), lb.GetLayerNType());
    ASSERT_EQ(la.numNeurons, lb.numNeurons);
    for (int p = 0; p < la.numNeurons; ++p) {
      EXPECT_EQ(la.GetNeuron(p)->actFunction, lb.GetNeuron(p)->actFunction);
      ASSERT_EQ(la.GetNeuron(p)->GetNumParams(), lb.GetNeuron(p)->GetNumParams());
      std::vector<double> pa(static_cast<std::size_t>(la.GetNeuron(p)->GetNumParams()));
      std::vector<double> pb(pa.size());
      la.GetNeuron(p)->GetParams(pa.data());
      lb.GetNeuron(p)->GetParams(pb.data());
      EXPECT_EQ(pa, pb);
    }
  }
  const NetState sa = Snapshot(a);
  const NetState sb = Snapshot(b);
  for (std::size_t k = 0; k < sa.matrices.size(); ++k) {
    SCOPED_TRACE("matrix entry " + std::to_string(k));
    EXPECT_EQ(sa.matrices[k], sb.matrices[k]);
  }
}

/// A copy made by the copy constructor of the network's own class is complete and equal to `net`.
template <class Network>
void ExpectCopyEqual(Network& net) {
  Network copy(net);
  ExpectComplete(copy);
  ExpectSameNetwork(net, copy);
}

}  // namespace kartlo::testing
