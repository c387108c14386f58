#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "FileHandler/FileTools.h"
#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TBasicLayer.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace kartlo {
namespace {

std::unique_ptr<TBasicNetwork> Read(const std::string& text) {
  FileTools tools;
  std::istringstream in(text);
  return tools.ReadNetwork(in);
}

/// The message of the FileTools::Error that reading `text` raises, or "" if none.
std::string ReadError(const std::string& text) {
  FileTools tools;
  std::istringstream in(text);
  try {
    tools.ReadNetwork(in);
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.input, &in);
    EXPECT_EQ(e.output, nullptr);
    return e.message;
  }
  return "";
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

double Gain(TBasicLayer& layer, int i) {
  double g = -1.0;
  layer.GetNeuron(i)->GetParams(&g);
  return g;
}

TBasicConnections& Conn(TBasicNetwork& net, int from, int to) {
  return *net.priv_conns_index[to][from];
}

// --- Fixtures ------------------------------------------------------------------

/// A small map as the writer lays it out: 2 inputs, a 2 x 3 grid.
const char* const kWriterMap = R"([FormatVersion = 1.0]

[NeuralNetwork]
[NetworkType = Kohonen]

[NetworkInformation]
[NumberOfLayers = 3]
[InputLayer = 1]
[OutputLayer = 2]
[NumberOfInputs = 2]
[NumberOfOutputs = 6]
[~NetworkInformation]

[Dimensions = 2]
[Dimension=0 Size=2 ]
[Dimension=1 Size=3 ]
[~Dimensions]

[Layer = 0]
[LayerType = Simple]
[NumberOfNeurons = 0]
[All ActivationFunction=null ]
[~Layer]

[Layer = 1]
[LayerType = Input]
[NumberOfNeurons = 2]
[All ActivationFunction=linear ]
[~Layer]

[Layer = 2]
[LayerType = Simple]
[NumberOfNeurons = 6]
[All ActivationFunction=linear ]
[~Layer]

[ConnectionLayer]
[LayerFrom = 1]
[LayerTo = 2]
[ConnectionType = FullyConnected]
[Attributes UnPrunable UnFreezable ]
[Matrix Weights ]
/* To->            0                    1                    2                    3                    4                    5  From */
                 0.1               1e-300                 -0.5                 0.25                    3               -1e+20  /* 0 */
                 0.7    0.123456789012345                   -2                    0                    1              -0.0001  /* 1 */
[~Matrix]
[~ConnectionLayer]

[~NeuralNetwork]
)";

/// The same map with other item orders, other cases, commas and comments.
const char* const kShuffledMap = R"(/* a trained map /* nested */ */
[neuralnetwork] [networktype = KOHONEN]
[networkinformation] [numberofoutputs = 6] [NUMBEROFLAYERS = 3] [~NETWORKINFORMATION]
[DIMENSIONS = 2] [dimension = 1 size = 3] /* the rows */ [DIMENSION=0,SIZE=2] [~dimensions]
[layer = 2] [all activationfunction=LINEAR] [numberofneurons = 6] [layertype = simple] [~LAYER]
[LAYER = 0] [numberofneurons = 0] [layertype = SIMPLE] [~layer]
[Layer = 1] [ActivationFunction = Linear] [LayerType = INPUT] [NumberOfNeurons = 2] [~layer]
[connectionlayer] [connectiontype = fullyconnected] [attributes] [layerto = 2] [LayerFrom = 1]
[matrix WEIGHTS]
0.1,1e-300 -0.5 /* half a row */ 0.25 3 -1e+20
0.7 0.123456789012345 -2 0 1 -0.0001
[~MATRIX] [~connectionlayer]
[~neuralnetwork] /* nothing else */
)";

void ExpectWriterMap(TBasicNetwork& net) {
  auto* map = dynamic_cast<TKohonenNetwork*>(&net);
  ASSERT_NE(map, nullptr);
  EXPECT_STREQ(net.GetNetworkNType(), "Kohonen");
  ASSERT_EQ(map->numDimensions, 2);
  EXPECT_EQ(map->dimensions[0], 2);
  EXPECT_EQ(map->dimensions[1], 3);
  EXPECT_EQ(net.inLayer, 1);
  EXPECT_EQ(net.outLayer, 2);
  ASSERT_EQ(net.numLayers, 3);
  const char* types[] = {"Simple", "Input", "Simple"};
  const int counts[] = {0, 2, 6};
  for (int k = 0; k < 3; ++k) {
    ASSERT_NE(net.layers[k], nullptr);
    EXPECT_STREQ(net.layers[k]->GetLayerNType(), types[k]);
    EXPECT_EQ(net.layers[k]->numNeurons, counts[k]);
    EXPECT_EQ(net.layers[k]->layerNum, k);
  }
  EXPECT_EQ(net.layers[1]->GetActFunction(), &ActFnLinear);
  EXPECT_EQ(net.layers[2]->GetActFunction(), &ActFnLinear);
  for (int t = 0; t < 3; ++t) {
    for (int f = 0; f < 3; ++f) {
      EXPECT_EQ(Conn(net, f, t).IsConnected(), f == 1 && t == 2) << f << "->" << t;
    }
  }
  TBasicConnections& m = Conn(net, 1, 2);
  EXPECT_STREQ(m.GetConnectionsNType(), "FullyConnected");
  const double weights[2][6] = {{0.1, 1e-300, -0.5, 0.25, 3, -1e+20},
                                {0.7, 0.123456789012345, -2, 0, 1, -0.0001}};
  for (int f = 0; f < 2; ++f) {
    for (int t = 0; t < 6; ++t) {
      EXPECT_TRUE(SameBits(m.GetWeight(f, t), weights[f][t])) << f << "->" << t;
    }
  }
}

