#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FileHandler/FileTools.h"
#include "FileHandler/NetworkWriter.h"
#include "KQmessage/StrCaseCmp.h"
#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TBasicLayer.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TConnectedNetwork.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "NeuralNets/TPrunedConnections.h"

namespace kartlo {
namespace {

std::string Write(TBasicNetwork& net) {
  FileTools tools;
  std::ostringstream out;
  tools.WriteNetwork(out, &net);
  return out.str();
}

std::unique_ptr<TBasicNetwork> Read(const std::string& text) {
  FileTools tools;
  std::istringstream in(text);
  return tools.ReadNetwork(in);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

/// The lines from the one equal to `first` up to and including the one equal to `last`.
std::vector<std::string> Block(const std::string& text, const std::string& first,
                               const std::string& last) {
  std::vector<std::string> block;
  bool inside = false;
  for (const std::string& line : Lines(text)) {
    if (line == first) inside = true;
    if (inside) block.push_back(line);
    if (inside && line == last) break;
  }
  return block;
}

TActFunction Fn(TBasicNetwork& net, const char* name) { return net.registry->Find(name); }

/// Puts a new matrix of class M at the pair f -> t.
template <class M>
M& Join(TBasicNetwork& net, int f, int t) {
  auto matrix = std::make_unique<M>(&net, f, t);
  M& ref = *matrix;
  net.priv_conns_index[t][f] = std::move(matrix);
  return ref;
}

/// Layer 0: one bias neuron; layer 1: 2 inputs; layer 2: 2 gain neurons of
/// "sigmoid-gain" with gains 1 and 2. Bias -> output fully connected (0.25, -0.5),
/// input -> output pruneable with the single untrainable arc 1 -> 0 of weight 2.5.
std::unique_ptr<TBasicNetwork> SmallBasic() {
  auto net = std::make_unique<TBasicNetwork>(3);
  net->layers[0] = std::make_unique<TSimpleLayer>(net.get(), 0, 1);
  net->layers[0]->SetActFunction(Fn(*net, "bias"));
  net->layers[1] = std::make_unique<TSimpleInputLayer>(net.get(), 1, 2);
  auto gain = std::make_unique<TGainLayer>(net.get(), 2, 2, 1.0);
  gain->SetActFunction(Fn(*net, "sigmoid-gain"));
  gain->nodes[1].gain = 2.0;
  net->layers[2] = std::move(gain);
  auto& bias = Join<TConnectedConnections>(*net, 0, 2);
  bias.GetWeight(0, 0) = 0.25;
  bias.GetWeight(0, 1) = -0.5;
  auto& pruned = Join<TPrunedConnections>(*net, 1, 2);
  for (int f = 0; f < 2; ++f)
    for (int t = 0; t < 2; ++t) pruned.PruneArc(f, t);
  pruned.AddArc(1, 0);
  pruned.SetUntrainable(1, 0);
  pruned.GetWeight(1, 0) = 2.5;
  return net;
}

TEST(NetworkWriterTest, WritesTheWholeFileInItsFixedLayout) {
  auto net = SmallBasic();
  EXPECT_EQ(Write(*net),
            "[FormatVersion = 1.0]\n"
            "\n"
            "[NeuralNetwork]\n"
            "[NetworkType = Basic]\n"
            "\n"
            "[NetworkInformation]\n"
            "[NumberOfLayers = 3]\n"
            "[InputLayer = 1]\n"
            "[OutputLayer = 2]\n"
            "[NumberOfInputs = 2]\n"
            "[NumberOfOutputs = 2]\n"
            "[BiasLayer = 0]\n"
            "[~NetworkInformation]\n"
            "\n"
            "[Layer = 0]\n"
            "[LayerType = Simple]\n"
            "[NumberOfNeurons = 1]\n"
            "[All ActivationFunction=bias ]\n"
            "[~Layer]\n"
            "\n"
            "[Layer = 1]\n"
            "[LayerType = Input]\n"
            "[NumberOfNeurons = 2]\n"
            "[All ActivationFunction=linear ]\n"
            "[~Layer]\n"
            "\n"
            "[Layer = 2]\n"
            "[LayerType = Gain]\n"
            "[NumberOfNeurons = 2]\n"
            "[All ActivationFunction=sigmoid-gain ]\n"
            "[Neurons]\n"
            "[Neuron=0 Gain=1.000000000000000 ]\n"
            "[Neuron=1 Gain=2.000000000000000 ]\n"
            "[~Neurons]\n"
            "[~Layer]\n"
            "\n"
            "[ConnectionLayer]\n"
            "[LayerFrom = 0]\n"
            "[LayerTo = 2]\n"
            "[ConnectionType = FullyConnected]\n"
            "[Attributes UnPrunable UnFreezable ]\n"
            "[Matrix Weights ]\n"
            "/* To->            0                    1  From */\n"
            "                0.25                 -0.5  /* 0 */\n"
            "[~Matrix]\n"
            "[~ConnectionLayer]\n"
            "\n"
            "[ConnectionLayer]\n"
            "[LayerFrom = 1]\n"
            "[LayerTo = 2]\n"
            "[ConnectionType = Pruneable]\n"
            "[Attributes Pruneable Freezable ]\n"
            "[WeightList]\n"
            "[From=1 To=0 Weight=2.500000000000000 UnTrainable ]\n"
            "[~WeightList]\n"
            "[~ConnectionLayer]\n"
            "\n"
            "[~NeuralNetwork]\n");
}

TEST(NetworkWriterTest, MatrixHeaderAndRowMatchTheDocumentedExampleLines) {
  struct Case {
    bool pruneable;
    const char* header;
    const char* row0;
  };
  const Case cases[] = {
      {false, "/* To->            0                    1  From */",
       "                0.25                 -0.5  /* 0 */"},
      {true, "/* To->              0                      1  From */",
       "                0.25 T                    - -  /* 0 */"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pruneable ? "pruneable" : "fully connected");
    TBasicNetwork net(2);
    net.layers[0] = std::make_unique<TSimpleInputLayer>(&net, 0, 2);
    net.layers[1] = std::make_unique<TSimpleLayer>(&net, 1, 2);
    net.layers[1]->SetActFunction(Fn(net, "linear"));
    net.inLayer = 0;
    if (c.pruneable) {
      auto& m = Join<TPrunedConnections>(net, 0, 1);
      m.GetWeight(0, 0) = 0.25;
      m.PruneArc(0, 1);  // three arcs of four stay: the Matrix layout
    } else {
      auto& m = Join<TConnectedConnections>(net, 0, 1);
      m.GetWeight(0, 0) = 0.25;
      m.GetWeight(0, 1) = -0.5;
    }
    const std::vector<std::string> lines = Lines(Write(net));
    std::size_t at = 0;
    while (at < lines.size() && lines[at].rfind("[Matrix", 0) != 0) ++at;
    ASSERT_LT(at + 2, lines.size());
    EXPECT_EQ(lines[at], c.pruneable ? "[Matrix Weights TrainableInfo ]" : "[Matrix Weights ]");
    EXPECT_EQ(lines[at + 1], c.header);
    EXPECT_EQ(lines[at + 2], c.row0);
  }
}

TEST(NetworkWriterTest, MatrixCellsAreTheStreamsGeneralFormatAtPrecision15) {
  const double weights[] = {1.0 / 3.0, -2.0 / 3.0, 1e-5,   123456789012345.67, 1e16, -0.0,
                            5e-324,    1e300,      0.1,    999999999999999.5,  42.0, 1e-4};
  const int n = static_cast<int>(std::size(weights));
  TBasicNetwork net(2);
  net.layers[0] = std::make_unique<TSimpleInputLayer>(&net, 0, 1);
  net.layers[1] = std::make_unique<TSimpleLayer>(&net, 1, n);
  net.layers[1]->SetActFunction(Fn(net, "linear"));
  net.inLayer = 0;
  auto& m = Join<TConnectedConnections>(net, 0, 1);
  for (int t = 0; t < n; ++t) m.GetWeight(0, t) = weights[t];

  FileTools tools;
  std::ostringstream out;
  tools.WriteNetwork(out, &net);
  EXPECT_EQ(out.precision(), 15);
  std::string row;
  for (const std::string& line : Lines(out.str())) {
    if (line.find("/* 0 */") != std::string::npos) row = line;
  }
  std::string expected;
  for (double w : weights) {
    std::ostringstream cell;
    cell.precision(15);
    cell.width(20);
    cell << w;
    expected += cell.str() + " ";
  }
  EXPECT_EQ(row, expected + " /* 0 */");
  // Read back, every weight equals its 15-significant-digit text.
  auto back = Read(out.str());
  for (int t = 0; t < n; ++t) {
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", weights[t]);
    EXPECT_EQ(back->priv_conns_index[1][0]->GetWeight(0, t), std::strtod(text, nullptr)) << t;
  }
}

// ---- Layers -------------------------------------------------------------------------

struct LayerCase {
  const char* name;
  std::vector<double> gains;
  std::vector<const char*> functions;  ///< one per neuron
  std::vector<std::string> block;      ///< the lines after NumberOfNeurons up to [~Layer]
};

TEST(NetworkWriterTest, LayerBlockWritesSharedSettingsOnceAndTheRestPerNeuron) {
  const LayerCase cases[] = {
      {"one function, equal gains", {1.0, 1.0, 1.0}, {"sigmoid-gain", "sigmoid-gain", "sigmoid-gain"},
       {"[All ActivationFunction=sigmoid-gain ]", "[All Gain=1.000000000000000 ]", "[~Layer]"}},
      {"one gain differs", {1.0, 2.0, 1.0}, {"tanh-gain", "tanh-gain", "tanh-gain"},
       {"[All ActivationFunction=tanh-gain ]", "[Neurons]", "[Neuron=0 Gain=1.000000000000000 ]",
        "[Neuron=1 Gain=2.000000000000000 ]", "[Neuron=2 Gain=1.000000000000000 ]", "[~Neurons]",
        "[~Layer]"}},
      {"functions differ, equal gains", {0.5, 0.5, 0.5}, {"linear-gain", "sigmoid-gain", "linear-gain"},
       {"[All Gain=0.500000000000000 ]", "[Neurons]", "[Neuron=0 ActivationFunction=linear-gain ]",
        "[Neuron=1 ActivationFunction=sigmoid-gain ]", "[Neuron=2 ActivationFunction=linear-gain ]",
        "[~Neurons]", "[~Layer]"}},
      {"everything differs; long values in full", {12345.5, -250.125, 0.0}, {"linear", "tanh", "bias"},
       {"[Neurons]", "[Neuron=0 ActivationFunction=linear Gain=12345.500000000000000 ]",
        "[Neuron=1 ActivationFunction=tanh Gain=-250.125000000000000 ]",
        "[Neuron=2 ActivationFunction=bias Gain=0.000000000000000 ]", "[~Neurons]", "[~Layer]"}},
      {"no neurons", {}, {},
       {"[All ActivationFunction=null ]", "[~Layer]"}},
  };
  for (const LayerCase& c : cases) {
    SCOPED_TRACE(c.name);
    const int count = static_cast<int>(c.gains.size());
    TBasicNetwork net(2);
    net.layers[0] = std::make_unique<TSimpleInputLayer>(&net, 0, 1);
    auto layer = std::make_unique<TGainLayer>(&net, 1, count, 1.0);
    for (int j = 0; j < count; ++j) {
      layer->nodes[j].gain = c.gains[j];
      layer->nodes[j].SetActFunction(Fn(net, c.functions[j]));
    }
    net.layers[1] = std::move(layer);
    net.inLayer = 0;
    const std::string text = Write(net);
    std::vector<std::string> expected = {"[Layer = 1]", "[LayerType = Gain]",
                                         "[NumberOfNeurons = " + std::to_string(count) + "]"};
    expected.insert(expected.end(), c.block.begin(), c.block.end());
    EXPECT_EQ(Block(text, "[Layer = 1]", "[~Layer]"), expected);

    auto back = Read(text);
    TBasicLayer& read = *back->layers[1];
    EXPECT_STREQ(read.GetLayerNType(), "Gain");
    ASSERT_EQ(read.numNeurons, count);
    for (int j = 0; j < count; ++j) {
      EXPECT_EQ(read.GetNeuron(j)->GetActFunction(), Fn(net, c.functions[j])) << j;
      EXPECT_EQ(read.GetNeuron(j)->GetGain(), c.gains[j]) << j;
    }
    EXPECT_EQ(Write(*back), text);
  }
}

TEST(NetworkWriterTest, ZeroNeuronSimpleLayerHasNullFunctionAndNoNeuronsBlock) {
  TBasicNetwork net(3);
  net.layers[0] = std::make_unique<TSimpleLayer>(&net, 0, 0);
  net.layers[1] = std::make_unique<TSimpleInputLayer>(&net, 1, 2);
  net.layers[2] = std::make_unique<TSimpleLayer>(&net, 2, 1);
  net.layers[2]->SetActFunction(Fn(net, "tanh"));
  const std::string text = Write(net);
  EXPECT_EQ(Block(text, "[Layer = 0]", "[~Layer]"),
            (std::vector<std::string>{"[Layer = 0]", "[LayerType = Simple]",
                                      "[NumberOfNeurons = 0]", "[All ActivationFunction=null ]",
                                      "[~Layer]"}));
  auto back = Read(text);
  EXPECT_EQ(back->layers[0]->numNeurons, 0);
  EXPECT_EQ(Write(*back), text);
}

// ---- Header ------------------------------------------------------------------------------

TEST(NetworkWriterTest, BiasLayerLineOnlyForOneNeuronBiasLayers) {
  TBasicNetwork net(4);
  net.layers[0] = std::make_unique<TSimpleLayer>(&net, 0, 0);
  net.layers[0]->SetActFunction(Fn(net, "bias"));  // no neurons: not a bias layer
  net.layers[1] = std::make_unique<TSimpleInputLayer>(&net, 1, 2);
  net.layers[2] = std::make_unique<TSimpleLayer>(&net, 2, 1);
  net.layers[2]->SetActFunction(Fn(net, "bias"));
  net.layers[3] = std::make_unique<TSimpleLayer>(&net, 3, 1);
  net.layers[3]->SetActFunction(Fn(net, "linear"));
  EXPECT_EQ(Block(Write(net), "[NumberOfOutputs = 1]", "[~NetworkInformation]"),
            (std::vector<std::string>{"[NumberOfOutputs = 1]", "[BiasLayer = 2]",
                                      "[~NetworkInformation]"}));
}

TEST(NetworkWriterTest, TwoNeuronBiasLayerFailsAfterTheHeaderLines) {
  auto net = SmallBasic();
  net->layers[2]->SetActFunction(Fn(*net, "bias"));
  FileTools tools;
  std::ostringstream out;
  try {
    tools.WriteNetwork(out, net.get());
    FAIL() << "no error";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "Illegal number of bias nodes");
    EXPECT_EQ(e.output, &out);
    EXPECT_EQ(e.input, nullptr);
  }
  const std::string text = out.str();
  EXPECT_TRUE(text.ends_with("[NumberOfOutputs = 2]\n[BiasLayer = 0]\n")) << text;
}

// ---- Refusals ----------------------------------------------------------------------------

void UnregisteredFunction(TBasicNeuron* neuron, double net) { *neuron->value = net; }

TEST(NetworkWriterTest, RefusesNetworksItCannotStoreBeforeWritingAnything) {
  struct Case {
    const char* name;
    void (*spoil)(TBasicNetwork& net);
    const char* message;
  };
  const Case cases[] = {
      {"empty layer entry", [](TBasicNetwork& net) { net.layers[1].reset(); },
       "Layer 1 is missing"},
      {"layer function without a name",
       [](TBasicNetwork& net) { net.layers[0]->SetActFunction(&UnregisteredFunction); },
       "Activation function of layer 0 has no registered name"},
      {"neuron function without a name",
       [](TBasicNetwork& net) { net.layers[2]->GetNeuron(1)->SetActFunction(&UnregisteredFunction); },
       "Activation function of neuron 1 of layer 2 has no registered name"},
      {"neuron without any function",
       [](TBasicNetwork& net) { net.layers[2]->GetNeuron(0)->SetActFunction(nullptr); },
       "Activation function of neuron 0 of layer 2 has no registered name"},
      {"input layer beyond the layers", [](TBasicNetwork& net) { net.inLayer = 3; },
       "Input layer 3 is not a layer of the network"},
      {"output layer unset", [](TBasicNetwork& net) { net.outLayer = -1; },
       "Output layer -1 is not a layer of the network"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto net = SmallBasic();
    c.spoil(*net);
    FileTools tools;
    std::ostringstream out;
    try {
      tools.WriteNetwork(out, net.get());
      ADD_FAILURE() << "no error";
    } catch (const FileTools::Error& e) {
      EXPECT_EQ(e.message, c.message);
      EXPECT_EQ(e.output, &out);
      EXPECT_EQ(e.input, nullptr);
    }
    EXPECT_EQ(out.str(), "");
  }
}

// ---- Connection blocks -------------------------------------------------------------------

TEST(NetworkWriterTest, ConnectionBlocksFollowFromLayerThenToLayer) {
  TBasicNetwork net(3);
  net.layers[0] = std::make_unique<TSimpleLayer>(&net, 0, 1);
  net.layers[0]->SetActFunction(Fn(net, "bias"));
  net.layers[1] = std::make_unique<TSimpleInputLayer>(&net, 1, 2);
  net.layers[2] = std::make_unique<TSimpleLayer>(&net, 2, 2);
  net.layers[2]->SetActFunction(Fn(net, "sigmoid"));
  net.Connect(2, 1);
  net.Connect(1, 2);
  net.Connect(0, 2);
  net.Connect(0, 1);
  const std::string text = Write(net);
  std::vector<std::string> pairs;
  const std::vector<std::string> lines = Lines(text);
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i].rfind("[LayerFrom = ", 0) == 0) pairs.push_back(lines[i] + lines[i + 1]);
  }
  EXPECT_EQ(pairs, (std::vector<std::string>{"[LayerFrom = 0][LayerTo = 1]",
                                             "[LayerFrom = 0][LayerTo = 2]",
                                             "[LayerFrom = 1][LayerTo = 2]",
                                             "[LayerFrom = 2][LayerTo = 1]"}));
  EXPECT_EQ(Write(*Read(text)), text);
}

