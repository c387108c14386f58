#include "NeuralNets/TArcsIterator.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TConnectedNetwork.h"
#include "NeuralNets/TPrunedConnections.h"

namespace kartlo {
namespace {

using Arc = std::pair<int, int>;  // (fromLayer, fromNode)

/// Checks that every accessor agrees with the current arc into (toLayer, toNode).
void ExpectAtArc(TArcsIterator& it, TBasicNetwork& net, int toLayer, int toNode) {
  const int fl = it.GetFromLayer();
  const int fn = it.GetFromNode();
  EXPECT_TRUE(it.IsValid());
  EXPECT_EQ(it.GetToLayer(), toLayer);
  EXPECT_EQ(it.GetToNode(), toNode);
  EXPECT_EQ(it.GetToNeuron(), net.layers[static_cast<size_t>(toLayer)]->GetNeuron(toNode));
  EXPECT_EQ(it.GetFromNeuron(), net.layers[static_cast<size_t>(fl)]->GetNeuron(fn));
  EXPECT_EQ(it.GetWeight(), &net.priv_conns_index[toLayer][fl]->GetWeight(fn, toNode));
}

/// Walks with Next (or Prev) until false, checking each arc and collecting its position.
std::vector<Arc> Walk(TArcsIterator& it, TBasicNetwork& net, int toLayer, int toNode, bool forward) {
  std::vector<Arc> arcs;
  while (forward ? it.Next() : it.Prev()) {
    ExpectAtArc(it, net, toLayer, toNode);
    arcs.emplace_back(it.GetFromLayer(), it.GetFromNode());
    if (arcs.size() > 100) break;
  }
  return arcs;
}

TEST(TConnInAllArcsIterator, WalksTheArcsOfOneJoinedLayer) {
  const int sizes[] = {0, 4, 2};
  TConnectedNetwork net(3, sizes);
  net.Connect(1, 2);
  for (int f = 0; f < 4; ++f) net.priv_conns_index[2][1]->GetWeight(f, 1) = 10.0 + f;
  TConnInAllArcsIterator it(&net);
  it.Init(2, 1);
  EXPECT_EQ(it.GetFromLayer(), -1);
  EXPECT_EQ(it.GetFromNode(), -1);
  for (int f = 0; f < 4; ++f) {
    SCOPED_TRACE("arc " + std::to_string(f));
    ASSERT_TRUE(it.Next());
    EXPECT_EQ(it.GetFromLayer(), 1);
    EXPECT_EQ(it.GetFromNode(), f);
    EXPECT_EQ(*it.GetWeight(), 10.0 + f);
    ExpectAtArc(it, net, 2, 1);
  }
  EXPECT_FALSE(it.Next());
  EXPECT_FALSE(it.IsValid());
  EXPECT_EQ(it.GetFromNeuron(), nullptr);
  EXPECT_FALSE(it.Next()) << "stays at the end";
  EXPECT_FALSE(it.Next());
}

TEST(TConnInAllArcsIterator, WritingThroughTheWeightChangesTheMatrix) {
  const int sizes[] = {0, 2, 1};
  TConnectedNetwork net(3, sizes);
  net.Connect(1, 2);
  TConnInAllArcsIterator it(&net);
  it.Init(*net.layers[2]->GetNeuron(0));
  while (it.Next()) *it.GetWeight() = 5.0 + it.GetFromNode();
  EXPECT_EQ(net.priv_conns_index[2][1]->GetWeight(0, 0), 5.0);
  EXPECT_EQ(net.priv_conns_index[2][1]->GetWeight(1, 0), 6.0);
}

TEST(TConnInAllArcsIterator, NothingJoinedGivesNothing) {
  const int sizes[] = {0, 4, 2};
  TConnectedNetwork net(3, sizes);
  net.Connect(2, 1);  // out of the neuron's layer, not into it
  TConnInAllArcsIterator it(&net);
  it.Init(2, 0);
  EXPECT_FALSE(it.Prev());
  EXPECT_FALSE(it.Next());
  EXPECT_FALSE(it.IsValid());
}

/// Layers of 2, 3, 2 and 0 neurons, then a gain layer of 2 neurons as layer 4.
/// Into layer 2: fully connected from 0, from 2 itself, from the empty layer 3
/// and from the higher-numbered gain layer 4; pruneable from 1 with arc (1,1) pruned.
class InAllWalkFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    const int sizes[] = {2, 3, 2, 0, 1};
    net = std::make_unique<TConnectedNetwork>(5, sizes);
    net->layers[4] = std::make_unique<TGainLayer>(net.get(), 4, 2, 3.0);
    net->Connect(0, 2);
    net->Connect(2, 2);
    net->Connect(3, 2);
    net->Connect(4, 2);
    net->priv_conns_index[2][1] = std::make_unique<TPrunedConnections>(net.get(), 1, 2);
    net->priv_conns_index[2][1]->PruneArc(1, 1);
  }

  std::unique_ptr<TConnectedNetwork> net;
};

