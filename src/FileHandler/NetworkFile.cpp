// Network file reader: the network block, its header, the Kohonen grid, the
// layer blocks with their neurons, and the connection blocks with their dense
// Matrix and sparse WeightList layouts.

#include <algorithm>
#include <cstddef>
#include <fstream>
#include <iostream>
#include <istream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FileHandler/FileTools.h"
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

// Limits that keep a hostile file from exhausting memory before anything is
// read: the matrix table grows with the square of the layer count, layers with
// their neurons, matrices with their arcs.
constexpr long kMaxLayers = 1024;
constexpr long kMaxNeurons = 1L << 21;  ///< all layers of a network together
constexpr long kMaxArcs = 1L << 26;     ///< all matrices of a network together
constexpr long kMaxDimensions = 1024;
constexpr std::size_t kMaxMatrixColumns = 9;

bool Is(const std::string& text, const char* upper) {
  return strcasecmp(text.c_str(), upper) == 0;
}

/// True for "T"/"t" or "F"/"f" as `letter` says.
bool IsMark(const std::string& token, char letter) {
  return token.size() == 1 && (token[0] == letter || token[0] == letter + ('a' - 'A'));
}

/// Reads one network file; holds the network under construction, which is
/// released if reading stops with an error.
class NetworkReader {
 public:
  NetworkReader(FileTools& tools, std::istream& in) : tools_(tools), in_(in) {}

  std::unique_ptr<TBasicNetwork> Read();

 private:
  /// State of one layer block.
  struct LayerState {
    long number = 0;
    std::string name;  ///< the block's name, for its end tag
    long count = -1;
    bool countGiven = false;
    std::string type;
    bool typeGiven = false;
    TBasicLayer* layer = nullptr;  ///< owned by the network once built
    TActFunction common = nullptr;
    int numParams = 0;
    std::vector<double> params;
    std::vector<char> paramSet;
    std::vector<char> defined;
  };

  /// State of one connection block.
  struct ConnState {
    std::string name;
    TBasicConnections* conn = nullptr;  ///< owned by the network
    bool pruneable = false;
    int nFrom = 0;
    int nTo = 0;
  };

  TagInfo Next(const std::string& block) { return tools_.ReadTag(in_, block.c_str(), false); }
  TagInfo NextTop() { return tools_.ReadTag(in_, nullptr, false); }
  TagInfo Continued(const char* block) { return tools_.ReadTag(in_, block, true); }
  [[noreturn]] void Fail(std::string message) { FileTools::Fail(in_, std::move(message)); }
  long Integer(const std::string& text) { return tools_.ParseInteger(in_, text.c_str()); }
  double Number(const std::string& text) { return tools_.ParseNumber(in_, text.c_str()); }

  void ReadHeader();
  void CreateNetwork(const std::string& type);
  void ReadDimensions(const std::string& nn);
  void ReadLayer();
  void BuildLayer(LayerState& s);
  void ReadLayerItem(LayerState& s);
  void ReadNeurons(LayerState& s);
  void ReadConnections(const std::string& nn);
  void ReadMatrix(const ConnState& c);
  void ReadWeightList(const ConnState& c);
  void CheckComplete();
  TActFunction FindFunction(const std::string& name);
  /// Position of parameter `keyword` among the first `limit` parameters of `neuron`, or -1.
  static int ParamIndex(const TBasicNeuron* neuron, int limit, const std::string& keyword);
  /// Message text naming a layer number against the network's layer count.
  std::string LayerRange(const char* what, long number) const;

  FileTools& tools_;
  std::istream& in_;
  TagInfo item_;  ///< the current item
  std::unique_ptr<TBasicNetwork> net_;
  TKohonenNetwork* kohonen_ = nullptr;  ///< net_ when it is a map
  long numLayers_ = -1;
  long inLayer_ = 1;
  long outLayer_ = -1;
  long nIn_ = -1;
  long nOut_ = -1;
  std::vector<long> sizes_;  ///< grid sizes of a map; -1 while unset
  long gridNodes_ = 1;
  long totalNeurons_ = 0;
  long totalArcs_ = 0;
};