TEST(NetworkWriterTest, LayoutTurnsToMatrixAt35ArcsOfATenByTenPruneableMatrix) {
  struct Case {
    int arcs;
    const char* layout;
  };
  for (const Case& c : {Case{34, "[WeightList]"}, Case{35, "[Matrix Weights TrainableInfo ]"}}) {
    SCOPED_TRACE(c.arcs);
    TBasicNetwork net(2);
    net.layers[0] = std::make_unique<TSimpleInputLayer>(&net, 0, 10);
    net.layers[1] = std::make_unique<TSimpleLayer>(&net, 1, 10);
    net.layers[1]->SetActFunction(Fn(net, "linear"));
    net.inLayer = 0;
    auto& m = Join<TPrunedConnections>(net, 0, 1);
    for (int k = c.arcs; k < 100; ++k) m.PruneArc(k % 10, k / 10);
    for (int k = 0; k < c.arcs; ++k) m.GetWeight(k % 10, k / 10) = (k - 17) / 8.0;
    m.SetUntrainable(3, 2);
    const std::string text = Write(net);
    EXPECT_NE(text.find(std::string("\n") + c.layout + "\n"), std::string::npos);
    auto back = Read(text);
    TBasicConnections& r = *back->priv_conns_index[1][0];
    for (int f = 0; f < 10; ++f) {
      for (int t = 0; t < 10; ++t) {
        const int k = t * 10 + f;
        ASSERT_EQ(r.IsValid(f, t), k < c.arcs) << f << "->" << t;
        if (k >= c.arcs) continue;
        EXPECT_EQ(r.GetWeight(f, t), (k - 17) / 8.0);
        EXPECT_EQ(r.IsTrainable(f, t), !(f == 3 && t == 2));
      }
    }
    EXPECT_EQ(Write(*back), text);
  }
}

