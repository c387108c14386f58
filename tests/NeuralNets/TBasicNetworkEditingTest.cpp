#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/NetworkEditingCheck.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TBasicLayer.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TConnectedNetwork.h"

namespace kartlo {
namespace {

using testing::ArcState;
using testing::ExpectArcsKept;
using testing::ExpectComplete;
using testing::ExpectCopyEqual;
using testing::NetState;
using testing::Snapshot;

/// A weight that tells where it was put.
double W(int from, int to, int f, int t) { return from * 1000 + to * 100 + f * 10 + t + 0.5; }

/// Layers of the given sizes, a TSimpleInputLayer at `in`; each layer gets `fns[i]`.
/// The pairs are joined with pruneable matrices whose every arc carries W.
std::unique_ptr<TBasicNetwork> MakeNet(const std::vector<int>& sizes, int in, int out,
                                       const std::vector<TActFunction>& fns,
                                       const std::vector<std::pair<int, int>>& joined) {
  const int n = static_cast<int>(sizes.size());
  auto net = std::make_unique<TBasicNetwork>(n);
  net->inLayer = in;
  net->outLayer = out;
  for (int i = 0; i < n; ++i) {
    auto& slot = net->layers[static_cast<std::size_t>(i)];
    if (i == in)
      slot = std::make_unique<TSimpleInputLayer>(net.get(), i, sizes[static_cast<std::size_t>(i)]);
    else
      slot = std::make_unique<TSimpleLayer>(net.get(), i, sizes[static_cast<std::size_t>(i)]);
    slot->SetActFunction(fns[static_cast<std::size_t>(i)]);
  }
  for (auto [from, to] : joined) {
    net->Connect(from, to);
    TBasicConnections& m = *net->priv_conns_index[to][from];
    for (int t = 0; t < sizes[static_cast<std::size_t>(to)]; ++t)
      for (int f = 0; f < sizes[static_cast<std::size_t>(from)]; ++f) m.GetWeight(f, t) = W(from, to, f, t);
  }
  return net;
}

/// Bias layer 0 (1 neuron), input 1 (2), hidden 2 (3), output 3 (2). Layer 2 is joined to
/// every layer in both directions where a matrix is meaningful, itself included; one arc is
/// absent and two are fixed.
std::unique_ptr<TBasicNetwork> MakeFourLayerNet() {
  auto net = MakeNet({1, 2, 3, 2}, 1, 3, {&ActFnBias, &ActFnLinear, &ActFnSigmoid, &ActFnLinear},
                     {{0, 2}, {1, 2}, {2, 2}, {3, 2}, {2, 3}, {0, 3}, {2, 1}});
  net->priv_conns_index[2][1]->PruneArc(1, 1);
  net->priv_conns_index[3][2]->PruneArc(0, 1);
  net->priv_conns_index[2][0]->SetUntrainable(0, 2);
  net->priv_conns_index[2][2]->SetUntrainable(2, 1);
  return net;
}

/// Hidden layer 0 (3) below input 1 (2), hidden 2 (4) and 3 (5), output 4 (2).
std::unique_ptr<TBasicNetwork> MakeFiveLayerNet() {
  auto net = MakeNet({3, 2, 4, 5, 2}, 1, 4,
                     {&ActFnLinear, &ActFnLinear, &ActFnTanh, &ActFnSigmoid, &ActFnLinear},
                     {{0, 2}, {1, 2}, {2, 3}, {3, 4}, {0, 4}, {2, 2}, {3, 2}, {1, 3}, {0, 0}});
  net->priv_conns_index[3][2]->PruneArc(1, 4);
  net->priv_conns_index[4][3]->SetUntrainable(2, 0);
  return net;
}

/// "Assertion failed: <text>, file" with the regex characters of `text` escaped.
std::string AssertionRegex(const std::string& text) {
  std::string out = "Assertion failed: ";
  for (char c : text) {
    if (std::string("()[]{}.*+?^$|\\").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out + ", file";
}

std::vector<double> RecallOf(TBasicNetwork& net, const std::vector<double>& input) {
  std::vector<double> out(static_cast<std::size_t>(net.layers[static_cast<std::size_t>(net.outLayer)]->numNeurons));
  const int k = net.Recall(input.data(), out.data());
  out.resize(static_cast<std::size_t>(k));
  return out;
}

/// Number of existing arcs of `state` with the given end in layer `layer` at position `node`
/// (node -1: any position), counted over the matrices into and out of that layer.
int ArcsTouching(const NetState& state, int layer, int node) {
  int count = 0;
  for (int to = 0; to < state.numLayers; ++to)
    for (int from = 0; from < state.numLayers; ++from) {
      if (to != layer && from != layer) continue;
      const auto& m = state.At(to, from);
      for (int t = 0; t < m.nTo; ++t)
        for (int f = 0; f < m.nFrom; ++f) {
          const bool touches = node < 0 || (to == layer && t == node) || (from == layer && f == node);
          if (touches && (m.arcs[static_cast<std::size_t>(t * m.nFrom + f)].flags & FMaskExists)) ++count;
        }
    }
  return count;
}

// ---- refused arguments ----

struct DeathCase {
  const char* name;
  std::function<void(TBasicNetwork&)> edit;
  const char* text;
};

TEST(NetworkEditingDeathTest, RefusedArgumentsStopWithTheCheckedExpression) {
  // Four layers, 8 neurons in all; the hidden layer 2 has 3, layer 0 has 1.
  const std::vector<DeathCase> cases = {
      {"add: negative layer", [](TBasicNetwork& n) { n.AddNeuron(-1, 0, -1, 1, true); }, "LayerNum>=0"},
      {"add: layer past the end", [](TBasicNetwork& n) { n.AddNeuron(4, 0, -1, 1, true); }, "LayerNum<numLayers"},
      {"add: input layer", [](TBasicNetwork& n) { n.AddNeuron(1, 0, -1, 1, true); }, "LayerNum!=inLayer"},
      {"add: output layer", [](TBasicNetwork& n) { n.AddNeuron(3, 0, -1, 1, true); }, "LayerNum!=outLayer"},
      {"add: layer checked before node", [](TBasicNetwork& n) { n.AddNeuron(1, -1, -1, 1, true); }, "LayerNum!=inLayer"},
      {"add: negative node", [](TBasicNetwork& n) { n.AddNeuron(2, -1, -1, 1, true); }, "node>=0"},
      {"add: node past the network", [](TBasicNetwork& n) { n.AddNeuron(2, 9, -1, 1, true); }, "node<=GetNumNeurons()"},
      {"add: node past the layer", [](TBasicNetwork& n) { n.AddNeuron(2, 4, -1, 1, true); },
       "node<=layers[LayerNum]->numNeurons"},
      {"add: node past a small layer", [](TBasicNetwork& n) { n.AddNeuron(0, 2, -1, 1, true); },
       "node<=layers[LayerNum]->numNeurons"},
      {"remove: negative layer", [](TBasicNetwork& n) { n.RemoveNeuron(-1, 0); }, "LayerNum>=0"},
      {"remove: layer past the end", [](TBasicNetwork& n) { n.RemoveNeuron(4, 0); }, "LayerNum<numLayers"},
      {"remove: input layer", [](TBasicNetwork& n) { n.RemoveNeuron(1, 0); }, "LayerNum!=inLayer"},
      {"remove: output layer", [](TBasicNetwork& n) { n.RemoveNeuron(3, 0); }, "LayerNum!=outLayer"},
      {"remove: negative node", [](TBasicNetwork& n) { n.RemoveNeuron(2, -1); }, "node>=0"},
      {"remove: node past the network", [](TBasicNetwork& n) { n.RemoveNeuron(2, 8); }, "node<GetNumNeurons()"},
      {"remove: node past the layer", [](TBasicNetwork& n) { n.RemoveNeuron(2, 3); },
       "node<layers[LayerNum]->numNeurons"},
      {"remove layer: negative", [](TBasicNetwork& n) { n.RemoveLayer(-1); }, "LayerNum>=0"},
      {"remove layer: past the end", [](TBasicNetwork& n) { n.RemoveLayer(4); }, "LayerNum<numLayers"},
      {"remove layer: input layer", [](TBasicNetwork& n) { n.RemoveLayer(1); }, "LayerNum!=inLayer"},
      {"remove layer: output layer", [](TBasicNetwork& n) { n.RemoveLayer(3); }, "LayerNum!=outLayer"},
      {"insert layer: negative",
       [](TBasicNetwork& n) { n.InsertLayer(-1, std::make_unique<TSimpleLayer>(&n, 0, 1)); }, "LayerNum>=0"},
      {"insert layer: past the end",
       [](TBasicNetwork& n) { n.InsertLayer(5, std::make_unique<TSimpleLayer>(&n, 0, 1)); }, "LayerNum<=numLayers"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto net = MakeFourLayerNet();
    EXPECT_DEATH(c.edit(*net), AssertionRegex(c.text));
  }
}

// ---- AddNeuron ----

TEST(NetworkEditingTest, AddNeuronGrowsEveryMatrixIntoAndOutOfTheLayer) {
  struct Case {
    int node;
    bool attached;
  };
  const double min = 0.25, max = 0.5;
  for (const Case c : {Case{0, true}, Case{1, false}, Case{3, true}, Case{3, false}}) {
    SCOPED_TRACE("node " + std::to_string(c.node) + (c.attached ? " attached" : " unattached"));
    auto net = MakeFourLayerNet();
    const NetState before = Snapshot(*net);
    const int weightsBefore = net->GetNumWeights(FMaskExists);

    net->AddNeuron(2, c.node, min, max, c.attached);

    ASSERT_EQ(net->layers[2]->numNeurons, 4);
    EXPECT_EQ(net->GetNumNeurons(), 9);
    ExpectComplete(*net);
    EXPECT_EQ(net->layers[2]->GetNeuron(c.node)->actFunction, &ActFnSigmoid);
    ExpectArcsKept(before, *net, [](int l) { return l; },
                   [&](int l, int p) { return l == 2 && p >= c.node ? p + 1 : p; });

    // New arcs: 1 into layer 2 from layer 0, 2 from layer 1, 2 from layer 3, 7 in the 4x4
    // matrix of layer 2 with itself, and 2 each out to layers 1 and 3.
    EXPECT_EQ(net->GetNumWeights(FMaskExists), weightsBefore + (c.attached ? 16 : 0));
    const NetState after = Snapshot(*net);
    int newArcs = 0;
    for (int to = 0; to < 4; ++to)
      for (int from = 0; from < 4; ++from) {
        if (to != 2 && from != 2) continue;
        const auto& m = after.At(to, from);
        for (int t = 0; t < m.nTo; ++t)
          for (int f = 0; f < m.nFrom; ++f) {
            if (!((to == 2 && t == c.node) || (from == 2 && f == c.node))) continue;
            SCOPED_TRACE("new arc " + std::to_string(from) + ":" + std::to_string(f) + " -> " +
                         std::to_string(to) + ":" + std::to_string(t));
            ++newArcs;
            const ArcState arc = m.arcs[static_cast<std::size_t>(t * m.nFrom + f)];
            if (c.attached) {
              EXPECT_EQ(arc.flags, FMaskAll);
              EXPECT_GE(arc.weight, min);
              EXPECT_LT(arc.weight, max);
            } else {
              EXPECT_EQ(arc.flags, 0);
              EXPECT_EQ(arc.weight, 0.0);
            }
          }
      }
    EXPECT_EQ(newArcs, 16);
    ExpectCopyEqual(*net);
  }
}

TEST(NetworkEditingTest, AddNeuronDrawsMatrixByMatrixFromSideFirst) {
  auto net = MakeFourLayerNet();
  const unsigned seed = 11;
  std::srand(seed);
  std::vector<int> draws;
  for (int i = 0; i < 16; ++i) draws.push_back(std::rand());
  const int next = std::rand();
  std::srand(seed);
  net->AddNeuron(2, 1, -1.0, 1.0, true);

  // (from layer, to layer, from node, to node) of each new arc in draw order: for i = 0..3 the
  // matrix out of layer 2 into layer i, then the one from layer i into layer 2. The matrix of
  // layer 2 with itself first gets its new column (old rows 0, 1, 2 are now 0, 2, 3), then its
  // new row.
  const std::vector<std::tuple<int, int, int, int>> order = {
      {0, 2, 0, 1},                                              // 0 -> 2, new row
      {2, 1, 1, 0}, {2, 1, 1, 1},                                // 2 -> 1, new column
      {1, 2, 0, 1}, {1, 2, 1, 1},                                // 1 -> 2, new row
      {2, 2, 1, 0}, {2, 2, 1, 2}, {2, 2, 1, 3},                  // 2 -> 2, new column
      {2, 2, 0, 1}, {2, 2, 1, 1}, {2, 2, 2, 1}, {2, 2, 3, 1},    // 2 -> 2, new row
      {2, 3, 1, 0}, {2, 3, 1, 1},                                // 2 -> 3, new column
      {3, 2, 0, 1}, {3, 2, 1, 1},                                // 3 -> 2, new row
  };
  ASSERT_EQ(order.size(), draws.size());
  for (std::size_t k = 0; k < order.size(); ++k) {
    const auto [from, to, f, t] = order[k];
    SCOPED_TRACE("draw " + std::to_string(k));
    EXPECT_EQ(net->priv_conns_index[to][from]->GetWeight(f, t), WeightFromDraw(draws[k], -1.0, 1.0));
  }
  // Exactly one draw per new arc: the generator is at the 17th value now.
  EXPECT_EQ(std::rand(), next);
}

TEST(NetworkEditingTest, AddNeuronFollowsFullyConnectedMatrices) {
  // Input 1 (2), hidden 2 (3), output 3 (2); layer 0 stays unjoined.
  const int sizes[] = {1, 2, 3, 2};
  TConnectedNetwork net(4, sizes);
  for (auto [from, to] : {std::pair{1, 2}, std::pair{2, 3}, std::pair{2, 2}}) {
    net.Connect(from, to);
    for (int t = 0; t < sizes[to]; ++t)
      for (int f = 0; f < sizes[from]; ++f) net.priv_conns_index[to][from]->GetWeight(f, t) = W(from, to, f, t);
  }
  const NetState before = Snapshot(net);
  net.AddNeuron(2, 3, -1.0, 1.0, true);
  ExpectComplete(net);
  ExpectArcsKept(before, net, [](int l) { return l; }, [](int, int p) { return p; });
  EXPECT_EQ(net.GetNumWeights(FMaskAll), 2 * 4 + 4 * 2 + 4 * 4);
  for (int f = 0; f < 2; ++f) {
    const double w = net.priv_conns_index[2][1]->GetWeight(f, 3);
    EXPECT_GE(w, -1.0);
    EXPECT_LT(w, 1.0);
  }
  ExpectCopyEqual(net);
  EXPECT_STREQ(TConnectedNetwork(net).GetNetworkNType(), "Connected");

  // A fully connected matrix cannot hold a neuron without arcs.
  EXPECT_DEATH(net.AddNeuron(2, 0, -1.0, 1.0, false), AssertionRegex("attached"));
}

// ---- RemoveNeuron ----

TEST(NetworkEditingTest, RemoveNeuronKeepsTheOtherArcsInPlace) {
  for (int node : {0, 1, 2}) {
    SCOPED_TRACE("node " + std::to_string(node));
    auto net = MakeFourLayerNet();
    const NetState before = Snapshot(*net);
    const int weightsBefore = net->GetNumWeights(FMaskExists);
    const int dropped = ArcsTouching(before, 2, node);

    net->RemoveNeuron(2, node);

    EXPECT_EQ(net->layers[2]->numNeurons, 2);
    EXPECT_EQ(net->GetNumNeurons(), 7);
    ExpectComplete(*net);
    ExpectArcsKept(before, *net, [](int l) { return l; }, [&](int l, int p) {
      if (l != 2 || p < node) return p;
      return p == node ? -1 : p - 1;
    });
    EXPECT_EQ(net->GetNumWeights(FMaskExists), weightsBefore - dropped);
    ExpectCopyEqual(*net);
  }
}

TEST(NetworkEditingTest, LayerEmptiedAndRefilled) {
  auto net = MakeFourLayerNet();
  const NetState before = Snapshot(*net);
  const int others = net->GetNumWeights(FMaskExists) - ArcsTouching(before, 2, -1);
  for (int p = 2; p >= 0; --p) net->RemoveNeuron(2, p);
  EXPECT_EQ(net->layers[2]->numNeurons, 0);
  ExpectComplete(*net);
  EXPECT_EQ(net->GetNumWeights(FMaskExists), others);

  net->AddNeuron(2, 0, 0.5, 0.5, true);
  ExpectComplete(*net);
  // Its arcs: 1 from layer 0, 2 from layer 1, 2 from layer 3, 1 to itself, 2 to layers 1 and 3 each.
  EXPECT_EQ(net->GetNumWeights(FMaskExists), others + 10);
  EXPECT_EQ(net->priv_conns_index[2][2]->GetWeight(0, 0), 0.5);
  ExpectCopyEqual(*net);
}

// ---- PruneNodes ----

TEST(NetworkEditingTest, PruneNodesRemovesHiddenNeuronsWithoutOutgoingArcs) {
  // Hidden 0 (2), input 1 (2), hidden 2 (4), output 3 (1), layer 4 above the output (2).
  auto net = MakeNet({2, 2, 4, 1, 2}, 1, 3, {&ActFnLinear, &ActFnLinear, &ActFnSigmoid, &ActFnLinear, &ActFnLinear},
                     {{0, 2}, {1, 2}, {2, 3}, {2, 1}, {3, 4}});
  // Neuron 1 of layer 0 leads only into neuron 3 of layer 2.
  for (int t : {0, 1, 2}) net->priv_conns_index[2][0]->PruneArc(1, t);
  // In layer 2 only neuron 2 (by a fixed arc) leads to the output; neuron 0 leads down to layer 1.
  for (int f : {0, 1, 3}) net->priv_conns_index[3][2]->PruneArc(f, 0);
  net->priv_conns_index[3][2]->SetUntrainable(2, 0);
  for (int f : {1, 2, 3})
    for (int t : {0, 1}) net->priv_conns_index[1][2]->PruneArc(f, t);
  net->priv_conns_index[1][2]->PruneArc(0, 1);
  const NetState before = Snapshot(*net);

  // Layer 2 loses neurons 3 and 1; then neuron 1 of layer 0 has lost its only arc.
  EXPECT_EQ(net->PruneNodes(), 3);

  EXPECT_EQ(net->layers[0]->numNeurons, 1);
  EXPECT_EQ(net->layers[1]->numNeurons, 2);
  EXPECT_EQ(net->layers[2]->numNeurons, 2);
  EXPECT_EQ(net->layers[3]->numNeurons, 1);
  EXPECT_EQ(net->layers[4]->numNeurons, 2);  // no outgoing arcs, but above the output layer
  ExpectComplete(*net);
  ExpectArcsKept(before, *net, [](int l) { return l; }, [](int l, int p) {
    if (l == 0) return p == 0 ? 0 : -1;
    if (l == 2) return p == 0 ? 0 : p == 2 ? 1 : -1;
    return p;
  });
  EXPECT_EQ(net->priv_conns_index[3][2]->GetWeight(1, 0), W(2, 3, 2, 0));
  EXPECT_EQ(net->priv_conns_index[3][2]->GetFlags(1, 0), FMaskExists);
  ExpectCopyEqual(*net);

  // Every hidden neuron left has an outgoing arc.
  EXPECT_EQ(net->PruneNodes(), 0);
}

TEST(NetworkEditingTest, PruneNodesChangesNothingWhenEveryHiddenNeuronLeadsOn) {
  auto net = MakeFiveLayerNet();
  // Layer 0 leads on through layers 2 and 4 (and to itself).
  TBasicNetwork before(*net);
  EXPECT_EQ(net->PruneNodes(), 0);
  ExpectComplete(*net);
  testing::ExpectSameNetwork(*net, before);
}

TEST(NetworkEditingTest, PruneNodesKeepsANeuronWhoseOnlyArcLeadsToItself) {
  auto net = MakeNet({2, 1, 2}, 0, 2, {&ActFnLinear, &ActFnLinear, &ActFnLinear}, {{0, 1}, {1, 1}});
  EXPECT_EQ(net->PruneNodes(), 0);
  net->Disconnect(1, 1);
  EXPECT_EQ(net->PruneNodes(), 1);
  EXPECT_EQ(net->layers[1]->numNeurons, 0);
  ExpectComplete(*net);
}

// ---- arc walks across matrices ----

/// Records (from layer, to layer, from node, to node, weight, trainable) of every visit.
class WalkRecorder : public TIterateObj {
 public:
  void Visit() override { seen.emplace_back(fromLayer, toLayer, fromNode, toNode, *weight, trainable); }
  std::vector<std::tuple<int, int, int, int, double, bool>> seen;
};

TEST(NetworkEditingTest, IterateToNodeWalksMatricesByFromLayer) {
  auto net = MakeFourLayerNet();
  using Visit = std::tuple<int, int, int, int, double, bool>;
  auto v = [](int from, int f, bool trainable) { return Visit{from, 2, f, 1, W(from, 2, f, 1), trainable}; };
  // Into neuron 1 of layer 2: from layer 0, layer 1 (arc 1 -> 1 absent), itself (arc 2 -> 1
  // fixed), layer 3 (downwards).
  WalkRecorder all;
  net->IterateToNode(all, 2, 1, FMaskExists);
  EXPECT_EQ(all.seen, (std::vector<Visit>{v(0, 0, true), v(1, 0, true), v(2, 0, true), v(2, 1, true),
                                          v(2, 2, false), v(3, 0, true), v(3, 1, true)}));
  WalkRecorder trainable;
  net->IterateToNode(trainable, 2, 1, FMaskAll);
  EXPECT_EQ(trainable.seen, (std::vector<Visit>{v(0, 0, true), v(1, 0, true), v(2, 0, true), v(2, 1, true),
                                                v(3, 0, true), v(3, 1, true)}));
}

TEST(NetworkEditingTest, IterateFromNodeWalksMatricesByToLayer) {
  auto net = MakeFourLayerNet();
  using Visit = std::tuple<int, int, int, int, double, bool>;
  auto v = [](int to, int t, bool trainable) { return Visit{2, to, 0, t, W(2, to, 0, t), trainable}; };
  // Out of neuron 0 of layer 2: to layer 1 (downwards), itself, layer 3 (arc 0 -> 1 absent).
  WalkRecorder all;
  net->IterateFromNode(all, 2, 0, FMaskExists);
  EXPECT_EQ(all.seen, (std::vector<Visit>{v(1, 0, true), v(1, 1, true), v(2, 0, true), v(2, 1, true),
                                          v(2, 2, true), v(3, 0, true)}));
  // Neuron 2 of layer 2 has the fixed arc 2 -> 1 to itself; only mask 1 sees it.
  WalkRecorder fixedAll, fixedTrainable;
  net->IterateFromNode(fixedAll, 2, 2, FMaskExists);
  net->IterateFromNode(fixedTrainable, 2, 2, FMaskAll);
  EXPECT_EQ(fixedAll.seen.size(), 7u);
  EXPECT_EQ(fixedTrainable.seen.size(), 6u);
}

// ---- InsertLayer ----

TEST(NetworkEditingTest, InsertLayerShiftsLaterLayersAndStartsUnconnected) {
  struct Case {
    int at;
    int inLayer;
    int outLayer;
  };
  const std::vector<double> input = {0.3, -0.7};
  for (const Case c : {Case{0, 2, 4}, Case{1, 2, 4}, Case{2, 1, 4}, Case{3, 1, 4}, Case{4, 1, 3}}) {
    SCOPED_TRACE("insert at " + std::to_string(c.at));
    auto net = MakeFourLayerNet();
    const NetState before = Snapshot(*net);
    const std::vector<double> recalled = RecallOf(*net, input);
    const int weights = net->GetNumWeights(FMaskExists);

    auto layer = std::make_unique<TSimpleLayer>(net.get(), 77, 5);
    layer->SetActFunction(&ActFnLinear);
    TBasicLayer* inserted = layer.get();
    net->InsertLayer(c.at, std::move(layer));

    ASSERT_EQ(net->numLayers, 5);
    EXPECT_EQ(net->inLayer, c.inLayer);
    EXPECT_EQ(net->outLayer, c.outLayer);
    EXPECT_EQ(net->layers[static_cast<std::size_t>(c.at)].get(), inserted);
    ExpectComplete(*net);
    std::vector<int> sizes;
    for (const auto& l : net->layers) sizes.push_back(l->numNeurons);
    std::vector<int> expected = {1, 2, 3, 2};
    expected.insert(expected.begin() + c.at, 5);
    EXPECT_EQ(sizes, expected);
    for (int i = 0; i < 5; ++i) {
      EXPECT_FALSE(net->priv_conns_index[i][c.at]->IsConnected());
      EXPECT_FALSE(net->priv_conns_index[c.at][i]->IsConnected());
    }
    auto shifted = [&](int l) { return l >= c.at ? l + 1 : l; };
    ExpectArcsKept(before, *net, shifted, [](int, int p) { return p; });
    EXPECT_EQ(net->GetNumWeights(FMaskExists), weights);
    EXPECT_EQ(RecallOf(*net, input), recalled);
    ExpectCopyEqual(*net);

    // The renumbered matrices follow a later edit of the shifted hidden layer.
    net->AddNeuron(shifted(2), 0, -1.0, 1.0, true);
    ExpectComplete(*net);
  }
}

TEST(NetworkEditingTest, InsertLayerIntoANetworkWithoutLayers) {
  TBasicNetwork net(0);
  net.InsertLayer(0, std::make_unique<TSimpleLayer>(&net, 0, 2));
  EXPECT_EQ(net.numLayers, 1);
  // Only numbers at or above the new position move: inLayer 1 becomes 2, outLayer -1 stays.
  EXPECT_EQ(net.inLayer, 2);
  EXPECT_EQ(net.outLayer, -1);
  ExpectComplete(net);
}

// ---- RemoveLayer ----

TEST(NetworkEditingTest, RemoveLayerDropsItsMatricesAndRenumbersTheRest) {
  struct Case {
    int removed;
    int inLayer;
    int outLayer;
  };
  for (const Case c : {Case{0, 0, 3}, Case{2, 1, 3}, Case{3, 1, 3}}) {
    SCOPED_TRACE("remove " + std::to_string(c.removed));
    auto net = MakeFiveLayerNet();
    const NetState before = Snapshot(*net);
    const int weights = net->GetNumWeights(FMaskExists);

    net->RemoveLayer(c.removed);

    ASSERT_EQ(net->numLayers, 4);
    EXPECT_EQ(net->inLayer, c.inLayer);
    EXPECT_EQ(net->outLayer, c.outLayer);
    ExpectComplete(*net);
    std::vector<int> sizes;
    for (const auto& l : net->layers) sizes.push_back(l->numNeurons);
    std::vector<int> expected = {3, 2, 4, 5, 2};
    expected.erase(expected.begin() + c.removed);
    EXPECT_EQ(sizes, expected);
    auto layerMap = [&](int l) { return l == c.removed ? -1 : l > c.removed ? l - 1 : l; };
    ExpectArcsKept(before, *net, layerMap, [](int, int p) { return p; });
    EXPECT_EQ(net->GetNumWeights(FMaskExists), weights - ArcsTouching(before, c.removed, -1));
    ExpectCopyEqual(*net);

    // The renumbered matrices follow a later edit of a remaining hidden layer.
    const int hidden = c.removed == 2 ? 2 : layerMap(2);
    net->AddNeuron(hidden, 0, -1.0, 1.0, true);
    ExpectComplete(*net);
  }
}

TEST(NetworkEditingTest, InsertedLayerCanBeJoinedAndRemovedAgain) {
  auto net = MakeFourLayerNet();
  const NetState before = Snapshot(*net);
  net->InsertLayer(3, std::make_unique<TSimpleLayer>(net.get(), 3, 4));
  net->Connect(2, 3);
  net->Connect(3, 4);
  net->Randomize(-1.0, 1.0);
  EXPECT_EQ(net->priv_conns_index[3][2]->GetNumWeights(FMaskExists), 12);
  ExpectComplete(*net);
  ExpectCopyEqual(*net);

  net->RemoveLayer(3);
  ExpectComplete(*net);
  EXPECT_EQ(net->numLayers, 4);
  EXPECT_EQ(net->outLayer, 3);
  // Randomize replaced the trainable weights; the shape and the fixed weights are back.
  const NetState after = Snapshot(*net);
  for (int k = 0; k < 16; ++k) {
    ASSERT_EQ(after.matrices[static_cast<std::size_t>(k)].type, before.matrices[static_cast<std::size_t>(k)].type);
    ASSERT_EQ(after.matrices[static_cast<std::size_t>(k)].arcs.size(), before.matrices[static_cast<std::size_t>(k)].arcs.size());
  }
  EXPECT_EQ(net->priv_conns_index[2][2]->GetWeight(2, 1), W(2, 2, 2, 1));
}

}  // namespace
}  // namespace kartlo