TEST_F(InAllWalkFixture, VisitsJoinedLayersInOrderAndPassesOverAbsentArcs) {
  TConnInAllArcsIterator it(net.get());
  it.Init(2, 1);
  const std::vector<Arc> forward = {{0, 0}, {0, 1}, {1, 0}, {1, 2}, {2, 0}, {2, 1}, {4, 0}, {4, 1}};
  EXPECT_EQ(Walk(it, *net, 2, 1, true), forward);
  EXPECT_FALSE(it.Next());

  // Back from the end: the same arcs in reverse, then nothing more.
  const std::vector<Arc> backward(forward.rbegin(), forward.rend());
  EXPECT_EQ(Walk(it, *net, 2, 1, false), backward);
  EXPECT_FALSE(it.Prev());
  // And forward again from the front.
  ASSERT_TRUE(it.Next());
  EXPECT_EQ(it.GetFromLayer(), 0);
  EXPECT_EQ(it.GetFromNode(), 0);
}

TEST_F(InAllWalkFixture, ArcsIntoTheOtherNeuronIncludeThePrunedPosition) {
  TConnInAllArcsIterator it(net.get());
  it.Init(2, 0);
  const std::vector<Arc> expected = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {1, 2}, {2, 0}, {2, 1}, {4, 0}, {4, 1}};
  EXPECT_EQ(Walk(it, *net, 2, 0, true), expected);
}

TEST_F(InAllWalkFixture, FromNeuronsOfAGainLayerAreItsOwnNeurons) {
  TConnInAllArcsIterator it(net.get());
  it.Init(2, 0);
  auto* gain = dynamic_cast<TGainLayer*>(net->layers[4].get());
  ASSERT_NE(gain, nullptr);
  int seen = 0;
  while (it.Next()) {
    if (it.GetFromLayer() != 4) continue;
    EXPECT_EQ(it.GetFromNeuron(), &gain->nodes[static_cast<size_t>(it.GetFromNode())]);
    EXPECT_EQ(static_cast<TGainNeuron*>(it.GetFromNeuron())->gain, 3.0);
    ++seen;
  }
  EXPECT_EQ(seen, 2);
}

TEST_F(InAllWalkFixture, PrevAndNextMixWithinAndAcrossLayers) {
  TConnInAllArcsIterator it(net.get());
  it.Init(2, 1);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(it.Next());  // (1, 0)
  ASSERT_TRUE(it.Prev());
  EXPECT_EQ(Arc(it.GetFromLayer(), it.GetFromNode()), Arc(0, 1));
  ASSERT_TRUE(it.Next());
  ASSERT_TRUE(it.Next());
  EXPECT_EQ(Arc(it.GetFromLayer(), it.GetFromNode()), Arc(1, 2));
  ExpectAtArc(it, *net, 2, 1);
}

TEST(TConnInLayerArcsIterator, StepsBothWaysAndStopsAtTheEnds) {
  const int sizes[] = {0, 3, 2};
  TConnectedNetwork net(3, sizes);
  net.Connect(1, 2);
  TConnInLayerArcsIterator it(&net);
  it.Init(2, 1, 1);
  EXPECT_TRUE(it.IsValid());
  EXPECT_FALSE(it.Prev()) << "nothing before the first arc";
  EXPECT_EQ(it.GetFromNode(), -1);
  for (int f = 0; f < 3; ++f) {
    ASSERT_TRUE(it.Next());
    EXPECT_EQ(it.GetFromNode(), f);
    ExpectAtArc(it, net, 2, 1);
  }
  EXPECT_FALSE(it.Next());
  EXPECT_EQ(it.GetFromNode(), 2) << "stays on the last arc";
  ASSERT_TRUE(it.Prev());
  EXPECT_EQ(it.GetFromNode(), 1);
  ASSERT_TRUE(it.Prev());
  EXPECT_EQ(it.GetFromNode(), 0);
  EXPECT_FALSE(it.Prev());
  EXPECT_EQ(it.GetFromNode(), 0);
}

TEST(TConnInLayerArcsIterator, InitFromANeuronTakesFromLayerZero) {
  const int sizes[] = {2, 1, 1};
  TConnectedNetwork net(3, sizes);
  net.Connect(0, 2);
  TConnInLayerArcsIterator it(&net);
  it.Init(*net.layers[2]->GetNeuron(0));
  EXPECT_EQ(it.GetFromLayer(), 0);
  EXPECT_EQ(Walk(it, net, 2, 0, true), (std::vector<Arc>{{0, 0}, {0, 1}}));
}

TEST(TConnInLayerArcsIterator, UnjoinedPairYieldsNothing) {
  const int sizes[] = {2, 3, 2};
  TConnectedNetwork net(3, sizes);
  TConnInLayerArcsIterator it(&net);
  it.Init(2, 0, 1);
  EXPECT_FALSE(it.IsValid());
  EXPECT_FALSE(it.Next());
  EXPECT_FALSE(it.Prev());
  EXPECT_EQ(it.GetWeight(), nullptr);
  EXPECT_EQ(it.GetFromNeuron(), nullptr);
}

TEST(TConnInLayerArcsIterator, PruneableMatrixYieldsOnlyExistingArcs) {
  const int sizes[] = {0, 4, 1};
  TConnectedNetwork net(3, sizes);
  net.priv_conns_index[2][1] = std::make_unique<TPrunedConnections>(&net, 1, 2);
  net.priv_conns_index[2][1]->PruneArc(0, 0);
  net.priv_conns_index[2][1]->PruneArc(2, 0);
  TConnInLayerArcsIterator it(&net);
  it.Init(2, 0, 1);
  EXPECT_EQ(Walk(it, net, 2, 0, true), (std::vector<Arc>{{1, 1}, {1, 3}}));
  EXPECT_EQ(Walk(it, net, 2, 0, false), (std::vector<Arc>{{1, 1}}));
}

}  // namespace
}  // namespace kartlo