TEST(NetworkWriterTest, WeightListVisitorWritesOneBracketPerArc) {
  TBasicNetwork net(2);
  net.layers[0] = std::make_unique<TSimpleInputLayer>(&net, 0, 1);
  net.layers[1] = std::make_unique<TSimpleLayer>(&net, 1, 4);
  auto& m = Join<TPrunedConnections>(net, 0, 1);
  m.PruneArc(0, 0);
  m.GetWeight(0, 3) = 0.25;
  m.SetUntrainable(0, 1);
  m.GetWeight(0, 2) = -1234.5;
  FileTools tools;
  for (bool marks : {true, false}) {
    std::ostringstream out;
    TIterateObjSaveWeights saver(tools, out, marks, 15);
    m.Iterate(saver, FMaskExists);
    EXPECT_EQ(out.str(), marks ? "[From=0 To=1 Weight=0.000000000000000 UnTrainable ]\n"
                                 "[From=0 To=2 Weight=-1234.500000000000000 Trainable ]\n"
                                 "[From=0 To=3 Weight=0.250000000000000 Trainable ]\n"
                               : "[From=0 To=1 Weight=0.000000000000000 ]\n"
                                 "[From=0 To=2 Weight=-1234.500000000000000 ]\n"
                                 "[From=0 To=3 Weight=0.250000000000000 ]\n");
  }
  TIterateObjCount counter;
  m.Iterate(counter, FMaskExists);
  EXPECT_EQ(counter.count, 3);
}