TEST(ReadNetworkTest, ReadsAMapInTheWritersLayout) {
  auto net = Read(kWriterMap);
  ASSERT_NE(net, nullptr);
  ExpectWriterMap(*net);
  EXPECT_EQ(net->layers[0]->GetActFunction(), &ActFnNull);
}

TEST(ReadNetworkTest, ItemOrderCaseCommasAndCommentsDoNotMatter) {
  auto net = Read(kShuffledMap);
  ASSERT_NE(net, nullptr);
  ExpectWriterMap(*net);
}

TEST(ReadNetworkTest, FormatVersionHeaderIsOptional) {
  std::string text = kWriterMap;
  text.erase(0, std::strlen("[FormatVersion = 1.0]"));
  auto net = Read(text);
  ASSERT_NE(net, nullptr);
  ExpectWriterMap(*net);
}

// A three-layer BASIC network: a bias neuron, a 2-neuron input layer and a
// 3-neuron gain layer.
const std::string kLayer0 =
    "[Layer = 0][LayerType = Simple][NumberOfNeurons = 1][All ActivationFunction=bias ][~Layer]\n";
const std::string kLayer1 =
    "[Layer = 1][LayerType = Input][NumberOfNeurons = 2][All ActivationFunction=linear ][~Layer]\n";
const std::string kLayer2 =
    "[Layer = 2][LayerType = Gain][NumberOfNeurons = 3][All ActivationFunction=sigmoid-gain ]"
    "[All Gain=0.5 ][~Layer]\n";
const std::string kLayers = kLayer0 + kLayer1 + kLayer2;

std::string Net(const std::string& body, const std::string& info = "[NumberOfLayers = 3]",
                const std::string& type = "Basic") {
  return "[NeuralNetwork]\n[NetworkType = " + type + "]\n[NetworkInformation]" + info +
         "[~NetworkInformation]\n" + body + "[~NeuralNetwork]\n";
}

/// The network with `layer2` in place of the gain layer.
std::string WithLayer2(const std::string& layer2) { return Net(kLayer0 + kLayer1 + layer2); }

/// The network with one or more connection blocks.
std::string WithConnections(const std::string& blocks) { return Net(kLayers + blocks); }

const std::string kMapHead =
    "[NeuralNetwork][NetworkType = Kohonen][NetworkInformation][NumberOfLayers = 3]"
    "[~NetworkInformation]\n";
const std::string kMapDims = "[Dimensions = 2][Dimension=0 Size=2 ][Dimension=1 Size=3 ][~Dimensions]\n";
const std::string kMapLayers =
    "[Layer = 0][LayerType = Simple][NumberOfNeurons = 0][~Layer]"
    "[Layer = 1][LayerType = Input][NumberOfNeurons = 2][All ActivationFunction=linear ][~Layer]"
    "[Layer = 2][LayerType = Simple][NumberOfNeurons = 6][All ActivationFunction=linear ][~Layer]\n";
const std::string kMapConn =
    "[ConnectionLayer][LayerFrom = 1][LayerTo = 2][ConnectionType = FullyConnected][~ConnectionLayer]\n";

std::string Map(const std::string& dims, const std::string& layers = kMapLayers,
                const std::string& conns = kMapConn) {
  return kMapHead + dims + layers + conns + "[~NeuralNetwork]";
}

TEST(ReadNetworkTest, BuildsTheNetworkClassesAndLayers) {
  auto net = Read(Net(kLayers));
  ASSERT_NE(net, nullptr);
  EXPECT_STREQ(net->GetNetworkNType(), "Basic");
  EXPECT_EQ(net->inLayer, 1);  // defaults: 1 and NumberOfLayers - 1
  EXPECT_EQ(net->outLayer, 2);
  EXPECT_STREQ(net->layers[0]->GetLayerNType(), "Simple");
  EXPECT_STREQ(net->layers[1]->GetLayerNType(), "Input");
  EXPECT_STREQ(net->layers[2]->GetLayerNType(), "Gain");
  EXPECT_EQ(net->layers[0]->GetActFunction(), &ActFnBias);
  EXPECT_EQ(net->layers[2]->GetActFunction(), &ActFnSigmoidGain);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Gain(*net->layers[2], i), 0.5);
  for (int t = 0; t < 3; ++t) {
    for (int f = 0; f < 3; ++f) EXPECT_FALSE(Conn(*net, f, t).IsConnected());
  }

  auto connected = Read(Net(kLayers, "[NumberOfLayers = 3]", "connected"));
  EXPECT_STREQ(connected->GetNetworkNType(), "Connected");

  auto roles = Read(Net(kLayers, "[OutputLayer = 1][BiasLayer = 0][NumberOfLayers = 3][InputLayer = 0]"
                                 "[NumberOfInputs = 1][NumberOfOutputs = 2][NumberOfLayers = 3]"));
  EXPECT_EQ(roles->inLayer, 0);
  EXPECT_EQ(roles->outLayer, 1);
}

