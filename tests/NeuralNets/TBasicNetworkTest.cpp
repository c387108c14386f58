#include "NeuralNets/TBasicNetwork.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "NeuralNets/TArcsIterator.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TPrunedConnections.h"

namespace kartlo {
namespace {

/// Fills every layer slot of `net` with a TSimpleLayer of the given size.
void FillLayers(TBasicNetwork& net, const std::vector<int>& sizes) {
  for (size_t i = 0; i < sizes.size(); ++i) {
    net.layers[i] = std::make_unique<TSimpleLayer>(&net, static_cast<int>(i), sizes[i]);
  }
}

/// Every matrix entry is filled, numbered after its place, owned by `net`, and
/// reachable the same way through both tables.
void ExpectTablesConsistent(TBasicNetwork& net) {
  const int n = net.numLayers;
  ASSERT_EQ(net.priv_conns.size(), static_cast<size_t>(n * n));
  ASSERT_EQ(net.priv_conns_index.size(), static_cast<size_t>(n));
  for (int to = 0; to < n; ++to) {
    for (int from = 0; from < n; ++from) {
      SCOPED_TRACE("matrix " + std::to_string(from) + "->" + std::to_string(to));
      TBasicConnections* m = net.priv_conns_index[to][from].get();
      ASSERT_NE(m, nullptr);
      EXPECT_EQ(m, net.priv_conns[static_cast<size_t>(to * n + from)].get());
      EXPECT_EQ(m->fromLayer, from);
      EXPECT_EQ(m->toLayer, to);
      EXPECT_EQ(m->network, &net);
    }
  }
}

TEST(TBasicNetwork, FreshNetworkHasEmptyMatricesAndNoLayers) {
  TBasicNetwork net(3);
  EXPECT_EQ(net.numLayers, 3);
  EXPECT_EQ(net.inLayer, 1);
  EXPECT_EQ(net.outLayer, 2);
  EXPECT_STREQ(net.GetNetworkNType(), "Basic");
  ExpectTablesConsistent(net);
  for (const auto& m : net.priv_conns) {
    EXPECT_STREQ(m->GetConnectionsNType(), "Empty");
    EXPECT_FALSE(m->IsConnected());
  }
  ASSERT_EQ(net.layers.size(), 3u);
  for (const auto& layer : net.layers) EXPECT_EQ(layer, nullptr);
  ASSERT_NE(net.registry, nullptr);
  EXPECT_EQ(net.registry->count, 10);
  EXPECT_EQ(net.registry->Find("tanh"), &ActFnTanh);
}

TEST(TBasicNetwork, DefaultConstructionAndAllocateOfOneLayer) {
  TBasicNetwork empty;
  EXPECT_EQ(empty.numLayers, 0);
  EXPECT_TRUE(empty.priv_conns.empty());
  EXPECT_TRUE(empty.layers.empty());

  TBasicNetwork one;
  one.Allocate(1);
  EXPECT_EQ(one.inLayer, 1);
  EXPECT_EQ(one.outLayer, 0);
  ExpectTablesConsistent(one);
}

TEST(TBasicNetwork, DestructionCopesWithUnfilledLayerSlots) {
  auto net = std::make_unique<TBasicNetwork>(3);
  net->layers[0] = std::make_unique<TSimpleLayer>(net.get(), 0, 2);
  net->Connect(0, 0);
  net.reset();  // layers 1 and 2 were never placed (a reader that gave up halfway)
  SUCCEED();
}

TEST(TBasicNetwork, ConnectKeepsAJoinedPairAndDisconnectEmptiesIt) {
  TBasicNetwork net(3);
  FillLayers(net, {1, 2, 3});
  net.Connect(1, 2);
  TBasicConnections* joined = net.priv_conns_index[2][1].get();
  EXPECT_STREQ(joined->GetConnectionsNType(), "Pruneable");
  EXPECT_EQ(joined->GetNumWeights(FMaskExists), 6);
  joined->GetWeight(1, 2) = 4.5;
  net.Connect(1, 2);
  EXPECT_EQ(net.priv_conns_index[2][1].get(), joined);
  EXPECT_EQ(net.priv_conns_index[2][1]->GetWeight(1, 2), 4.5);

  net.Disconnect(0, 2);  // never joined
  EXPECT_STREQ(net.priv_conns_index[2][0]->GetConnectionsNType(), "Empty");
  net.Disconnect(1, 2);
  EXPECT_STREQ(net.priv_conns_index[2][1]->GetConnectionsNType(), "Empty");
  ExpectTablesConsistent(net);
}

/// Layer 0: one bias neuron; layer 1: input of two; layer 2: output of two
/// linear neurons. Bias weights (0.5, -1), input weights w(f,t) = f+1+2t,
/// plus a downward matrix 2->1 and a self matrix 2->2 that the pass ignores.
class RecallFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    net.layers[0] = std::make_unique<TSimpleLayer>(&net, 0, 1);
    net.layers[0]->SetActFunction(&ActFnBias);
    net.layers[1] = std::make_unique<TSimpleInputLayer>(&net, 1, 2);
    net.layers[2] = std::make_unique<TSimpleLayer>(&net, 2, 2);
    net.layers[2]->SetActFunction(&ActFnLinear);
    net.Connect(0, 2);
    net.Connect(1, 2);
    net.priv_conns_index[2][0]->GetWeight(0, 0) = 0.5;
    net.priv_conns_index[2][0]->GetWeight(0, 1) = -1.0;
    for (int f = 0; f < 2; ++f) {
      for (int t = 0; t < 2; ++t) net.priv_conns_index[2][1]->GetWeight(f, t) = f + 1 + 2 * t;
    }
  }

