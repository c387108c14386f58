#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FileHandler/FileTools.h"
#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/NetworkEditingCheck.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TBasicLayer.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TConnectedNetwork.h"

namespace kartlo {
namespace {

using testing::ExpectComplete;
using testing::ExpectSameNetwork;

/// Writes `net` to a network file text and reads it back.
std::unique_ptr<TBasicNetwork> WriteAndRead(TBasicNetwork& net) {
  FileTools writer;
  std::ostringstream out;
  writer.WriteNetwork(out, &net);
  FileTools reader;
  std::istringstream in(out.str());
  return reader.ReadNetwork(in);
}

/// Bias layer 0 (1), input 1 (2), hidden 2 (3), hidden 3 (2), output 4 (2), joined by pruneable
/// matrices with weights that tell where they were put; one arc absent, one fixed. Weights are
/// exact in the file's 15 digits after the point.
std::unique_ptr<TBasicNetwork> MakeNet() {
  const std::vector<int> sizes = {1, 2, 3, 2, 2};
  auto net = std::make_unique<TBasicNetwork>(5);
  net->outLayer = 4;
  const TActFunction fns[] = {&ActFnBias, &ActFnLinear, &ActFnSigmoid, &ActFnTanh, &ActFnLinear};
  for (int i = 0; i < 5; ++i) {
    auto& slot = net->layers[static_cast<std::size_t>(i)];
    if (i == 1)
      slot = std::make_unique<TSimpleInputLayer>(net.get(), i, sizes[static_cast<std::size_t>(i)]);
    else
      slot = std::make_unique<TSimpleLayer>(net.get(), i, sizes[static_cast<std::size_t>(i)]);
    slot->SetActFunction(fns[i]);
  }
  for (auto [from, to] : {std::pair{0, 2}, std::pair{1, 2}, std::pair{2, 3}, std::pair{3, 4}, std::pair{0, 4},
                          std::pair{2, 4}}) {
    net->Connect(from, to);
    for (int t = 0; t < sizes[static_cast<std::size_t>(to)]; ++t)
      for (int f = 0; f < sizes[static_cast<std::size_t>(from)]; ++f)
        net->priv_conns_index[to][from]->GetWeight(f, t) = from * 10 + to + f * 0.25 + t * 0.125;
  }
  net->priv_conns_index[3][2]->PruneArc(1, 0);
  net->priv_conns_index[4][3]->SetUntrainable(1, 1);
  return net;
}

TEST(NetworkEditingRoundTripTest, EditedNetworkWritesAndReadsBackUnchanged) {
  struct Case {
    const char* name;
    std::function<void(TBasicNetwork&)> edit;
  };
  // Insertions draw with min == max, so the new weights are exactly 0.5.
  const std::vector<Case> cases = {
      {"neuron appended", [](TBasicNetwork& n) { n.AddNeuron(2, 3, 0.5, 0.5, true); }},
      {"neuron inserted unattached", [](TBasicNetwork& n) { n.AddNeuron(3, 0, 0.5, 0.5, false); }},
      {"neuron removed", [](TBasicNetwork& n) { n.RemoveNeuron(2, 1); }},
      {"neurons pruned",
       [](TBasicNetwork& n) {
         for (int t = 0; t < 2; ++t) n.priv_conns_index[3][2]->PruneArc(2, t);
         n.priv_conns_index[4][2]->PruneArc(2, 0);
         n.priv_conns_index[4][2]->PruneArc(2, 1);
         ASSERT_EQ(n.PruneNodes(), 1);
       }},
      {"layer inserted and joined",
       [](TBasicNetwork& n) {
         auto layer = std::make_unique<TSimpleLayer>(&n, 0, 3);
         layer->SetActFunction(&ActFnSaturatedLinear);
         n.InsertLayer(3, std::move(layer));
         n.Connect(2, 3);
         n.Connect(3, 4);
       }},
      {"layer removed", [](TBasicNetwork& n) { n.RemoveLayer(3); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto net = MakeNet();
    c.edit(*net);
    ExpectComplete(*net);
    auto back = WriteAndRead(*net);
    ASSERT_NE(back, nullptr);
    ExpectComplete(*back);
    ExpectSameNetwork(*net, *back);
  }
}

}  // namespace
}  // namespace kartlo