std::unique_ptr<TBasicNetwork> NetworkReader::Read() {
  item_ = NextTop();
  const std::string nn = tools_.ExpectStartTag(item_, in_, "NEURALNETWORK");
  item_ = NextTop();
  const std::string type = tools_.ReadStringValue(item_, in_, "NETWORKTYPE", nullptr);

  ReadHeader();
  CreateNetwork(type);
  if (kohonen_ != nullptr) ReadDimensions(nn);

  item_ = Next(nn);
  while (item_.kind == Assignment && Is(item_.name, "LAYER")) {
    ReadLayer();
    item_ = Next(nn);
  }
  if (kohonen_ != nullptr) {
    const std::vector<int> sizes(sizes_.begin(), sizes_.end());
    kohonen_->SetDimensions(static_cast<int>(sizes.size()), sizes.data());
  }
  while (item_.kind == StartTag && Is(item_.name, "CONNECTIONLAYER")) ReadConnections(nn);
  tools_.ExpectEndTag(item_, in_);
  item_ = NextTop();
  tools_.ExpectEndTag(item_, in_);

  CheckComplete();
  return std::move(net_);
}

void NetworkReader::ReadHeader() {
  item_ = NextTop();
  const std::string ni = tools_.ExpectStartTag(item_, in_, "NETWORKINFORMATION");
  for (item_ = Next(ni); item_.kind == Assignment; item_ = Next(ni)) {
    if (item_.more) Fail("Too complicated statement");
    const long value = Integer(item_.value);  // converted before the keyword is looked at
    if (Is(item_.name, "NUMBEROFLAYERS")) {
      numLayers_ = value;
    } else if (Is(item_.name, "INPUTLAYER")) {
      inLayer_ = value;
    } else if (Is(item_.name, "OUTPUTLAYER")) {
      outLayer_ = value;
    } else if (Is(item_.name, "NUMBEROFINPUTS")) {
      nIn_ = value;
    } else if (Is(item_.name, "NUMBEROFOUTPUTS")) {
      nOut_ = value;
    } else if (Is(item_.name, "BIASLAYER")) {
      // Layer roles follow from the activation functions.
    } else {
      Fail("Unknown keyword");
    }
  }
  tools_.ExpectEndTag(item_, in_);
  if (numLayers_ < 0) Fail("Must specify number of layers");
  if (outLayer_ < 0) outLayer_ = numLayers_ - 1;
}

void NetworkReader::CreateNetwork(const std::string& type) {
  const bool basic = Is(type, "BASIC");
  const bool connected = Is(type, "CONNECTED");
  if (Is(type, "KOHONEN")) {
    auto map = std::make_unique<TKohonenNetwork>();
    kohonen_ = map.get();
    net_ = std::move(map);
  } else if (!basic && !connected) {
    Fail("Unknown network type");
  } else {
    if (numLayers_ > kMaxLayers) {
      Fail("NumberOfLayers " + std::to_string(numLayers_) + " too large (at most " +
           std::to_string(kMaxLayers) + ")");
    }
    const int n = static_cast<int>(numLayers_);
    if (basic) {
      net_ = std::make_unique<TBasicNetwork>(n);
    } else {
      net_ = std::make_unique<TConnectedNetwork>(n);
    }
  }
  if (inLayer_ < 0 || inLayer_ >= net_->numLayers) Fail(LayerRange("InputLayer", inLayer_));
  if (outLayer_ < 0 || outLayer_ >= net_->numLayers) Fail(LayerRange("OutputLayer", outLayer_));
  net_->inLayer = static_cast<int>(inLayer_);
  net_->outLayer = static_cast<int>(outLayer_);
}

void NetworkReader::ReadDimensions(const std::string& nn) {
  item_ = Next(nn);
  if (item_.kind != Assignment || !Is(item_.name, "DIMENSIONS")) {
    Fail("Missing dimensions in Kohonen");
  }
  const long d = Integer(item_.value);
  if (d < 1 || d > kMaxDimensions) {
    Fail("Dimensions " + std::to_string(d) + " out of range (1 to " +
         std::to_string(kMaxDimensions) + ")");
  }
  sizes_.assign(static_cast<std::size_t>(d), -1);
  const std::string dn = item_.name;

  for (item_ = Next(dn); item_.kind == Assignment && item_.more; item_ = Next(dn)) {
    if (!Is(item_.name, "DIMENSION")) Fail("invalid dimension tag");
    const long i = Integer(item_.value);
    item_ = Continued(dn.c_str());
    if (item_.kind != Assignment || !Is(item_.name, "SIZE") || item_.more) {
      Fail("'Size' tag required for dimension data");
    }
    const long size = Integer(item_.value);
    if (i < 0 || i >= d) {
      Fail("Dimension " + std::to_string(i) + " out of range (0 to " + std::to_string(d - 1) +
           ")");
    }
    if (size < 1) {
      Fail("Size " + std::to_string(size) + " of dimension " + std::to_string(i) +
           " below 1");
    }
    sizes_[static_cast<std::size_t>(i)] = size;
  }
  tools_.ExpectEndTag(item_, in_);

  gridNodes_ = 1;
  for (std::size_t i = 0; i < sizes_.size(); ++i) {
    const long size = sizes_[i];
    if (size < 0) Fail("Size of dimension " + std::to_string(i) + " not given");
    if (size > kMaxNeurons / gridNodes_) {
      Fail("Kohonen grid too large (more than " + std::to_string(kMaxNeurons) + " nodes)");
    }
    gridNodes_ *= size;
  }
}