// ---- Round trips -------------------------------------------------------------------------

/// Text of `w` as the layout of its matrix writes it, read back as the reader does.
double AsWritten(double w, bool matrixLayout) {
  char text[400];
  std::snprintf(text, sizeof text, matrixLayout ? "%.15g" : "%.15f", w);
  return std::strtod(text, nullptr);
}

void ExpectSameNetwork(TBasicNetwork& a, TBasicNetwork& b) {
  EXPECT_STREQ(a.GetNetworkNType(), b.GetNetworkNType());
  ASSERT_EQ(a.numLayers, b.numLayers);
  EXPECT_EQ(a.inLayer, b.inLayer);
  EXPECT_EQ(a.outLayer, b.outLayer);
  const int n = a.numLayers;
  for (int k = 0; k < n; ++k) {
    SCOPED_TRACE("layer " + std::to_string(k));
    TBasicLayer& la = *a.layers[k];
    TBasicLayer& lb = *b.layers[k];
    EXPECT_STREQ(la.GetLayerNType(), lb.GetLayerNType());
    ASSERT_EQ(la.numNeurons, lb.numNeurons);
    EXPECT_EQ(la.GetActFunction(), lb.GetActFunction());
    for (int j = 0; j < la.numNeurons; ++j) {
      TBasicNeuron* na = la.GetNeuron(j);
      TBasicNeuron* nb = lb.GetNeuron(j);
      EXPECT_EQ(na->GetActFunction(), nb->GetActFunction()) << j;
      ASSERT_EQ(na->GetNumParams(), nb->GetNumParams());
      std::vector<double> pa(na->GetNumParams()), pb(nb->GetNumParams());
      na->GetParams(pa.data());
      nb->GetParams(pb.data());
      for (std::size_t p = 0; p < pa.size(); ++p) EXPECT_EQ(AsWritten(pa[p], false), pb[p]);
    }
  }
  for (int f = 0; f < n; ++f) {
    for (int t = 0; t < n; ++t) {
      SCOPED_TRACE(std::to_string(f) + "->" + std::to_string(t));
      TBasicConnections& ma = *a.priv_conns_index[t][f];
      TBasicConnections& mb = *b.priv_conns_index[t][f];
      ASSERT_EQ(ma.IsConnected(), mb.IsConnected());
      if (!ma.IsConnected()) continue;
      EXPECT_STREQ(ma.GetConnectionsNType(), mb.GetConnectionsNType());
      const int nFrom = a.layers[f]->numNeurons;
      const int nTo = a.layers[t]->numNeurons;
      TIterateObjCount counter;
      ma.Iterate(counter, FMaskExists);
      const bool matrixLayout = !(0.35 * nFrom * nTo > counter.count);
      for (int i = 0; i < nFrom; ++i) {
        for (int j = 0; j < nTo; ++j) {
          ASSERT_EQ(ma.IsValid(i, j), mb.IsValid(i, j)) << i << "->" << j;
          if (!ma.IsValid(i, j)) continue;
          EXPECT_EQ(ma.IsTrainable(i, j), mb.IsTrainable(i, j)) << i << "->" << j;
          EXPECT_EQ(AsWritten(ma.GetWeight(i, j), matrixLayout), mb.GetWeight(i, j))
              << i << "->" << j;
        }
      }
    }
  }
}