  TBasicNetwork net{3};
};

TEST_F(RecallFixture, ForwardPassComputedByHand) {
  const double input[] = {3.0, -2.0};
  double output[2] = {0.0, 0.0};
  ASSERT_EQ(net.Recall(input, output), 2);
  // t=0: 0.5 + 1*3 + 2*(-2) = -0.5;  t=1: -1 + 3*3 + 4*(-2) = 0
  EXPECT_EQ(output[0], -0.5);
  EXPECT_EQ(output[1], 0.0);

  net.layers[2]->SetActFunction(&ActFnSigmoid);
  ASSERT_EQ(net.Recall(input, output), 2);
  EXPECT_EQ(output[0], 1 / (std::exp(0.5) + 1));
  EXPECT_EQ(output[1], 0.5);
}

TEST_F(RecallFixture, DownwardAndSelfMatricesCountAsWeightsButNotInThePass) {
  const double input[] = {3.0, -2.0};
  double before[2];
  net.Recall(input, before);
  const int weights = net.GetNumWeights(FMaskAll);
  EXPECT_EQ(weights, 2 + 4);

  net.Connect(2, 1);
  net.Connect(2, 2);
  net.priv_conns_index[1][2]->GetWeight(0, 0) = 100.0;
  net.priv_conns_index[2][2]->GetWeight(1, 1) = 100.0;
  EXPECT_EQ(net.GetNumWeights(FMaskAll), weights + 4 + 4);
  double after[2];
  net.Recall(input, after);
  EXPECT_EQ(after[0], before[0]);
  EXPECT_EQ(after[1], before[1]);
}

TEST_F(RecallFixture, OutputLayerWithoutNeuronsWritesNothing) {
  net.layers[2] = std::make_unique<TSimpleLayer>(&net, 2, 0);
  net.Disconnect(0, 2);
  net.Disconnect(1, 2);
  const double input[] = {1.0, 1.0};
  double output[1] = {42.0};
  EXPECT_EQ(net.Recall(input, output), 0);
  EXPECT_EQ(output[0], 42.0);
}

