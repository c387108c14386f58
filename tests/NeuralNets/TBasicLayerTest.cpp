#include "NeuralNets/TBasicLayer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TBasicNetwork.h"

namespace kartlo {
namespace {

/// Checks the neuron invariants of a layer: layer, value slot, index and layer number.
void ExpectLinked(TBasicLayer& layer) {
  for (int i = 0; i < layer.numNeurons; ++i) {
    SCOPED_TRACE("neuron " + std::to_string(i));
    TBasicNeuron* n = layer.GetNeuron(i);
    EXPECT_EQ(n->layer, &layer);
    EXPECT_EQ(n->value, &layer.values[static_cast<size_t>(i)]);
    EXPECT_EQ(n->index, i);
    EXPECT_EQ(n->layerNum, layer.layerNum);
  }
}

TEST(TBasicLayer, ConstructionOfTheThreeKinds) {
  TSimpleLayer simple(nullptr, 2, 3);
  EXPECT_STREQ(simple.GetLayerNType(), "Simple");
  EXPECT_EQ(simple.numNeurons, 3);
  EXPECT_EQ(simple.layerNum, 2);
  EXPECT_EQ(simple.actFunction, nullptr);
  EXPECT_EQ(simple.values, std::vector<double>(3, 0.0));
  EXPECT_EQ(simple.numDimensions, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(simple.GetNeuron(i)->actFunction, &ActFnError);
  ExpectLinked(simple);

  TSimpleInputLayer input(nullptr, 1, 2);
  EXPECT_STREQ(input.GetLayerNType(), "Input");
  EXPECT_EQ(input.actFunction, &ActFnLinear);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(input.GetNeuron(i)->actFunction, &ActFnLinear);
  ExpectLinked(input);

  TGainLayer gain(nullptr, 0, 2, 2.5);
  EXPECT_STREQ(gain.GetLayerNType(), "Gain");
  EXPECT_EQ(gain.nodes[0].gain, 2.5);
  EXPECT_EQ(gain.nodes[1].gain, 2.5);
  ExpectLinked(gain);
  gain.SetGain(0.5);
  EXPECT_EQ(gain.nodes[0].gain, 0.5);
  EXPECT_EQ(gain.nodes[1].gain, 0.5);
}

TEST(TBasicLayer, GetActFunctionRemembersTheCommonFunction) {
  TSimpleLayer layer(nullptr, 0, 3);
  EXPECT_EQ(layer.GetActFunction(), &ActFnError);
  EXPECT_EQ(layer.actFunction, &ActFnError);

  layer.GetNeuron(1)->SetActFunction(&ActFnSigmoid);
  EXPECT_EQ(layer.actFunction, nullptr) << "a neuron's SetActFunction clears the layer's";
  EXPECT_EQ(layer.GetActFunction(), nullptr);
  EXPECT_EQ(layer.actFunction, nullptr);

  layer.SetActFunction(&ActFnLinear);
  layer.GetNeuron(2)->SetActFunction(&ActFnSigmoid);
  EXPECT_EQ(layer.GetActFunction(), nullptr);
  layer.GetNeuron(2)->SetActFunction(&ActFnLinear);
  EXPECT_EQ(layer.GetActFunction(), &ActFnLinear);
  EXPECT_EQ(layer.actFunction, &ActFnLinear);
}

TEST(TBasicLayer, EmptyLayerReportsNullAndPassesItToAnInsertedNeuron) {
  TSimpleLayer layer(nullptr, 0, 0);
  EXPECT_EQ(layer.GetActFunction(), &ActFnNull);
  layer.InsertNeuron(0);
  layer.numNeurons = 1;
  EXPECT_EQ(layer.GetNeuron(0)->actFunction, &ActFnNull);
  ExpectLinked(layer);
}

TEST(TBasicLayer, ActivateUsesTheCommonFunctionOrEachNeuronsOwn) {
  TSimpleLayer layer(nullptr, 0, 3);
  layer.SetActFunction(&ActFnBias);
  const double net[] = {5.0, -5.0, 0.0};
  layer.Activate(net);
  EXPECT_EQ(layer.values, (std::vector<double>{1.0, 1.0, 1.0}));

  layer.GetNeuron(0)->SetActFunction(&ActFnLinear);
  layer.GetNeuron(1)->SetActFunction(&ActFnSaturatedLinear);
  layer.GetNeuron(2)->SetActFunction(&ActFnSigmoid);
  layer.values = {0.25, 3.0, 0.0};
  layer.Activate(layer.values.data());  // in place
  EXPECT_EQ(layer.values, (std::vector<double>{0.25, 1.0, 0.5}));
}

TEST(TBasicLayer, InsertNeuronShiftsNeuronsAndChoosesTheNewFunction) {
  struct Case {
    int at;
    bool common;  // whether the layer knows a common function
    std::vector<TActFunction> expected;
  };
  const Case cases[] = {
      {0, false, {&ActFnError, &ActFnLinear, &ActFnSigmoid}},
      {1, false, {&ActFnLinear, &ActFnError, &ActFnSigmoid}},
      {2, false, {&ActFnLinear, &ActFnSigmoid, &ActFnError}},
      {2, true, {&ActFnTanh, &ActFnTanh, &ActFnTanh}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("insert at " + std::to_string(c.at) + (c.common ? " common" : ""));
    TSimpleLayer layer(nullptr, 4, 2);
    if (c.common) {
      layer.SetActFunction(&ActFnTanh);
    } else {
      layer.GetNeuron(0)->SetActFunction(&ActFnLinear);
      layer.GetNeuron(1)->SetActFunction(&ActFnSigmoid);
    }
    layer.InsertNeuron(c.at);
    layer.numNeurons = 3;
    ASSERT_EQ(layer.values.size(), 3u);
    ExpectLinked(layer);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(layer.GetNeuron(i)->actFunction, c.expected[static_cast<size_t>(i)]);
  }
}

TEST(TBasicLayer, GainLayerInsertionTakesTheFirstGain) {
  TGainLayer layer(nullptr, 1, 2);
  layer.nodes[0].gain = 2.0;
  layer.nodes[1].gain = 3.0;
  layer.InsertNeuron(2);
  layer.numNeurons = 3;
  EXPECT_EQ(layer.nodes[0].gain, 2.0);
  EXPECT_EQ(layer.nodes[1].gain, 3.0);
  EXPECT_EQ(layer.nodes[2].gain, 2.0);
  layer.InsertNeuron(0);
  layer.numNeurons = 4;
  EXPECT_EQ(layer.nodes[0].gain, 2.0);
  EXPECT_EQ(layer.nodes[2].gain, 3.0);
  ExpectLinked(layer);

  TGainLayer empty(nullptr, 1, 0, 5.0);
  empty.InsertNeuron(0);
  empty.numNeurons = 1;
  EXPECT_EQ(empty.nodes[0].gain, 1.0);
  ExpectLinked(empty);
}

TEST(TBasicLayer, RemoveNeuronKeepsTheOthersInOrder) {
  TGainLayer layer(nullptr, 3, 3);
  const TActFunction fns[] = {&ActFnLinear, &ActFnSigmoid, &ActFnTanh};
  for (int i = 0; i < 3; ++i) {
    layer.nodes[static_cast<size_t>(i)].gain = 1.0 + i;
    layer.GetNeuron(i)->SetActFunction(fns[i]);
  }
  layer.RemoveNeuron(0);
  layer.numNeurons = 2;
  ASSERT_EQ(layer.nodes.size(), 2u);
  ExpectLinked(layer);
  EXPECT_EQ(layer.nodes[0].gain, 2.0);
  EXPECT_EQ(layer.nodes[1].gain, 3.0);
  EXPECT_EQ(layer.nodes[0].actFunction, &ActFnSigmoid);
  EXPECT_EQ(layer.nodes[1].actFunction, &ActFnTanh);

  TSimpleLayer simple(nullptr, 0, 3);
  simple.GetNeuron(2)->SetActFunction(&ActFnBias);
  simple.RemoveNeuron(1);
  simple.numNeurons = 2;
  ExpectLinked(simple);
  EXPECT_EQ(simple.GetNeuron(1)->actFunction, &ActFnBias);
}

TEST(TBasicLayer, CloneKeepsNeuronsFunctionsGainsAndDimensions) {
  TBasicNetwork owner;
  TGainLayer layer(nullptr, 2, 3);
  layer.GetNeuron(0)->SetActFunction(&ActFnLinearGain);
  layer.GetNeuron(1)->SetActFunction(&ActFnTanhGain);
  layer.GetNeuron(2)->SetActFunction(&ActFnSigmoidGain);
  layer.nodes[1].gain = 4.0;
  layer.values = {1.0, 2.0, 3.0};
  const int dims[] = {3, 1};
  layer.SetDimensions(2, dims);

  std::unique_ptr<TBasicLayer> copy = layer.Clone(&owner);
  auto* gain = dynamic_cast<TGainLayer*>(copy.get());
  ASSERT_NE(gain, nullptr);
  EXPECT_EQ(copy->network, &owner);
  EXPECT_EQ(copy->layerNum, 2);
  EXPECT_EQ(copy->values, std::vector<double>(3, 0.0));
  EXPECT_EQ(copy->numDimensions, 2);
  EXPECT_EQ(copy->dimensions, (std::vector<int>{3, 1}));
  ExpectLinked(*copy);
  EXPECT_EQ(gain->nodes[0].gain, 1.0);
  EXPECT_EQ(gain->nodes[1].gain, 4.0);
  EXPECT_EQ(gain->nodes[0].actFunction, &ActFnLinearGain);
  EXPECT_EQ(gain->nodes[1].actFunction, &ActFnTanhGain);
  EXPECT_EQ(gain->nodes[2].actFunction, &ActFnSigmoidGain);

  TSimpleInputLayer input(nullptr, 1, 2);
  input.GetNeuron(1)->SetActFunction(&ActFnBias);
  std::unique_ptr<TBasicLayer> inputCopy = input.Clone(&owner);
  EXPECT_STREQ(inputCopy->GetLayerNType(), "Input");
  EXPECT_EQ(inputCopy->actFunction, nullptr);
  EXPECT_EQ(inputCopy->GetNeuron(0)->actFunction, &ActFnLinear);
  EXPECT_EQ(inputCopy->GetNeuron(1)->actFunction, &ActFnBias);
  ExpectLinked(*inputCopy);

  TSimpleLayer simple(nullptr, 0, 1);
  simple.SetActFunction(&ActFnTanh);
  std::unique_ptr<TBasicLayer> simpleCopy = simple.Clone(&owner);
  EXPECT_STREQ(simpleCopy->GetLayerNType(), "Simple");
  EXPECT_EQ(simpleCopy->actFunction, &ActFnTanh);
}

TEST(TBasicLayer, DimensionsAreReplacedAndCopiedOut) {
  TSimpleLayer layer(nullptr, 0, 1);
  int out[3] = {-1, -1, -1};
  layer.GetDimensions(nullptr);  // no dimensions: nothing is touched
  const int dims[] = {4, 5, 6};
  layer.SetDimensions(3, dims);
  layer.GetDimensions(out);
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(out[2], 6);
  layer.SetDimensions(0, nullptr);
  EXPECT_EQ(layer.numDimensions, 0);
  EXPECT_TRUE(layer.dimensions.empty());
}

TEST(TBasicLayer, NeuronParameters) {
  TBasicNeuron plain;
  EXPECT_EQ(plain.GetNumParams(), 0);
  TGainNeuron gain;
  EXPECT_EQ(gain.gain, 1.0);
  EXPECT_EQ(gain.GetNumParams(), 1);
  EXPECT_STREQ(gain.GetParamName(0), "Gain");
  const double in[] = {0.75};
  gain.SetParams(in);
  double out[1] = {0.0};
  gain.GetParams(out);
  EXPECT_EQ(out[0], 0.75);
  TGainNeuron other;
  other.CopyParams(gain);
  EXPECT_EQ(other.gain, 1.0) << "CopyParams copies nothing";
}

/// A layer kind that does not provide insertion.
class FixedLayer : public TBasicLayer {
 public:
  FixedLayer() : TBasicLayer(nullptr, 0, 0) {}
  TBasicNeuron* GetNeuron(int) override { return nullptr; }
  const char* GetLayerNType() const override { return "Fixed"; }
  std::unique_ptr<TBasicLayer> Clone(TBasicNetwork*) const override { return nullptr; }
  void RemoveNeuron(int) override {}
};

TEST(TBasicLayerDeathTest, SpecifiedAssertions) {
  TBasicNeuron plain;
  EXPECT_DEATH(plain.GetParamName(0), "Assertion failed: false");
  TGainNeuron gain;
  EXPECT_DEATH(gain.GetParamName(1), "Assertion failed: i==0");
  FixedLayer fixed;
  EXPECT_DEATH(fixed.InsertNeuron(0), "Assertion failed: false");
  TSimpleLayer layer(nullptr, 0, 1);
  layer.SetDimensions(1, std::vector<int>{2}.data());
  EXPECT_DEATH(layer.GetDimensions(nullptr), "Assertion failed: parameters != NULL");
  EXPECT_DEATH(layer.SetDimensions(2, nullptr), "Assertion failed: parameters != NULL");
}

// ---- the forward step inside a network ----

/// Layer 0: one bias neuron; layer 1: the input position; layer 2: the last layer.
/// Pruneable matrices 0->1 (weights 10), 0->2 (weight 0.5) and 1->2 (weights 1, 2).
void Build(TBasicNetwork& net, std::unique_ptr<TBasicLayer> inputPosition,
           std::unique_ptr<TBasicLayer> last) {
  net.layers[0] = std::make_unique<TSimpleLayer>(&net, 0, 1);
  net.layers[0]->SetActFunction(&ActFnBias);
  net.layers[1] = std::move(inputPosition);
  net.layers[2] = std::move(last);
  net.Connect(0, 1);
  net.Connect(0, 2);
  net.Connect(1, 2);
  net.priv_conns_index[1][0]->GetWeight(0, 0) = 10.0;
  net.priv_conns_index[1][0]->GetWeight(0, 1) = 10.0;
  net.priv_conns_index[2][0]->GetWeight(0, 0) = 0.5;
  net.priv_conns_index[2][1]->GetWeight(0, 0) = 1.0;
  net.priv_conns_index[2][1]->GetWeight(1, 0) = 2.0;
}

class PropagateFixture : public ::testing::Test {
 protected:
  void Build(std::unique_ptr<TBasicLayer> inputPosition, std::unique_ptr<TBasicLayer> last) {
    kartlo::Build(net, std::move(inputPosition), std::move(last));
  }

  TBasicNetwork net{3};
  const double input[2] = {3.0, 4.0};
};

TEST_F(PropagateFixture, InputLayerInPositionCopiesTheInputUnchanged) {
  Build(std::make_unique<TSimpleInputLayer>(&net, 1, 2), std::make_unique<TSimpleLayer>(&net, 2, 1));
  net.layers[1]->SetActFunction(&ActFnSigmoid);
  net.layers[2]->SetActFunction(&ActFnLinear);
  ::testing::internal::CaptureStderr();
  double out = 0.0;
  EXPECT_EQ(net.Recall(input, &out), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(net.layers[1]->values, (std::vector<double>{3.0, 4.0}));
  EXPECT_EQ(out, 0.5 + 3.0 + 8.0);
}

TEST_F(PropagateFixture, PlainLayerInInputPositionWarnsAndAddsLowerLayers) {
  for (bool gainLayer : {false, true}) {
    SCOPED_TRACE(gainLayer ? "TGainLayer" : "TSimpleLayer");
    TBasicNetwork net(3);
    std::unique_ptr<TBasicLayer> first;
    if (gainLayer) {
      first = std::make_unique<TGainLayer>(&net, 1, 2, 2.0);
      first->SetActFunction(&ActFnLinearGain);
    } else {
      first = std::make_unique<TSimpleLayer>(&net, 1, 2);
      first->SetActFunction(&ActFnLinear);
    }
    kartlo::Build(net, std::move(first), std::make_unique<TSimpleLayer>(&net, 2, 1));
    net.layers[2]->SetActFunction(&ActFnLinear);
    ::testing::internal::CaptureStderr();
    net.layers[0]->Propagate(input);
    net.layers[1]->Propagate(input);
    net.layers[1]->Propagate(input);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "!Warning: changed input layer (TSimpleLayer)\n"
              "!Warning: changed input layer (TSimpleLayer)\n");
    const double g = gainLayer ? 2.0 : 1.0;
    EXPECT_EQ(net.layers[1]->values, (std::vector<double>{g * 13.0, g * 14.0}));
  }
}

TEST_F(PropagateFixture, InputLayerOutOfPositionWarnsAndOutputsZeros) {
  Build(std::make_unique<TSimpleLayer>(&net, 1, 2), std::make_unique<TSimpleInputLayer>(&net, 2, 1));
  net.inLayer = 0;  // layer 0 is now the input position and layer 1 a plain layer
  net.layers[0] = std::make_unique<TSimpleInputLayer>(&net, 0, 1);
  net.layers[1]->SetActFunction(&ActFnLinear);
  net.layers[2]->values = {9.0};
  ::testing::internal::CaptureStderr();
  double out = -1.0;
  EXPECT_EQ(net.Recall(input, &out), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "!Warning: changed input layer (TSimpleInputLayer)\n");
  EXPECT_EQ(out, 0.0);
  // Layer 1 (not the input position) took layer 0's copied input 3.0 through weight 10.
  EXPECT_EQ(net.layers[1]->values, (std::vector<double>{30.0, 30.0}));
}

TEST_F(PropagateFixture, LinearLayerWithoutArcsOutputsZerosAndBiasOnes) {
  Build(std::make_unique<TSimpleInputLayer>(&net, 1, 2), std::make_unique<TSimpleLayer>(&net, 2, 2));
  net.Disconnect(0, 2);
  net.Disconnect(1, 2);
  net.layers[2]->SetActFunction(&ActFnLinear);
  net.layers[2]->values = {5.0, 5.0};
  double out[2] = {-1.0, -1.0};
  net.Recall(input, out);
  EXPECT_EQ(out[0], 0.0);
  EXPECT_EQ(out[1], 0.0);
  net.layers[2]->SetActFunction(&ActFnBias);
  net.Recall(input, out);
  EXPECT_EQ(out[0], 1.0);
  EXPECT_EQ(out[1], 1.0);
}

}  // namespace
}  // namespace kartlo