/// Writes `net`, reads it back, compares, and checks that writing the copy gives the same text.
void ExpectRoundTrip(TBasicNetwork& net) {
  const std::string text = Write(net);
  std::unique_ptr<TBasicNetwork> back;
  ASSERT_NO_THROW(back = Read(text)) << text;
  ExpectSameNetwork(net, *back);
  EXPECT_EQ(Write(*back), text);
}

TEST(NetworkWriterTest, BasicNetworkWithBiasAndPrunedArcsRoundTrips) {
  std::srand(7);
  TBasicNetwork net(4);
  net.layers[0] = std::make_unique<TSimpleLayer>(&net, 0, 1);
  net.layers[0]->SetActFunction(Fn(net, "bias"));
  net.layers[1] = std::make_unique<TSimpleInputLayer>(&net, 1, 5);
  net.layers[2] = std::make_unique<TSimpleLayer>(&net, 2, 4);
  net.layers[2]->SetActFunction(Fn(net, "sigmoid"));
  net.layers[3] = std::make_unique<TSimpleLayer>(&net, 3, 3);
  net.layers[3]->SetActFunction(Fn(net, "linear"));
  net.GetNeuron(1 + 5 + 4 + 1)->SetActFunction(Fn(net, "saturated-linear"));
  auto& hidden = Join<TPrunedConnections>(net, 1, 2);  // Matrix layout, marks and gaps
  auto& out = Join<TPrunedConnections>(net, 2, 3);     // WeightList layout
  Join<TConnectedConnections>(net, 0, 2);
  Join<TConnectedConnections>(net, 0, 3);
  net.Randomize(-3.0, 3.0);
  hidden.PruneArc(0, 0);
  hidden.PruneArc(4, 3);
  hidden.SetUntrainable(2, 1);
  hidden.GetWeight(1, 1) = 1.0 / 3.0;
  for (int f = 0; f < 4; ++f)
    for (int t = 0; t < 3; ++t)
      if (f != t) out.PruneArc(f, t);
  out.SetUntrainable(1, 1);
  out.GetWeight(2, 2) = 2.0 / 3.0;
  const std::string text = Write(net);
  EXPECT_NE(text.find("[Matrix Weights TrainableInfo ]"), std::string::npos);
  EXPECT_NE(text.find("[WeightList]"), std::string::npos);
  EXPECT_NE(text.find("[BiasLayer = 0]"), std::string::npos);
  ExpectRoundTrip(net);
}