TEST(TBasicNetwork, GetNeuronNumbersAcrossLayersAndSkipsEmptyOnes) {
  TBasicNetwork net(3);
  FillLayers(net, {0, 3, 2});
  EXPECT_EQ(net.GetNumNeurons(), 5);
  struct Case {
    int index, layer, position;
  };
  const Case cases[] = {{0, 1, 0}, {2, 1, 2}, {3, 2, 0}, {4, 2, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE("neuron " + std::to_string(c.index));
    EXPECT_EQ(net.GetNeuron(c.index), net.layers[static_cast<size_t>(c.layer)]->GetNeuron(c.position));
  }
}

TEST(TBasicNetworkDeathTest, SpecifiedAssertions) {
  TBasicNetwork net(3);
  FillLayers(net, {0, 3, 2});
  EXPECT_DEATH(net.GetNeuron(5), "Assertion failed: index<GetNumNeurons\\(\\)");
  EXPECT_DEATH(net.GetNeuron(-1), "Assertion failed: index>=0");
  EXPECT_DEATH(net.NewInAllArcsIterator(), "Assertion failed: false");
  TBasicNetwork incomplete(2);
  EXPECT_DEATH(TBasicNetwork copy(incomplete), "Assertion failed: x.layers\\[i\\] != NULL");
}

/// Three layers of 1, 2 and 2 neurons; a fully connected 0->2, a pruneable 1->2
/// with arc (0,0) pruned and (1,1) untrainable, and a pruneable 2->0 (downward).
class WeightsFixture : public ::testing::Test {
 protected:
  static void Shape(TBasicNetwork& net) {
    FillLayers(net, {1, 2, 2});
    net.priv_conns_index[2][0] = std::make_unique<TConnectedConnections>(&net, 0, 2);
    net.Connect(1, 2);
    net.Connect(2, 0);
    net.priv_conns_index[2][1]->PruneArc(0, 0);
    net.priv_conns_index[2][1]->SetUntrainable(1, 1);
  }

  void SetUp() override {
    Shape(net);
    double w = 1.0;
    for (int to = 0; to < 3; ++to) {
      for (int from = 0; from < 3; ++from) {
        TBasicConnections* m = net.priv_conns_index[to][from].get();
        if (!m->IsConnected()) continue;
        const int nf = net.layers[static_cast<size_t>(from)]->numNeurons;
        const int nt = net.layers[static_cast<size_t>(to)]->numNeurons;
        for (int t = 0; t < nt; ++t) {
          for (int f = 0; f < nf; ++f) {
            if (m->IsValid(f, t)) m->GetWeight(f, t) = w++;
          }
        }
      }
    }
  }

  TBasicNetwork net{3};
};

TEST_F(WeightsFixture, WeightVectorIsFromLayerMajorConcatenation) {
  EXPECT_EQ(net.GetNumWeights(FMaskExists), 2 + 3 + 2);
  EXPECT_EQ(net.GetNumWeights(FMaskAll), 2 + 2 + 2);
  for (int mask : {FMaskExists, FMaskAll}) {
    SCOPED_TRACE("mask " + std::to_string(mask));
    std::vector<double> all(static_cast<size_t>(net.GetNumWeights(mask)));
    ASSERT_EQ(net.GetWeights(all.data(), mask), static_cast<int>(all.size()));
    std::vector<double> expected;
    for (int from = 0; from < 3; ++from) {
      for (int to = 0; to < 3; ++to) {
        TBasicConnections* m = net.priv_conns_index[to][from].get();
        std::vector<double> block(static_cast<size_t>(m->GetNumWeights(mask)));
        m->GetWeights(block.data(), mask);
        expected.insert(expected.end(), block.begin(), block.end());
      }
    }
    EXPECT_EQ(all, expected);
  }
}

TEST_F(WeightsFixture, GetWeightsThenSetWeightsRestoresEveryWeight) {
  std::vector<double> saved(static_cast<size_t>(net.GetNumWeights(FMaskExists)));
  net.GetWeights(saved.data(), FMaskExists);

  TBasicNetwork other(3);
  Shape(other);
  ASSERT_EQ(other.SetWeights(saved.data(), FMaskExists), static_cast<int>(saved.size()));
  std::vector<double> restored(saved.size());
  other.GetWeights(restored.data(), FMaskExists);
  EXPECT_EQ(restored, saved);
  EXPECT_EQ(other.priv_conns_index[2][1]->GetWeight(1, 1), net.priv_conns_index[2][1]->GetWeight(1, 1));
}

TEST_F(WeightsFixture, RandomizeVisitsMatricesFromLayerMajor) {
  // Single arcs 0->2 (to-layer 2) and 2->0 (to-layer 0): storage order would visit 2->0 first.
  TBasicNetwork small(3);
  FillLayers(small, {1, 1, 1});
  small.Connect(0, 2);
  small.Connect(2, 0);
  std::srand(7);
  const double first = DrawWeight(-1.0, 1.0);
  const double second = DrawWeight(-1.0, 1.0);
  ASSERT_NE(first, second);
  std::srand(7);
  small.Randomize(-1.0, 1.0);
  EXPECT_EQ(small.priv_conns_index[2][0]->GetWeight(0, 0), first);
  EXPECT_EQ(small.priv_conns_index[0][2]->GetWeight(0, 0), second);
}

TEST_F(WeightsFixture, CopiesAreDeepAndIndependent) {
  net.layers[1]->SetActFunction(&ActFnTanh);
  auto copy = std::make_unique<TBasicNetwork>(net);
  EXPECT_EQ(copy->numLayers, 3);
  EXPECT_EQ(copy->inLayer, net.inLayer);
  EXPECT_EQ(copy->outLayer, net.outLayer);
  ExpectTablesConsistent(*copy);
  EXPECT_NE(copy->registry.get(), net.registry.get());
  EXPECT_EQ(copy->registry->count, 10);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_NE(copy->layers[i].get(), net.layers[i].get());
    EXPECT_EQ(copy->layers[i]->network, copy.get());
  }
  EXPECT_EQ(copy->layers[1]->GetActFunction(), &ActFnTanh);
  EXPECT_STREQ(copy->priv_conns_index[2][0]->GetConnectionsNType(), "FullyConnected");
  EXPECT_FALSE(copy->priv_conns_index[2][1]->IsValid(0, 0));
  EXPECT_FALSE(copy->priv_conns_index[2][1]->IsTrainable(1, 1));

  std::vector<double> a(7), b(7);
  net.GetWeights(a.data(), FMaskExists);
  copy->GetWeights(b.data(), FMaskExists);
  EXPECT_EQ(a, b);

  copy->priv_conns_index[2][0]->GetWeight(0, 0) = -9.0;
  EXPECT_NE(net.priv_conns_index[2][0]->GetWeight(0, 0), -9.0);
  copy.reset();
  std::vector<double> c(7);
  net.GetWeights(c.data(), FMaskExists);
  EXPECT_EQ(c, a);
}

TEST_F(WeightsFixture, AssignmentReplacesContentAndSelfAssignmentChangesNothing) {
  TBasicNetwork target(5);
  FillLayers(target, {1, 1, 1, 1, 1});
  target.Connect(3, 4);
  target = net;
  EXPECT_EQ(target.numLayers, 3);
  ExpectTablesConsistent(target);
  std::vector<double> a(7), b(7);
  net.GetWeights(a.data(), FMaskExists);
  target.GetWeights(b.data(), FMaskExists);
  EXPECT_EQ(a, b);

  TBasicNetwork& alias = target;
  target = alias;
  ExpectTablesConsistent(target);
  target.GetWeights(b.data(), FMaskExists);
  EXPECT_EQ(a, b);
}

}  // namespace
}  // namespace kartlo