TEST(ReadNetworkTest, LayerItemsMayComeInAnyOrder) {
  const char* blocks[] = {
      "[Layer = 1][LayerType = Input][NumberOfNeurons = 4][All ActivationFunction=linear ][~Layer]",
      "[Layer = 1][NumberOfNeurons = 4][LayerType = Input][ActivationFunction = linear][~Layer]",
      "[Layer = 1][ALL ActivationFunction=LINEAR][NumberOfNeurons = 4][LayerType = input][~Layer]",
  };
  for (const char* block : blocks) {
    SCOPED_TRACE(block);
    auto net = Read(Net(kLayer0 + block + kLayer2));
    ASSERT_NE(net, nullptr);
    TBasicLayer& layer = *net->layers[1];
    EXPECT_STREQ(layer.GetLayerNType(), "Input");
    EXPECT_EQ(layer.numNeurons, 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(layer.GetNeuron(i)->actFunction, &ActFnLinear);
  }
}

TEST(ReadNetworkTest, NeuronsBlockSharesOneParameterTable) {
  struct Case {
    const char* name;
    std::string layer;
    double gains[3];
    TActFunction fns[3];
  };
  const std::string head = "[Layer = 2][LayerType = Gain][NumberOfNeurons = 3]";
  const Case cases[] = {
      {"a gain carries over to the neurons read after it",
       head + "[Neurons][Neuron = 0 ActivationFunction=sigmoid Gain=2]"
              "[Neuron = 1 ActivationFunction=sigmoid][Neuron = 2 ActivationFunction=tanh]"
              "[~Neurons][~Layer]",
       {2, 2, 2},
       {&ActFnSigmoid, &ActFnSigmoid, &ActFnTanh}},
      {"without any gain the table holds 0.0",
       head + "[Neurons][Neuron = 0 ActivationFunction=sigmoid][Neuron = 1 ActivationFunction=sigmoid]"
              "[Neuron = 2 ActivationFunction=sigmoid][~Neurons][~Layer]",
       {0, 0, 0},
       {&ActFnSigmoid, &ActFnSigmoid, &ActFnSigmoid}},
      {"layer-wide values start the table; neurons in any order",
       head + "[All Gain=0.5][Neurons][Neuron = 2 ActivationFunction=linear]"
              "[Neuron = 0 ActivationFunction=linear Gain=3][Neuron = 1 ActivationFunction=linear]"
              "[~Neurons][~Layer]",
       {3, 3, 0.5},
       {&ActFnLinear, &ActFnLinear, &ActFnLinear}},
      {"a layer-wide function overrides the neurons' own",
       head + "[All ActivationFunction=tanh-gain][Neurons][Neuron = 0 ActivationFunction=linear Gain=1]"
              "[Neuron = 1 Gain=2][Neuron = 2][~Neurons][~Layer]",
       {1, 2, 2},
       {&ActFnTanhGain, &ActFnTanhGain, &ActFnTanhGain}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto net = Read(WithLayer2(c.layer));
    ASSERT_NE(net, nullptr);
    TBasicLayer& layer = *net->layers[2];
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(Gain(layer, i), c.gains[i]) << i;
      EXPECT_EQ(layer.GetNeuron(i)->actFunction, c.fns[i]) << i;
    }
  }
}

TEST(ReadNetworkTest, EmptyLayerWithEmptyNeuronsBlock) {
  auto net = Read(Net(kLayer1 + kLayer2 +
                      "[Layer = 0][LayerType = Gain][NumberOfNeurons = 0][Neurons][~Neurons][~Layer]"));
  ASSERT_NE(net, nullptr);
  EXPECT_EQ(net->layers[0]->numNeurons, 0);
}

// --- Failures of the network, header and layer blocks ---------------------------

struct ErrorCase {
  const char* name;
  std::string text;
  std::string message;
};

void ExpectErrors(const std::vector<ErrorCase>& cases) {
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadError(c.text), c.message);
  }
}

TEST(ReadNetworkTest, FailuresOfTheNetworkAndHeaderBlocks) {
  ExpectErrors({
      {"no network block", "[NetworkType = Basic]", "[NEURALNETWORK] expected"},
      {"empty input", "", "[NEURALNETWORK] expected"},
      {"no network type", "[NeuralNetwork][NetworkInformation]",
       "[NETWORKTYPE = <string>] expectedNetworkInformation"},
      {"no header block", "[NeuralNetwork][NetworkType = Basic][NumberOfLayers = 3]",
       "[NETWORKINFORMATION] expected"},
      {"two assignments in a header bracket", Net(kLayers, "[NumberOfLayers = 3 InputLayer = 1]"),
       "Too complicated statement"},
      {"unknown header keyword", Net(kLayers, "[NumberOfLayers = 3][Foo = 1]"), "Unknown keyword"},
      {"value converted before the keyword", Net(kLayers, "[NumberOfLayers = 3][Foo = x]"),
       "integer-expected"},
      {"bias layer not an integer", Net(kLayers, "[NumberOfLayers = 3][BiasLayer = x]"),
       "integer-expected"},
      {"start tag in the header", Net(kLayers, "[NumberOfLayers = 3][Layers]"), "End Tag expected"},
      {"no layer count", Net(kLayers, "[InputLayer = 1]"), "Must specify number of layers"},
      {"negative layer count", Net(kLayers, "[NumberOfLayers = -3]"),
       "Must specify number of layers"},
      {"unknown network type", Net(kLayers, "[NumberOfLayers = 3]", "Dense"),
       "Unknown network type"},
      {"header error beats type error", Net(kLayers, "[NumberOfLayers = 3][Foo = 1]", "Dense"),
       "Unknown keyword"},
      {"missing layer count beats type error", Net(kLayers, "", "Dense"),
       "Must specify number of layers"},
      {"item after the network block", Net(kLayers) + "[Layer = 3]", "End Tag expected"},
      {"token after the network block", Net(kLayers) + "5", "End Tag expected"},
      {"unknown item in the network block", Net(kLayers + "[Foo]"), "End Tag expected"},
      {"network block never closed", "[NeuralNetwork][NetworkType = Basic][NetworkInformation]"
                                     "[NumberOfLayers = 3][~NetworkInformation]" + kLayers,
       "Unexpected end of file"},
  });
}