TEST(NetworkWriterTest, ConnectedNetworkWithGainLayerRoundTrips) {
  std::srand(11);
  const int sizes[] = {1, 3, 4};
  TConnectedNetwork net(3, sizes);
  net.layers[0]->SetActFunction(Fn(net, "bias"));
  auto gain = std::make_unique<TGainLayer>(&net, 2, 4, 1.0);
  gain->SetActFunction(Fn(net, "tanh-gain"));
  gain->nodes[0].gain = 0.5;
  gain->nodes[2].gain = 1.0 / 7.0;
  gain->nodes[3].gain = 1500.25;
  net.layers[2] = std::move(gain);
  net.Connect(1, 2);
  net.Connect(0, 2);
  net.Randomize(-1.0, 1.0);
  const std::string text = Write(net);
  EXPECT_NE(text.find("[NetworkType = Connected]"), std::string::npos);
  EXPECT_NE(text.find("[Neuron=3 Gain=1500.250000000000000 ]"), std::string::npos);
  ExpectRoundTrip(net);
}

TEST(NetworkWriterTest, KohonenMapsOfOneTwoAndThreeDimensionsRoundTrip) {
  struct Case {
    std::vector<int> sizes;
    int inputs;
  };
  const Case cases[] = {{{7}, 3}, {{3, 4}, 2}, {{2, 3, 2}, 4}};
  std::srand(3);
  for (const Case& c : cases) {
    const int d = static_cast<int>(c.sizes.size());
    SCOPED_TRACE(d);
    TKohonenNetwork map(c.inputs, d, c.sizes.data());
    map.Randomize(-1.0, 1.0);
    const std::string text = Write(map);
    std::vector<std::string> dims = {"[Dimensions = " + std::to_string(d) + "]"};
    for (int j = 0; j < d; ++j) {
      dims.push_back("[Dimension=" + std::to_string(j) + " Size=" + std::to_string(c.sizes[j]) +
                     " ]");
    }
    dims.push_back("[~Dimensions]");
    EXPECT_EQ(Block(text, dims.front(), "[~Dimensions]"), dims);
    EXPECT_NE(text.find("[~NetworkInformation]\n\n[Dimensions = "), std::string::npos);
    ExpectRoundTrip(map);
    auto back = Read(text);
    auto* read = dynamic_cast<TKohonenNetwork*>(back.get());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->numDimensions, d);
    std::vector<int> got(d);
    read->GetDimensions(got.data());
    EXPECT_EQ(got, c.sizes);
  }
}