void NetworkReader::ReadLayer() {
  LayerState s;
  s.number = Integer(item_.value);
  s.name = item_.name;

  item_ = Next(s.name);
  while (item_.kind == Assignment || (item_.kind == StartTag && Is(item_.name, "ALL"))) {
    if (item_.kind == StartTag) {
      if (!item_.more) Fail("[ALL] is incomplete statment");
      item_ = Continued(s.name.c_str());
      if (item_.kind != Assignment) Fail("Required syntax is [ALL <keyword>=<val>]");
    }
    if (item_.more) Fail("Too complicated statement");
    ReadLayerItem(s);
    if (s.count >= 0 && s.typeGiven && s.layer == nullptr) BuildLayer(s);
    item_ = Next(s.name);
  }

  const std::string layerText = "layer " + std::to_string(s.number);
  if (s.layer == nullptr) {
    if (s.countGiven && s.count < 0) {
      Fail("NumberOfNeurons " + std::to_string(s.count) + " of " + layerText + " is negative");
    }
    Fail("Incomplete " + layerText + ": LayerType and NumberOfNeurons are required");
  }
  if (s.common != nullptr) s.layer->SetActFunction(s.common);

  if (item_.kind == StartTag && Is(item_.name, "NEURONS")) {
    ReadNeurons(s);
    item_ = Next(s.name);
    for (char defined : s.defined) {
      if (!defined) Fail("Neuron not defined");
    }
  } else {
    for (char set : s.paramSet) {
      if (!set) Fail("Incomplete Layer information");
    }
    if (s.numParams > 0) {
      for (int i = 0; i < static_cast<int>(s.count); ++i) {
        s.layer->GetNeuron(i)->SetParams(s.params.data());
      }
    }
  }
  tools_.ExpectEndTag(item_, in_);
}

void NetworkReader::ReadLayerItem(LayerState& s) {
  const std::string& keyword = item_.name;
  if (Is(keyword, "LAYERTYPE")) {
    s.type = item_.value;
    s.typeGiven = true;
  } else if (Is(keyword, "NUMBEROFNEURONS")) {
    if (s.layer != nullptr) {
      Fail("NumberOfNeurons of layer " + std::to_string(s.number) +
           " given again after the layer was built");
    }
    s.count = Integer(item_.value);
    s.countGiven = true;
  } else if (Is(keyword, "ACTIVATIONFUNCTION")) {
    s.common = FindFunction(item_.value);
  } else {
    if (s.layer == nullptr) {
      Fail("Parameter " + keyword + " of layer " + std::to_string(s.number) +
           " given before LayerType and NumberOfNeurons");
    }
    // A layer without neurons has no parameter names to match.
    const int p =
        s.numParams > 0 ? ParamIndex(s.layer->GetNeuron(0), s.numParams, keyword) : -1;
    if (p < 0) {
      Fail("Unknown keyword " + keyword + " in layer " + std::to_string(s.number));
    }
    s.params[static_cast<std::size_t>(p)] = Number(item_.value);
    s.paramSet[static_cast<std::size_t>(p)] = 1;
  }
}