TEST(ReadNetworkTest, FailuresOfTheDimensionsBlock) {
  ExpectErrors({
      {"no dimensions block", Map(""), "Missing dimensions in Kohonen"},
      {"dimension without size", Map("[Dimensions = 1][Dimension = 0][~Dimensions]"),
       "End Tag expected"},
      {"bracket not starting with Dimension", Map("[Dimensions = 1][Dim = 0 Size = 3][~Dimensions]"),
       "invalid dimension tag"},
      {"Size missing", Map("[Dimensions = 1][Dimension = 0 Foo = 3][~Dimensions]"),
       "'Size' tag required for dimension data"},
      {"more after Size", Map("[Dimensions = 1][Dimension = 0 Size = 3 Foo = 1][~Dimensions]"),
       "'Size' tag required for dimension data"},
      {"Size as a bare word", Map("[Dimensions = 1][Dimension = 0 Size][~Dimensions]"),
       "'Size' tag required for dimension data"},
      {"dimension count not an integer", Map("[Dimensions = two][~Dimensions]"), "integer-expected"},
  });
}

TEST(ReadNetworkTest, FailuresOfTheLayerBlocks) {
  const std::string gain = "[Layer = 2][LayerType = Gain][NumberOfNeurons = 3]";
  const std::string neurons = gain + "[All ActivationFunction=sigmoid-gain][All Gain=1][Neurons]";
  ExpectErrors({
      {"two assignments in a layer bracket",
       WithLayer2("[Layer = 2][NumberOfNeurons = 3 LayerType = Gain][~Layer]"),
       "Too complicated statement"},
      {"ALL with two assignments", WithLayer2(gain + "[ALL Gain=1 Foo=2][~Layer]"),
       "Too complicated statement"},
      {"ALL alone", WithLayer2(gain + "[ALL][~Layer]"), "[ALL] is incomplete statment"},
      {"ALL with a bare word", WithLayer2(gain + "[ALL Gain][~Layer]"),
       "Required syntax is [ALL <keyword>=<val>]"},
      {"input layer count differs from the header",
       Net(kLayers, "[NumberOfLayers = 3][NumberOfInputs = 5]"), "wrong number inputs in header"},
      {"output layer count differs from the header",
       Net(kLayers, "[NumberOfLayers = 3][NumberOfOutputs = 4]"), "wrong number outputs in header"},
      {"unknown layer type",
       WithLayer2("[Layer = 2][LayerType = Dense][NumberOfNeurons = 3][~Layer]"),
       "Unknown layer type"},
      {"neuron count not an integer",
       WithLayer2("[Layer = 2][LayerType = Gain][NumberOfNeurons = many][~Layer]"),
       "integer-expected"},
      {"gain not a number", WithLayer2(gain + "[All Gain=high][~Layer]"), "number-expected"},
      {"gain never given", WithLayer2(gain + "[All ActivationFunction=sigmoid-gain][~Layer]"),
       "Incomplete Layer information"},
      {"repeated neuron", WithLayer2(neurons + "[Neuron = 0][Neuron = 1][Neuron = 0][~Neurons][~Layer]"),
       "repeated neuron"},
      {"bare word in a neuron bracket", WithLayer2(neurons + "[Neuron = 0 Gain][~Neurons][~Layer]"),
       "Equals clause expected in neuron parameter"},
      {"no function for a neuron",
       WithLayer2(gain + "[All Gain=1][Neurons][Neuron = 0 ActivationFunction=linear][Neuron = 1]"
                         "[Neuron = 2 ActivationFunction=linear][~Neurons][~Layer]"),
       "No activation function defined"},
      {"input layer without a function of its own",
       WithLayer2("[Layer = 2][LayerType = Input][NumberOfNeurons = 1][Neurons][Neuron = 0]"
                  "[~Neurons][~Layer]"),
       "No activation function defined"},
      {"neuron left out", WithLayer2(neurons + "[Neuron = 0][Neuron = 2][~Neurons][~Layer]"),
       "Neuron not defined"},
      {"neuron left out beats a surplus item",
       WithLayer2(neurons + "[Neuron = 0][~Neurons][Foo = 1][~Layer]"), "Neuron not defined"},
      {"surplus item after the neurons",
       WithLayer2(neurons + "[Neuron = 0][Neuron = 1][Neuron = 2][~Neurons][Foo = 1][~Layer]"),
       "End Tag expected"},
      {"start tag in a layer block", WithLayer2(gain + "[All Gain=1][Foo][~Layer]"),
       "End Tag expected"},
      {"wrong end tag", WithLayer2(gain + "[All Gain=1][~Neurons]"), "Unexpected End Tag"},
  });
}

TEST(ReadNetworkTest, LoadNetworkReportsAFileThatCannotBeOpened) {
  FileTools tools;
  const auto dir = std::filesystem::temp_directory_path() / "kartlo_network_file_test";
  std::filesystem::create_directories(dir);
  const std::string missing = (dir / "missing.net").string();
  try {
    tools.LoadNetwork(missing.c_str());
    ADD_FAILURE() << "no error";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "Error on File Open");
    EXPECT_EQ(e.input, nullptr);
  }

  const std::string good = (dir / "map.net").string();
  { std::ofstream(good) << kWriterMap; }
  auto net = tools.LoadNetwork(good.c_str());
  ASSERT_NE(net, nullptr);
  ExpectWriterMap(*net);

  // An error inside the file does not point at the stream that was closed.
  { std::ofstream(good) << "[NeuralNetwork]"; }
  try {
    tools.LoadNetwork(good.c_str());
    ADD_FAILURE() << "no error";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "[NETWORKTYPE = <string>] expected");
    EXPECT_EQ(e.input, nullptr);
  }
  std::filesystem::remove_all(dir);
}