TEST(NetworkWriterTest, LargeMapIsWrittenAsAMatrixAndReadsBackExactly) {
  const int sizes[] = {40, 40};
  TKohonenNetwork map(64, 2, sizes);
  std::srand(5);
  map.Randomize(-1.0, 1.0);
  const std::string text = Write(map);
  const std::vector<std::string> matrix = Block(text, "[Matrix Weights ]", "[~Matrix]");
  ASSERT_EQ(matrix.size(), 1u + 1u + 64u + 1u);
  auto back = Read(text);
  TBasicConnections& a = *map.priv_conns_index[2][1];
  TBasicConnections& b = *back->priv_conns_index[2][1];
  for (int i = 0; i < 64; ++i)
    for (int j = 0; j < 1600; ++j) ASSERT_EQ(AsWritten(a.GetWeight(i, j), true), b.GetWeight(i, j));
  EXPECT_EQ(Write(*back), text);
}

// ---- Files -------------------------------------------------------------------------------

class NetworkWriterFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("kartlo_writer_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static std::string Contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  /// The message SaveNetwork fails with, or "" when it succeeds.
  static std::string SaveError(const std::string& path, TBasicNetwork& net) {
    FileTools tools;
    try {
      tools.SaveNetwork(path.c_str(), &net);
    } catch (const FileTools::Error& e) {
      EXPECT_EQ(e.input, nullptr);
      EXPECT_EQ(e.output, nullptr);  // the file's stream is gone once SaveNetwork returns
      return e.message;
    }
    return "";
  }

  std::filesystem::path dir_;
};