void NetworkReader::BuildLayer(LayerState& s) {
  if (s.number == inLayer_ && nIn_ >= 0 && nIn_ != s.count) {
    Fail("wrong number inputs in header");
  }
  if (s.number == outLayer_ && nOut_ >= 0 && nOut_ != s.count) {
    Fail("wrong number outputs in header");
  }
  const bool simple = Is(s.type, "SIMPLE");
  const bool input = Is(s.type, "INPUT");
  const bool gain = Is(s.type, "GAIN");
  if (!simple && !input && !gain) Fail("Unknown layer type");
  if (s.number < 0 || s.number >= net_->numLayers) Fail(LayerRange("Layer", s.number));
  auto& slot = net_->layers[static_cast<std::size_t>(s.number)];
  if (slot != nullptr) Fail("Layer " + std::to_string(s.number) + " defined twice");
  if (s.count > kMaxNeurons - totalNeurons_) {
    Fail("NumberOfNeurons " + std::to_string(s.count) + " of layer " +
         std::to_string(s.number) + " too large (a network holds at most " +
         std::to_string(kMaxNeurons) + " neurons)");
  }
  totalNeurons_ += s.count;

  const int k = static_cast<int>(s.number);
  const int count = static_cast<int>(s.count);
  if (simple) {
    slot = std::make_unique<TSimpleLayer>(net_.get(), k, count);
  } else if (input) {
    slot = std::make_unique<TSimpleInputLayer>(net_.get(), k, count);
  } else {
    slot = std::make_unique<TGainLayer>(net_.get(), k, count, 1.0);
  }
  s.layer = slot.get();
  s.defined.assign(static_cast<std::size_t>(count), 0);
  s.numParams = 0;
  for (int i = 0; i < count; ++i) {
    const int n = s.layer->GetNeuron(i)->GetNumParams();
    if (n > s.numParams) s.numParams = n;
  }
  s.params.assign(static_cast<std::size_t>(s.numParams), 0.0);
  s.paramSet.assign(static_cast<std::size_t>(s.numParams), 0);
}

void NetworkReader::ReadNeurons(LayerState& s) {
  const std::string ns = item_.name;
  for (item_ = Next(ns); item_.kind == Assignment && Is(item_.name, "NEURON"); item_ = Next(ns)) {
    const long j = Integer(item_.value);
    if (j < 0 || j >= s.count) {
      Fail("Neuron " + std::to_string(j) + " out of range (layer " + std::to_string(s.number) +
           " has " + std::to_string(s.count) + " neurons)");
    }
    if (s.defined[static_cast<std::size_t>(j)]) Fail("repeated neuron");
    TBasicNeuron* neuron = s.layer->GetNeuron(static_cast<int>(j));
    TActFunction fn = nullptr;
    while (item_.more) {
      item_ = Continued(nullptr);
      if (item_.kind != Assignment) Fail("Equals clause expected in neuron parameter");
      if (Is(item_.name, "ACTIVATIONFUNCTION")) {
        fn = FindFunction(item_.value);
      } else {
        const int limit = std::min(s.numParams, neuron->GetNumParams());
        const int p = ParamIndex(neuron, limit, item_.name);
        if (p < 0) {
          Fail("Unknown keyword " + item_.name + " for neuron " + std::to_string(j) +
               " of layer " + std::to_string(s.number));
        }
        s.params[static_cast<std::size_t>(p)] = Number(item_.value);
      }
    }
    if (s.numParams > 0) neuron->SetParams(s.params.data());
    if (s.common == nullptr) {
      if (fn == nullptr) Fail("No activation function defined");
      neuron->SetActFunction(fn);
    }
    s.defined[static_cast<std::size_t>(j)] = 1;
  }
  tools_.ExpectEndTag(item_, in_);
}