// --- Connection blocks -------------------------------------------------------------

std::string Block(const std::string& type, const std::string& body, int from = 1, int to = 2) {
  return "[ConnectionLayer]\n[LayerFrom = " + std::to_string(from) + "]\n[LayerTo = " +
         std::to_string(to) + "]\n[ConnectionType = " + type + "]\n" + body + "[~ConnectionLayer]\n";
}

/// Arcs of the 2 x 3 matrix from layer 1 to layer 2, as "f->t w T|F" lines.
std::string Arcs(TBasicNetwork& net) {
  TBasicConnections& m = Conn(net, 1, 2);
  std::string out;
  for (int f = 0; f < 2; ++f) {
    for (int t = 0; t < 3; ++t) {
      if (!m.IsValid(f, t)) continue;
      char line[64];
      std::snprintf(line, sizeof line, "%d->%d %g %c\n", f, t, m.GetWeight(f, t),
                    m.IsTrainable(f, t) ? 'T' : 'F');
      out += line;
    }
  }
  return out;
}

TEST(ConnectionBlockTest, BuildsTheMatrices) {
  struct Case {
    const char* name;
    std::string blocks;
    std::string arcs;
  };
  const std::string example = "[Matrix Weights TrainableInfo ]\n0.5 T - - 0.1 F\n- - 0.2 T 0.3 T\n[~Matrix]\n";
  const Case cases[] = {
      {"pruneable without cells has no arcs", Block("Pruneable", ""), ""},
      {"fully connected without cells keeps its zero weights",
       Block("fullyconnected", "[Attributes UnPrunable UnFreezable ]"),
       "0->0 0 T\n0->1 0 T\n0->2 0 T\n1->0 0 T\n1->1 0 T\n1->2 0 T\n"},
      {"the 2 x 3 example", Block("Pruneable", "[Attributes Pruneable Freezable ]" + example),
       "0->0 0.5 T\n0->2 0.1 F\n1->1 0.2 T\n1->2 0.3 T\n"},
      {"marks read before the weights",
       Block("PRUNEABLE", "[Matrix TrainableInfo Weights ] F 0.5 - - T 0.1 - - T 0.2 - 0.3 [~Matrix]"),
       "0->0 0.5 T\n0->2 0.1 T\n1->1 0.2 T\n1->2 0.3 T\n"},
      {"Matrix without columns has no cells", Block("Pruneable", "[Attributes][Matrix][~Matrix]"), ""},
      {"fully connected matrix layout",
       Block("FullyConnected", "[Matrix Weights ] 1 2 3 4 5 6 [~Matrix]"),
       "0->0 1 T\n0->1 2 T\n0->2 3 T\n1->0 4 T\n1->1 5 T\n1->2 6 T\n"},
      {"weight list with a mark",
       Block("Pruneable", "[WeightList][From=0 To=1 Weight=0.5 UnTrainable ][~WeightList]"),
       "0->1 0.5 F\n"},
      {"weight list defaults", Block("Pruneable", "[WeightList][To=1 From=0][~WeightList]"),
       "0->1 0 T\n"},
      {"weight list bracket starting with the mark",
       Block("Pruneable", "[WeightList][UnTrainable To=2 From=1 Weight=-1.5][Trainable From=0 To=0]"
                          "[~WeightList]"),
       "0->0 0 T\n1->2 -1.5 F\n"},
      {"weight list into a fully connected matrix",
       Block("FullyConnected", "[WeightList][From=1 To=2 Weight=7 Trainable ][~WeightList]"),
       "0->0 0 T\n0->1 0 T\n0->2 0 T\n1->0 0 T\n1->1 0 T\n1->2 7 T\n"},
      {"blocks applied in order",
       Block("Pruneable", example + "[WeightList][From=0 To=0 Weight=9 UnTrainable][~WeightList]"
                                    "[Matrix Weights] 1 - - - - - [~Matrix]"),
       "0->0 1 F\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto net = Read(WithConnections(c.blocks));
    ASSERT_NE(net, nullptr);
    EXPECT_EQ(Arcs(*net), c.arcs);
    EXPECT_EQ(Conn(*net, 1, 2).IsConnected(), true);
  }
}

TEST(ConnectionBlockTest, OppositePairsAreIndependent) {
  auto net = Read(WithConnections(Block("Pruneable", "", 1, 2) + Block("FullyConnected", "", 2, 1) +
                                  Block("Pruneable", "", 2, 2)));
  ASSERT_NE(net, nullptr);
  EXPECT_STREQ(Conn(*net, 1, 2).GetConnectionsNType(), "Pruneable");
  EXPECT_STREQ(Conn(*net, 2, 1).GetConnectionsNType(), "FullyConnected");
  EXPECT_TRUE(Conn(*net, 2, 2).IsConnected());
  EXPECT_FALSE(Conn(*net, 0, 2).IsConnected());
}

TEST(ConnectionBlockTest, WeightsAreReadExactly) {
  auto net = Read(WithConnections(Block(
      "Pruneable",
      "[Matrix Weights] 0.1 1e-300 -0 - 4.9406564584124654e-324 0.30000000000000004 [~Matrix]"
      "[WeightList][From=1 To=1 Weight=0.1][~WeightList]")));
  ASSERT_NE(net, nullptr);
  TBasicConnections& m = Conn(*net, 1, 2);
  EXPECT_TRUE(SameBits(m.GetWeight(0, 0), 0.1));
  EXPECT_TRUE(SameBits(m.GetWeight(0, 1), 1e-300));
  EXPECT_TRUE(SameBits(m.GetWeight(0, 2), -0.0));
  EXPECT_FALSE(m.IsValid(1, 0));
  EXPECT_TRUE(SameBits(m.GetWeight(1, 1), 0.1));
  EXPECT_TRUE(SameBits(m.GetWeight(1, 2), 0.30000000000000004));
}

TEST(ConnectionBlockTest, Failures) {
  const std::string example = "[Matrix Weights TrainableInfo ]\n0.5 T - - 0.1 F\n- - 0.2 T 0.3";
  ExpectErrors({
      {"two assignments in a head bracket",
       WithConnections("[ConnectionLayer][LayerFrom = 1 LayerTo = 2][~ConnectionLayer]"),
       "Too complicated statement"},
      {"unknown head keyword",
       WithConnections("[ConnectionLayer][LayerFrom = 1][Foo = 2][~ConnectionLayer]"),
       "Unknown keyword in connections"},
      {"LayerTo missing",
       WithConnections("[ConnectionLayer][LayerFrom = 1][ConnectionType = Pruneable][~ConnectionLayer]"),
       "Insufficient information to construct layer"},
      {"ConnectionType missing",
       WithConnections("[ConnectionLayer][LayerFrom = 1][LayerTo = 2][~ConnectionLayer]"),
       "Insufficient information to construct layer"},
      {"unknown ConnectionType", WithConnections(Block("Dense", "")),
       "Insufficient information to construct layer"},
      {"LayerFrom not an integer",
       WithConnections("[ConnectionLayer][LayerFrom = one][~ConnectionLayer]"), "integer-expected"},
      {"second block for a pair",
       WithConnections(Block("Pruneable", "") + Block("FullyConnected", "")),
       "Connections already defined"},
      {"assignment in the Matrix bracket", WithConnections(Block("Pruneable", "[Matrix Weights=1]")),
       "Keyword expected in matrix parameter"},
      {"unknown column", WithConnections(Block("Pruneable", "[Matrix Weights Values]")),
       "Unknown matrix attribute"},
      {"eleven tokens", WithConnections(Block("Pruneable", example + " [~Matrix]")),
       "Token Expected"},
      {"bracket in place of a cell",
       WithConnections(Block("Pruneable", "[Matrix Weights] 1 2 [X] 4 5 6 [~Matrix]")),
       "Token Expected"},
      {"thirteen tokens", WithConnections(Block("Pruneable", example + " T T [~Matrix]")),
       "End Tag expected"},
      {"weight not a number", WithConnections(Block("Pruneable", "[Matrix Weights] 1 2 x 4 5 6 [~Matrix]")),
       "number-expected"},
      {"unknown weight list keyword",
       WithConnections(Block("Pruneable", "[WeightList][From=0 To=1 Foo=2][~WeightList]")),
       "Unknown keyword in weights list"},
      {"From missing", WithConnections(Block("Pruneable", "[WeightList][To=1 Weight=1][~WeightList]")),
       "Insufficient information in weights list"},
      {"To missing", WithConnections(Block("Pruneable", "[WeightList][From=0 Weight=1][~WeightList]")),
       "Insufficient information in weights list"},
      {"weight not a number",
       WithConnections(Block("Pruneable", "[WeightList][From=0 To=1 Weight=x][~WeightList]")),
       "number-expected"},
      {"token in a weight list", WithConnections(Block("Pruneable", "[WeightList] 1 [~WeightList]")),
       "End Tag expected"},
      {"unknown item in the block", WithConnections(Block("Pruneable", "[Weights]")),
       "End Tag expected"},
  });
}

TEST(ConnectionBlockTest, UnknownBareKeywordIsEchoedBeforeTheError) {
  testing::internal::CaptureStdout();
  const std::string message = ReadError(
      WithConnections(Block("Pruneable", "[WeightList][From=0 To=1 Frozen ][~WeightList]")));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Frozen\n");
  EXPECT_EQ(message, "Unknown keyword in weights list");
}

// --- Input the reader refuses with messages of its own ------------------------------

TEST(ReadNetworkTest, RefusesInvalidStructure) {
  const std::string gain = "[Layer = 2][LayerType = Gain][NumberOfNeurons = 3]";
  ExpectErrors({
      {"input layer out of range", Net(kLayers, "[NumberOfLayers = 3][InputLayer = 5]"),
       "InputLayer 5 out of range (the network has 3 layers)"},
      {"negative input layer", Net(kLayers, "[NumberOfLayers = 3][InputLayer = -1]"),
       "InputLayer -1 out of range (the network has 3 layers)"},
      {"output layer out of range", Net(kLayers, "[NumberOfLayers = 3][OutputLayer = 3]"),
       "OutputLayer 3 out of range (the network has 3 layers)"},
      {"no layers at all", Net("", "[NumberOfLayers = 0]"),
       "InputLayer 1 out of range (the network has 0 layers)"},
      {"layer number out of range",
       Net(kLayers + "[Layer = 3][LayerType = Simple][NumberOfNeurons = 1][~Layer]"),
       "Layer 3 out of range (the network has 3 layers)"},
      {"negative layer number",
       Net(kLayers + "[Layer = -1][LayerType = Simple][NumberOfNeurons = 1][~Layer]"),
       "Layer -1 out of range (the network has 3 layers)"},
      {"layer defined twice", Net(kLayers + kLayer1), "Layer 1 defined twice"},
      {"layer never defined", Net(kLayer0 + kLayer2), "Layer 1 not defined"},
      {"layer type missing",
       WithLayer2("[Layer = 2][NumberOfNeurons = 3][All ActivationFunction=linear][~Layer]"),
       "Incomplete layer 2: LayerType and NumberOfNeurons are required"},
      {"neuron count missing", WithLayer2("[Layer = 2][LayerType = Simple][~Layer]"),
       "Incomplete layer 2: LayerType and NumberOfNeurons are required"},
      {"negative neuron count", WithLayer2("[Layer = 2][LayerType = Simple][NumberOfNeurons = -2][~Layer]"),
       "NumberOfNeurons -2 of layer 2 is negative"},
      {"neuron count repeated", WithLayer2(gain + "[NumberOfNeurons = 3][~Layer]"),
       "NumberOfNeurons of layer 2 given again after the layer was built"},
      {"parameter before the layer is built",
       WithLayer2("[Layer = 2][LayerType = Gain][Gain = 1][NumberOfNeurons = 3][~Layer]"),
       "Parameter Gain of layer 2 given before LayerType and NumberOfNeurons"},
      {"misspelt parameter", WithLayer2(gain + "[All Gian=1][~Layer]"),
       "Unknown keyword Gian in layer 2"},
      {"parameter of a simple layer",
       WithLayer2("[Layer = 2][LayerType = Simple][NumberOfNeurons = 3][Gain = 1][~Layer]"),
       "Unknown keyword Gain in layer 2"},
      {"misspelt neuron parameter",
       WithLayer2(gain + "[All Gain=1][Neurons][Neuron = 0 ActivationFunction=linear Gian=2][~Neurons][~Layer]"),
       "Unknown keyword Gian for neuron 0 of layer 2"},
      {"neuron out of range",
       WithLayer2(gain + "[All Gain=1][Neurons][Neuron = 3 ActivationFunction=linear][~Neurons][~Layer]"),
       "Neuron 3 out of range (layer 2 has 3 neurons)"},
      {"negative neuron number",
       WithLayer2(gain + "[All Gain=1][Neurons][Neuron = -1 ActivationFunction=linear][~Neurons][~Layer]"),
       "Neuron -1 out of range (layer 2 has 3 neurons)"},
      {"unregistered layer function", WithLayer2(gain + "[All ActivationFunction=relu][~Layer]"),
       "Unknown activation function relu"},
      {"unregistered neuron function",
       WithLayer2(gain + "[All Gain=1][Neurons][Neuron = 0 ActivationFunction=softmax][~Neurons][~Layer]"),
       "Unknown activation function softmax"},
  });
  // "error" is a registered name, not a lookup failure.
  auto net = Read(WithLayer2("[Layer = 2][LayerType = Simple][NumberOfNeurons = 1]"
                             "[All ActivationFunction=ERROR][~Layer]"));
  ASSERT_NE(net, nullptr);
  EXPECT_EQ(net->layers[2]->GetNeuron(0)->actFunction, &ActFnError);
}

TEST(ConnectionBlockTest, RefusesInvalidArcs) {
  ExpectErrors({
      {"LayerFrom out of range", WithConnections(Block("Pruneable", "", 3, 2)),
       "LayerFrom 3 out of range (the network has 3 layers)"},
      {"LayerTo out of range", WithConnections(Block("Pruneable", "", 1, 7)),
       "LayerTo 7 out of range (the network has 3 layers)"},
      {"undefined layer", Net(kLayer0 + kLayer1 + Block("Pruneable", "", 1, 2)),
       "LayerTo 2 names an undefined layer"},
      {"ten columns",
       WithConnections(Block("Pruneable", "[Matrix Weights TrainableInfo Weights Weights Weights "
                                          "Weights Weights Weights Weights TrainableInfo]")),
       "Matrix with more than nine columns"},
      {"'-' weight in a fully connected matrix",
       WithConnections(Block("FullyConnected", "[Matrix Weights] 1 2 - 4 5 6 [~Matrix]")),
       "Arc removed ('-') in a FullyConnected matrix"},
      {"'F' mark in a fully connected matrix",
       WithConnections(Block("FullyConnected", "[Matrix Weights TrainableInfo] 1 T 2 f [~Matrix]")),
       "Untrainable arc ('F') in a FullyConnected matrix"},
      {"'-' mark in a fully connected matrix",
       WithConnections(Block("FullyConnected", "[Matrix Weights TrainableInfo] 1 - [~Matrix]")),
       "Mark '-' for the existing arc 0 -> 0 (T or F required)"},
      {"bad mark where an arc exists",
       WithConnections(Block("Pruneable", "[Matrix Weights TrainableInfo] 1 T 2 X [~Matrix]")),
       "Mark 'X' for the existing arc 0 -> 1 (T or F required)"},
      {"UnTrainable in a fully connected matrix",
       WithConnections(Block("FullyConnected", "[WeightList][From=0 To=0 UnTrainable][~WeightList]")),
       "UnTrainable arc in a FullyConnected matrix"},
      {"From out of range",
       WithConnections(Block("Pruneable", "[WeightList][From=2 To=0][~WeightList]")),
       "From 2 out of range (the source layer has 2 neurons)"},
      {"To out of range",
       WithConnections(Block("Pruneable", "[WeightList][From=0 To=4294967296][~WeightList]")),
       "To 4294967296 out of range (the destination layer has 3 neurons)"},
  });
}

TEST(ReadNetworkTest, RefusesMapsThatCannotBeUsed) {
  const std::string layers5 =
      "[Layer = 0][LayerType = Simple][NumberOfNeurons = 0][~Layer]"
      "[Layer = 1][LayerType = Input][NumberOfNeurons = 2][All ActivationFunction=linear ][~Layer]"
      "[Layer = 2][LayerType = Simple][NumberOfNeurons = 5][All ActivationFunction=linear ][~Layer]";
  ExpectErrors({
      {"no grid dimensions", Map("[Dimensions = 0][~Dimensions]"),
       "Dimensions 0 out of range (1 to 1024)"},
      {"negative dimension count", Map("[Dimensions = -1][~Dimensions]"),
       "Dimensions -1 out of range (1 to 1024)"},
      {"huge dimension count", Map("[Dimensions = 2147483648][~Dimensions]"),
       "Dimensions 2147483648 out of range (1 to 1024)"},
      {"dimension number out of range",
       Map("[Dimensions = 2][Dimension=0 Size=2][Dimension=2 Size=3][~Dimensions]"),
       "Dimension 2 out of range (0 to 1)"},
      {"size left unset", Map("[Dimensions = 2][Dimension=0 Size=6][~Dimensions]"),
       "Size of dimension 1 not given"},
      {"size below one", Map("[Dimensions = 2][Dimension=0 Size=0][Dimension=1 Size=3][~Dimensions]"),
       "Size 0 of dimension 0 below 1"},
      {"grid size product overflows",
       Map("[Dimensions = 3][Dimension=0 Size=65536][Dimension=1 Size=65536][Dimension=2 Size=65536]"
           "[~Dimensions]"),
       "Kohonen grid too large (more than 2097152 nodes)"},
      {"map layer differs from the grid", Map(kMapDims, layers5),
       "Kohonen map layer has 5 neurons, its grid 6 nodes"},
      {"no connection into the map", Map(kMapDims, kMapLayers, ""),
       "Kohonen map without connections from layer 1 to layer 2"},
      {"layer 3 of a map", Map(kMapDims, kMapLayers + "[Layer = 3][LayerType = Simple][NumberOfNeurons = 1][~Layer]"),
       "Layer 3 out of range (the network has 3 layers)"},
  });
  auto net = Read(Map(kMapDims));
  ASSERT_NE(net, nullptr);
  EXPECT_EQ(dynamic_cast<TKohonenNetwork&>(*net).numDimensions, 2);
}

TEST(ReadNetworkTest, HugeCountsFailWithoutAllocating) {
  ExpectErrors({
      {"layer count 2^31", Net("", "[NumberOfLayers = 2147483648]"),
       "NumberOfLayers 2147483648 too large (at most 1024)"},
      {"layer count beyond long", Net("", "[NumberOfLayers = 99999999999999999999]"),
       "NumberOfLayers 9223372036854775807 too large (at most 1024)"},
      {"neuron count 2^31",
       WithLayer2("[Layer = 2][LayerType = Simple][NumberOfNeurons = 2147483648][~Layer]"),
       "NumberOfNeurons 2147483648 of layer 2 too large (a network holds at most 2097152 neurons)"},
      {"neuron count 2^32 + 1",
       WithLayer2("[Layer = 2][LayerType = Simple][NumberOfNeurons = 4294967297][~Layer]"),
       "NumberOfNeurons 4294967297 of layer 2 too large (a network holds at most 2097152 neurons)"},
      {"matrix of more than 2^26 arcs",
       Net("[Layer = 0][LayerType = Simple][NumberOfNeurons = 8192][~Layer]"
           "[Layer = 1][LayerType = Simple][NumberOfNeurons = 8193][~Layer]"
           "[Layer = 2][LayerType = Simple][NumberOfNeurons = 0][~Layer]" +
           Block("FullyConnected", "", 0, 1)),
       "Connections 0 -> 1 too large: 67117056 arcs (a network holds at most 67108864)"},
  });
}

TEST(ReadNetworkTest, ReadsALargeMapQuickly) {
  // 64 inputs, a 40 x 40 grid: 102400 weights in one Matrix block.
  constexpr int inputs = 64;
  constexpr int nodes = 1600;
  std::string text = kMapHead +
                     "[Dimensions = 2][Dimension=0 Size=40 ][Dimension=1 Size=40 ][~Dimensions]\n"
                     "[Layer = 0][LayerType = Simple][NumberOfNeurons = 0][~Layer]\n"
                     "[Layer = 1][LayerType = Input][NumberOfNeurons = 64][All ActivationFunction=linear ][~Layer]\n"
                     "[Layer = 2][LayerType = Simple][NumberOfNeurons = 1600][All ActivationFunction=linear ][~Layer]\n"
                     "[ConnectionLayer]\n[LayerFrom = 1]\n[LayerTo = 2]\n[ConnectionType = FullyConnected]\n"
                     "[Attributes UnPrunable UnFreezable ]\n[Matrix Weights ]\n";
  // The text of cell f -> t, and the weight it must give.
  const auto cell = [](int f, int t) {
    char text[32];
    std::snprintf(text, sizeof text, "%20.15g ", (f * nodes + t) * 0.001 - 50.0);
    return std::string(text);
  };
  for (int f = 0; f < inputs; ++f) {
    for (int t = 0; t < nodes; ++t) text += cell(f, t);
    text += " /* " + std::to_string(f) + " */\n";
  }
  text += "[~Matrix]\n[~ConnectionLayer]\n\n[~NeuralNetwork]\n";

  const auto start = std::chrono::steady_clock::now();
  auto net = Read(text);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_NE(net, nullptr);
  TBasicConnections& m = Conn(*net, 1, 2);
  for (const auto& [f, t] : {std::pair{0, 0}, std::pair{63, 1599}, std::pair{10, 7}, std::pair{40, 1000}}) {
    EXPECT_TRUE(SameBits(m.GetWeight(f, t), std::strtod(cell(f, t).c_str(), nullptr))) << f << "->" << t;
  }
  EXPECT_LT(seconds, 20.0);  // generous: sanitizer builds are slow, quadratic reading is not
}

}  // namespace
}  // namespace kartlo