TEST_F(NetworkWriterFileTest, SavedFileHoldsWhatWriteNetworkWritesAndLoadsBack) {
  auto net = SmallBasic();
  const std::string path = (dir_ / "net.txt").string();
  std::ofstream(path) << "old content that is longer than nothing at all";
  ASSERT_EQ(SaveError(path, *net), "");
  EXPECT_EQ(Contents(path), Write(*net));
  FileTools tools;
  auto back = tools.LoadNetwork(path.c_str());
  ExpectSameNetwork(*net, *back);
}

TEST_F(NetworkWriterFileTest, SaveReportsFilesThatCannotBeWritten) {
  auto net = SmallBasic();
  const std::string missing = (dir_ / "no" / "such" / "net.txt").string();
  EXPECT_EQ(SaveError(missing, *net), "Cannot write network file " + missing);
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_EQ(SaveError("/dev/full", *net), "Cannot write network file /dev/full");
  }
}

TEST_F(NetworkWriterFileTest, FailedWriteLeavesAnExistingFileUntouched) {
  auto net = SmallBasic();
  net->layers[2]->SetActFunction(Fn(*net, "bias"));
  const std::string path = (dir_ / "net.txt").string();
  std::ofstream(path) << "previous";
  EXPECT_EQ(SaveError(path, *net), "Illegal number of bias nodes");
  EXPECT_EQ(Contents(path), "previous");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

}  // namespace
}  // namespace kartlo