void NetworkReader::ReadConnections(const std::string& nn) {
  ConnState c;
  c.name = item_.name;
  long f = -1;
  long t = -1;
  std::string type;
  bool typeGiven = false;

  item_ = Next(c.name);
  while (item_.kind == Assignment || (item_.kind == StartTag && Is(item_.name, "ATTRIBUTES"))) {
    if (item_.kind == StartTag) {
      while (item_.more) item_ = Continued(nullptr);
    } else {
      if (item_.more) Fail("Too complicated statement");
      if (Is(item_.name, "LAYERFROM")) {
        f = Integer(item_.value);
      } else if (Is(item_.name, "LAYERTO")) {
        t = Integer(item_.value);
      } else if (Is(item_.name, "CONNECTIONTYPE")) {
        type = item_.value;
        typeGiven = true;
      } else {
        Fail("Unknown keyword in connections");
      }
    }
    item_ = Next(c.name);
  }

  if (f < 0 || t < 0 || !typeGiven) Fail("Insufficient information to construct layer");
  const bool full = Is(type, "FULLYCONNECTED");
  if (!full && !Is(type, "PRUNEABLE")) Fail("Insufficient information to construct layer");
  for (const auto& [what, number] : {std::pair{"LayerFrom", f}, std::pair{"LayerTo", t}}) {
    if (number >= net_->numLayers) Fail(LayerRange(what, number));
    if (net_->layers[static_cast<std::size_t>(number)] == nullptr) {
      Fail(std::string(what) + " " + std::to_string(number) + " names an undefined layer");
    }
  }
  auto& slot = net_->priv_conns_index[static_cast<std::size_t>(t)][f];
  if (slot->IsConnected()) Fail("Connections already defined");

  c.nFrom = net_->layers[static_cast<std::size_t>(f)]->numNeurons;
  c.nTo = net_->layers[static_cast<std::size_t>(t)]->numNeurons;
  const long arcs = static_cast<long>(c.nFrom) * c.nTo;
  if (arcs > kMaxArcs - totalArcs_) {
    Fail("Connections " + std::to_string(f) + " -> " + std::to_string(t) + " too large: " +
         std::to_string(arcs) + " arcs (a network holds at most " + std::to_string(kMaxArcs) +
         ")");
  }
  totalArcs_ += arcs;

  const int from = static_cast<int>(f);
  const int to = static_cast<int>(t);
  if (full) {
    slot = std::make_unique<TConnectedConnections>(net_.get(), from, to);
  } else {
    slot = std::make_unique<TPrunedConnections>(net_.get(), from, to);
  }
  c.conn = slot.get();
  c.pruneable = !Is(c.conn->GetConnectionsNType(), "FULLYCONNECTED");
  if (c.pruneable) {
    for (int fn = 0; fn < c.nFrom; ++fn) {
      for (int tn = 0; tn < c.nTo; ++tn) c.conn->PruneArc(fn, tn);
    }
  }

  for (;;) {
    if (item_.kind == StartTag && Is(item_.name, "MATRIX")) {
      ReadMatrix(c);
    } else if (item_.kind == StartTag && Is(item_.name, "WEIGHTLIST")) {
      ReadWeightList(c);
    } else {
      break;
    }
  }
  tools_.ExpectEndTag(item_, in_);
  item_ = Next(nn);
}

void NetworkReader::ReadMatrix(const ConnState& c) {
  const std::string mn = item_.name;
  std::vector<bool> weightColumn;  // per column: weights (true) or trainable marks
  while (item_.more) {
    item_ = Continued(nullptr);
    if (item_.kind != StartTag) Fail("Keyword expected in matrix parameter");
    if (Is(item_.name, "WEIGHTS")) {
      weightColumn.push_back(true);
    } else if (Is(item_.name, "TRAINABLEINFO")) {
      weightColumn.push_back(false);
    } else {
      Fail("Unknown matrix attribute");
    }
    if (weightColumn.size() > kMaxMatrixColumns) Fail("Matrix with more than nine columns");
  }

  item_ = Next(mn);
  TBasicConnections& conn = *c.conn;
  if (!weightColumn.empty()) {
    for (int fn = 0; fn < c.nFrom; ++fn) {
      for (int tn = 0; tn < c.nTo; ++tn) {
        for (const bool weight : weightColumn) {
          if (item_.kind != Token) Fail("Token Expected");
          const std::string& token = item_.name;
          if (weight) {
            if (token == "-") {
              if (!c.pruneable) Fail("Arc removed ('-') in a FullyConnected matrix");
              conn.PruneArc(fn, tn);
            } else {
              const double w = Number(token);
              conn.AddArc(fn, tn);
              conn.GetWeight(fn, tn) = w;
            }
          } else if (IsMark(token, 'T')) {
            conn.SetTrainable(fn, tn);
          } else if (IsMark(token, 'F')) {
            if (!c.pruneable) Fail("Untrainable arc ('F') in a FullyConnected matrix");
            conn.SetUntrainable(fn, tn);
          } else if (conn.IsValid(fn, tn)) {
            Fail("Mark '" + token + "' for the existing arc " + std::to_string(fn) + " -> " +
                 std::to_string(tn) + " (T or F required)");
          }
          item_ = Next(mn);
        }
      }
    }
  }
  tools_.ExpectEndTag(item_, in_);
  item_ = Next(c.name);
}

