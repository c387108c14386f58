#include "NeuralNets/TConnectedNetwork.h"

#include <gtest/gtest.h>

#include <memory>

#include "NeuralNets/TArcsIterator.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TPrunedConnections.h"

namespace kartlo {
namespace {

TEST(TConnectedNetwork, SizedConstructorPlacesInputAndSimpleLayers) {
  const int sizes[] = {0, 4, 2};
  TConnectedNetwork net(3, sizes);
  EXPECT_STREQ(net.GetNetworkNType(), "Connected");
  ASSERT_EQ(net.numLayers, 3);
  EXPECT_STREQ(net.layers[0]->GetLayerNType(), "Simple");
  EXPECT_EQ(net.layers[0]->numNeurons, 0);
  EXPECT_STREQ(net.layers[1]->GetLayerNType(), "Input");
  EXPECT_EQ(net.layers[1]->numNeurons, 4);
  EXPECT_EQ(net.layers[1]->GetActFunction(), &ActFnLinear);
  EXPECT_STREQ(net.layers[2]->GetLayerNType(), "Simple");
  EXPECT_EQ(net.layers[2]->numNeurons, 2);
  EXPECT_EQ(net.layers[2]->GetActFunction(), &ActFnError);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(net.layers[static_cast<size_t>(i)]->layerNum, i);
    EXPECT_EQ(net.layers[static_cast<size_t>(i)]->network, &net);
  }
  for (const auto& m : net.priv_conns) EXPECT_FALSE(m->IsConnected());
}

TEST(TConnectedNetwork, OtherConstructorsLeaveTheLayersToTheCaller) {
  TConnectedNetwork slots(2);
  EXPECT_EQ(slots.numLayers, 2);
  EXPECT_EQ(slots.layers[0], nullptr);
  EXPECT_EQ(slots.layers[1], nullptr);
  TConnectedNetwork bare;
  EXPECT_EQ(bare.numLayers, 0);
  EXPECT_TRUE(bare.priv_conns.empty());
}

TEST(TConnectedNetwork, ConnectUsesAFullyConnectedMatrixAndKeepsJoinedPairs) {
  const int sizes[] = {1, 3, 2};
  TConnectedNetwork net(3, sizes);
  net.Connect(1, 2);
  TBasicConnections* full = net.priv_conns_index[2][1].get();
  EXPECT_STREQ(full->GetConnectionsNType(), "FullyConnected");
  EXPECT_EQ(full->fromLayer, 1);
  EXPECT_EQ(full->toLayer, 2);
  full->GetWeight(2, 1) = 0.75;
  net.Connect(1, 2);
  EXPECT_EQ(net.priv_conns_index[2][1].get(), full);
  EXPECT_EQ(full->GetWeight(2, 1), 0.75);

  net.priv_conns_index[2][0] = std::make_unique<TPrunedConnections>(&net, 0, 2);
  TBasicConnections* pruned = net.priv_conns_index[2][0].get();
  net.Connect(0, 2);
  EXPECT_EQ(net.priv_conns_index[2][0].get(), pruned);
  EXPECT_STREQ(pruned->GetConnectionsNType(), "Pruneable");
}

TEST(TConnectedNetwork, CopyKeepsTheKindAndMatrixClasses) {
  const int sizes[] = {1, 3, 2};
  TConnectedNetwork net(3, sizes);
  net.Connect(1, 2);
  net.priv_conns_index[2][1]->GetWeight(0, 0) = 2.0;
  TConnectedNetwork copy(net);
  EXPECT_STREQ(copy.GetNetworkNType(), "Connected");
  EXPECT_STREQ(copy.priv_conns_index[2][1]->GetConnectionsNType(), "FullyConnected");
  EXPECT_EQ(copy.priv_conns_index[2][1]->GetWeight(0, 0), 2.0);
  EXPECT_EQ(copy.priv_conns_index[2][1]->network, &copy);
  EXPECT_STREQ(copy.layers[1]->GetLayerNType(), "Input");
}

TEST(TConnectedNetwork, HandsOutAnInAllArcsIterator) {
  const int sizes[] = {0, 2, 1};
  TConnectedNetwork net(3, sizes);
  net.Connect(1, 2);
  std::unique_ptr<TArcsIterator> it = net.NewInAllArcsIterator();
  auto* all = dynamic_cast<TConnInAllArcsIterator*>(it.get());
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(all->network, &net);
  all->Init(2, 0);
  EXPECT_TRUE(all->Next());
  EXPECT_TRUE(all->Next());
  EXPECT_FALSE(all->Next());
}

}  // namespace
}  // namespace kartlo