void NetworkReader::ReadWeightList(const ConnState& c) {
  const std::string wn = item_.name;
  for (item_ = Next(wn); item_.kind == StartTag || item_.kind == Assignment; item_ = Next(wn)) {
    long fn = -1;
    long tn = -1;
    double w = 0.0;
    bool trainable = true;
    for (;;) {
      if (item_.kind == Assignment) {
        if (Is(item_.name, "FROM")) {
          fn = Integer(item_.value);
        } else if (Is(item_.name, "TO")) {
          tn = Integer(item_.value);
        } else if (Is(item_.name, "WEIGHT")) {
          w = Number(item_.value);
        } else {
          Fail("Unknown keyword in weights list");
        }
      } else if (Is(item_.name, "TRAINABLE")) {
        trainable = true;
      } else if (Is(item_.name, "UNTRAINABLE")) {
        trainable = false;
      } else {
        std::cout << item_.name << std::endl;
        Fail("Unknown keyword in weights list");
      }
      if (!item_.more) break;
      item_ = Continued(nullptr);
    }
    if (fn < 0 || tn < 0) Fail("Insufficient information in weights list");
    if (fn >= c.nFrom) {
      Fail("From " + std::to_string(fn) + " out of range (the source layer has " +
           std::to_string(c.nFrom) + " neurons)");
    }
    if (tn >= c.nTo) {
      Fail("To " + std::to_string(tn) + " out of range (the destination layer has " +
           std::to_string(c.nTo) + " neurons)");
    }
    if (!trainable && !c.pruneable) Fail("UnTrainable arc in a FullyConnected matrix");
    const int from = static_cast<int>(fn);
    const int to = static_cast<int>(tn);
    c.conn->AddArc(from, to);
    if (trainable) {
      c.conn->SetTrainable(from, to);
    } else {
      c.conn->SetUntrainable(from, to);
    }
    c.conn->GetWeight(from, to) = w;
  }
  tools_.ExpectEndTag(item_, in_);
  item_ = Next(c.name);
}

void NetworkReader::CheckComplete() {
  for (std::size_t k = 0; k < net_->layers.size(); ++k) {
    if (net_->layers[k] == nullptr) Fail("Layer " + std::to_string(k) + " not defined");
  }
  if (kohonen_ == nullptr) return;
  const int mapNeurons = net_->layers[2]->numNeurons;
  if (mapNeurons != gridNodes_) {
    Fail("Kohonen map layer has " + std::to_string(mapNeurons) + " neurons, its grid " +
         std::to_string(gridNodes_) + " nodes");
  }
  if (!net_->priv_conns_index[2][1]->IsConnected()) {
    Fail("Kohonen map without connections from layer 1 to layer 2");
  }
}

TActFunction NetworkReader::FindFunction(const std::string& name) {
  const TFnRegistry& registry = *net_->registry;
  for (int i = 0; i < registry.count; ++i) {
    const TFnRegistry::Entry& e = registry.items[static_cast<std::size_t>(i)];
    if (e.fn != nullptr && strcasecmp(e.name.c_str(), name.c_str()) == 0) {
      return registry.Find(name.c_str());
    }
  }
  Fail("Unknown activation function " + name);
}

int NetworkReader::ParamIndex(const TBasicNeuron* neuron, int limit, const std::string& keyword) {
  for (int p = 0; p < limit; ++p) {
    if (strcasecmp(neuron->GetParamName(p), keyword.c_str()) == 0) return p;
  }
  return -1;
}

std::string NetworkReader::LayerRange(const char* what, long number) const {
  return std::string(what) + " " + std::to_string(number) + " out of range (the network has " +
         std::to_string(net_->numLayers) + " layers)";
}

}  // namespace

std::unique_ptr<TBasicNetwork> FileTools::LoadNetwork(const char* filename,
                                                      std::unique_ptr<TKQstructure> report) {
  report.reset();
  std::ifstream file;
  if (filename != nullptr) file.open(filename);
  if (!file.is_open()) throw Error{"Error on File Open", nullptr, nullptr};
  // A directory opens but cannot be read; the stream notes the failed first read.
  file.peek();
  if (file.bad()) throw Error{"Error on File Open", nullptr, nullptr};
  file.clear();
  try {
    return ReadNetwork(file);
  } catch (Error& e) {
    // The stream is closed on the way out; the error must not point at it.
    if (e.input == &file) e.input = nullptr;
    throw;
  }
}

std::unique_ptr<TBasicNetwork> FileTools::ReadNetwork(std::istream& in,
                                                      std::unique_ptr<TKQstructure> report) {
  report.reset();
  NetworkReader reader(*this, in);
  return reader.Read();
}

}  // namespace kartlo
