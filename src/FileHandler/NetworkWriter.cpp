// The network file writer: header, map dimensions, layers and connection
// matrices in the layout the network file reader accepts.

#include "FileHandler/NetworkWriter.h"

#include <charconv>
#include <cstddef>
#include <ostream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "FileHandler/FileTools.h"
#include "FileHandler/TOutputFile.h"
#include "KQmessage/Assert.h"
#include "KQmessage/StrCaseCmp.h"
#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/TBasicConnections.h"
#include "NeuralNets/TBasicLayer.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace kartlo {
namespace {

/// Digits of the written numbers: after the point in tag values, significant in matrix cells.
constexpr int kPrecision = 15;
/// Width of a matrix cell's weight (or "-").
constexpr int kCellWidth = kPrecision + 5;

[[noreturn]] void Refuse(std::ostream& out, std::string message) {
  throw FileTools::Error{std::move(message), nullptr, &out};
}

/// The registered name of `fn`, or null when the registry has none for it
/// (the registry's own lookup treats that as a programming error).
const char* NameOrNull(const TFnRegistry& registry, TActFunction fn) {
  for (int i = registry.count - 1; i >= 0; --i) {
    const TFnRegistry::Entry& e = registry.items[static_cast<std::size_t>(i)];
    if (e.fn == fn) return e.name.c_str();
  }
  return nullptr;
}

/// Whether `fn` is the function the registry holds as "bias".
bool IsBiasFunction(const TFnRegistry& registry, TActFunction fn) {
  for (int i = registry.count - 1; i >= 0; --i) {
    const TFnRegistry::Entry& e = registry.items[static_cast<std::size_t>(i)];
    if (strcasecmp(e.name.c_str(), "bias") == 0) return e.fn == fn;
  }
  return false;
}

/// Refuses, before anything is written, a network that cannot be stored:
/// missing tables or layers, input or output layer numbers that name no
/// layer, and activation functions without a registered name.
void CheckWritable(std::ostream& out, TBasicNetwork& network) {
  const int n = network.numLayers;
  if (n < 0 || network.layers.size() != static_cast<std::size_t>(n) ||
      network.priv_conns_index.size() != static_cast<std::size_t>(n)) {
    Refuse(out, "Network tables are not allocated");
  }
  if (network.registry == nullptr) Refuse(out, "Network has no activation function registry");
  if (network.inLayer < 0 || network.inLayer >= n) {
    Refuse(out, "Input layer " + std::to_string(network.inLayer) + " is not a layer of the network");
  }
  if (network.outLayer < 0 || network.outLayer >= n) {
    Refuse(out,
           "Output layer " + std::to_string(network.outLayer) + " is not a layer of the network");
  }
  const TFnRegistry& registry = *network.registry;
  for (int k = 0; k < n; ++k) {
    TBasicLayer* layer = network.layers[static_cast<std::size_t>(k)].get();
    if (layer == nullptr) Refuse(out, "Layer " + std::to_string(k) + " is missing");
    const TActFunction common = layer->GetActFunction();
    if (common != nullptr) {
      if (NameOrNull(registry, common) == nullptr) {
        Refuse(out,
               "Activation function of layer " + std::to_string(k) + " has no registered name");
      }
      continue;
    }
    for (int j = 0; j < layer->numNeurons; ++j) {
      if (NameOrNull(registry, layer->GetNeuron(j)->GetActFunction()) == nullptr) {
        Refuse(out, "Activation function of neuron " + std::to_string(j) + " of layer " +
                        std::to_string(k) + " has no registered name");
      }
    }
  }
}

/// Appends `text` right-aligned in a field of `width` characters.
void AppendRight(std::string& line, const char* text, std::size_t length, int width) {
  if (length < static_cast<std::size_t>(width)) {
    line.append(static_cast<std::size_t>(width) - length, ' ');
  }
  line.append(text, length);
}

void AppendRight(std::string& line, long value, int width) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  AppendRight(line, buffer, static_cast<std::size_t>(result.ptr - buffer), width);
}

/// Appends `value` as the stream's general format at precision 15 writes it
/// ("%.15g": 15 significant digits, trailing zeros dropped), right-aligned.
void AppendWeight(std::string& line, double value, int width) {
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, kPrecision);
  KARTLO_ASSERT(result.ec == std::errc());
  AppendRight(line, buffer, static_cast<std::size_t>(result.ptr - buffer), width);
}

class NetworkWriter {
 public:
  NetworkWriter(FileTools& tools, std::ostream& out, TBasicNetwork& network)
      : tools_(tools), out_(out), network_(network), registry_(*network.registry) {}

  void Write() {
    const int n = network_.numLayers;
    tools_.WriteFormatVersion(out_);
    tools_.WriteStartTag(out_, "NeuralNetwork", true);
    const char* type = network_.GetNetworkNType();
    tools_.WriteStringValue(out_, "NetworkType", type, true);
    tools_.WriteNewLine(out_);

    tools_.WriteStartTag(out_, "NetworkInformation", true);
    tools_.WriteIntegerValue(out_, "NumberOfLayers", n, true);
    tools_.WriteIntegerValue(out_, "InputLayer", network_.inLayer, true);
    tools_.WriteIntegerValue(out_, "OutputLayer", network_.outLayer, true);
    tools_.WriteIntegerValue(out_, "NumberOfInputs", Layer(network_.inLayer).numNeurons, true);
    tools_.WriteIntegerValue(out_, "NumberOfOutputs", Layer(network_.outLayer).numNeurons, true);
    for (int k = 0; k < n; ++k) {
      TBasicLayer& layer = Layer(k);
      if (layer.numNeurons < 1 || !IsBiasFunction(registry_, layer.GetActFunction())) continue;
      if (layer.numNeurons > 1) Refuse(out_, "Illegal number of bias nodes");
      tools_.WriteIntegerValue(out_, "BiasLayer", k, true);
    }
    tools_.WriteEndTag(out_, "NetworkInformation");

    if (strcasecmp(type, "KOHONEN") == 0) WriteDimensions();
    for (int k = 0; k < n; ++k) {
      tools_.WriteNewLine(out_);
      WriteLayer(k);
    }
    for (int f = 0; f < n; ++f) {
      for (int t = 0; t < n; ++t) {
        TBasicConnections* matrix = network_.priv_conns_index[static_cast<std::size_t>(t)][f].get();
        if (matrix == nullptr || !matrix->IsConnected()) continue;
        tools_.WriteNewLine(out_);
        WriteConnections(*matrix, f, t);
      }
    }
    tools_.WriteNewLine(out_);
    tools_.WriteEndTag(out_, "NeuralNetwork");
  }

 private:
  TBasicLayer& Layer(int k) { return *network_.layers[static_cast<std::size_t>(k)]; }

  void WriteDimensions() {
    auto* map = dynamic_cast<TKohonenNetwork*>(&network_);
    if (map == nullptr) Refuse(out_, "Network of type Kohonen is not a Kohonen map");
    const int d = map->numDimensions;
    std::vector<int> sizes(static_cast<std::size_t>(d > 0 ? d : 0));
    map->GetDimensions(sizes.data());
    tools_.WriteNewLine(out_);
    tools_.WriteIntegerValue(out_, "Dimensions", d, true);
    for (int j = 0; j < d; ++j) {
      tools_.WriteOpenBracket(out_, true);
      tools_.WriteIntegerValue(out_, "Dimension", j, false);
      tools_.WriteIntegerValue(out_, "Size", sizes[static_cast<std::size_t>(j)], false);
      tools_.WriteCloseBracket(out_, true, true);
    }
    tools_.WriteEndTag(out_, "Dimensions");
  }

  void WriteLayer(int k) {
    TBasicLayer& layer = Layer(k);
    const int count = layer.numNeurons;
    tools_.WriteIntegerValue(out_, "Layer", k, true);
    tools_.WriteStringValue(out_, "LayerType", layer.GetLayerNType(), true);
    tools_.WriteIntegerValue(out_, "NumberOfNeurons", count, true);
    const TActFunction common = layer.GetActFunction();
    if (common != nullptr) {
      tools_.WriteOpenBracket(out_, true);
      tools_.WriteStartTag(out_, "All", false);
      tools_.WriteStringValue(out_, "ActivationFunction", registry_.GetName(common), false);
      tools_.WriteCloseBracket(out_, true, true);
    }
    if (count > 0) {
      // Neuron 0's parameters are the reference; a position is common when
      // every other neuron has it with the same name and exactly the same value.
      TBasicNeuron* first = layer.GetNeuron(0);
      const int numParams = first->GetNumParams();
      std::vector<double> reference(static_cast<std::size_t>(numParams));
      first->GetParams(reference.data());
      std::vector<char> common_param(static_cast<std::size_t>(numParams), 1);
      std::vector<double> params;
      for (int j = 1; j < count; ++j) {
        TBasicNeuron* neuron = layer.GetNeuron(j);
        const int own = neuron->GetNumParams();
        params.assign(static_cast<std::size_t>(own), 0.0);
        neuron->GetParams(params.data());
        for (int p = 0; p < numParams; ++p) {
          const auto i = static_cast<std::size_t>(p);
          if (p >= own || params[i] != reference[i] ||
              strcasecmp(neuron->GetParamName(p), first->GetParamName(p)) != 0) {
            common_param[i] = 0;
          }
        }
      }
      bool allCommon = true;
      for (int p = 0; p < numParams; ++p) {
        if (!common_param[static_cast<std::size_t>(p)]) {
          allCommon = false;
          continue;
        }
        tools_.WriteOpenBracket(out_, true);
        tools_.WriteStartTag(out_, "All", false);
        tools_.WriteNumberValue(out_, first->GetParamName(p), reference[static_cast<std::size_t>(p)],
                                kPrecision, false);
        tools_.WriteCloseBracket(out_, true, true);
      }
      if (common == nullptr || !allCommon) {
        tools_.WriteStartTag(out_, "Neurons", true);
        for (int j = 0; j < count; ++j) {
          TBasicNeuron* neuron = layer.GetNeuron(j);
          tools_.WriteOpenBracket(out_, true);
          tools_.WriteIntegerValue(out_, "Neuron", j, false);
          if (common == nullptr) {
            tools_.WriteStringValue(out_, "ActivationFunction",
                                    registry_.GetName(neuron->GetActFunction()), false);
          }
          const int own = neuron->GetNumParams();
          params.assign(static_cast<std::size_t>(own), 0.0);
          neuron->GetParams(params.data());
          for (int p = 0; p < own; ++p) {
            if (p < numParams && common_param[static_cast<std::size_t>(p)]) continue;
            tools_.WriteNumberValue(out_, neuron->GetParamName(p),
                                    params[static_cast<std::size_t>(p)], kPrecision, false);
          }
          tools_.WriteCloseBracket(out_, true, true);
        }
        tools_.WriteEndTag(out_, "Neurons");
      }
    }
    tools_.WriteEndTag(out_, "Layer");
  }

  void WriteConnections(TBasicConnections& matrix, int f, int t) {
    const int nFrom = Layer(f).numNeurons;
    const int nTo = Layer(t).numNeurons;
    const char* type = matrix.GetConnectionsNType();
    const bool pruneable = strcasecmp(type, "FullyConnected") != 0;

    tools_.WriteStartTag(out_, "ConnectionLayer", true);
    tools_.WriteIntegerValue(out_, "LayerFrom", f, true);
    tools_.WriteIntegerValue(out_, "LayerTo", t, true);
    tools_.WriteStringValue(out_, "ConnectionType", type, true);
    tools_.WriteOpenBracket(out_, true);
    tools_.WriteStartTag(out_, "Attributes", false);
    tools_.WriteStartTag(out_, pruneable ? "Pruneable" : "UnPrunable", false);
    tools_.WriteStartTag(out_, pruneable ? "Freezable" : "UnFreezable", false);
    tools_.WriteCloseBracket(out_, true, true);

    TIterateObjCount counter;
    matrix.Iterate(counter, FMaskExists);
    if (0.35 * nFrom * nTo > counter.count) {
      tools_.WriteStartTag(out_, "WeightList", true);
      TIterateObjSaveWeights saver(tools_, out_, pruneable, kPrecision);
      matrix.Iterate(saver, FMaskExists);
      tools_.WriteEndTag(out_, "WeightList");
    } else {
      WriteMatrix(matrix, nFrom, nTo, pruneable);
    }
    tools_.WriteEndTag(out_, "ConnectionLayer");
  }

  /// One row of cells per from-neuron; the column and row numbers stand in comments.
  void WriteMatrix(TBasicConnections& matrix, int nFrom, int nTo, bool pruneable) {
    tools_.WriteOpenBracket(out_, true);
    tools_.WriteStartTag(out_, "Matrix", false);
    tools_.WriteStartTag(out_, "Weights", false);
    if (pruneable) tools_.WriteStartTag(out_, "TrainableInfo", false);
    tools_.WriteCloseBracket(out_, true, true);

    std::string line = "/* To->";
    for (int j = 0; j < nTo; ++j) {
      const int width = j == 0 ? (pruneable ? kPrecision : kPrecision - 2)
                               : (pruneable ? kPrecision + 8 : kPrecision + 6);
      AppendRight(line, j, width);
    }
    line += "  From */\n";
    out_.write(line.data(), static_cast<std::streamsize>(line.size()));

    for (int i = 0; i < nFrom; ++i) {
      line.clear();
      for (int j = 0; j < nTo; ++j) {
        const bool exists = matrix.IsValid(i, j);
        if (exists) {
          AppendWeight(line, matrix.GetWeight(i, j), kCellWidth);
        } else {
          AppendRight(line, "-", 1, kCellWidth);
        }
        line += ' ';
        if (pruneable) line += !exists ? "- " : matrix.IsTrainable(i, j) ? "T " : "F ";
      }
      line += " /* ";
      AppendRight(line, i, 0);
      line += " */\n";
      out_.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
    tools_.WriteEndTag(out_, "Matrix");
  }

  FileTools& tools_;
  std::ostream& out_;
  TBasicNetwork& network_;
  const TFnRegistry& registry_;
};

}  // namespace

void TIterateObjCount::Visit() { ++count; }

void TIterateObjSaveWeights::Visit() {
  tools->WriteOpenBracket(*out, true);
  tools->WriteIntegerValue(*out, "From", fromNode, false);
  tools->WriteIntegerValue(*out, "To", toNode, false);
  tools->WriteNumberValue(*out, "Weight", *weight, precision, false);
  if (writeTrainable) tools->WriteStartTag(*out, trainable ? "Trainable" : "UnTrainable", false);
  tools->WriteCloseBracket(*out, true, true);
}

void FileTools::WriteNetwork(std::ostream& out, TBasicNetwork* network,
                             std::unique_ptr<TKQstructure> report) {
  report.reset();
  KARTLO_ASSERT(network != nullptr);
  out.precision(kPrecision);
  CheckWritable(out, *network);
  NetworkWriter(*this, out, *network).Write();
}

void FileTools::SaveNetwork(const char* filename, TBasicNetwork* network,
                            std::unique_ptr<TKQstructure> report) {
  KARTLO_ASSERT(filename != nullptr);
  // A failed save leaves an existing file as it was: the text goes to a
  // temporary file that only a complete, flushed and closed write puts in place.
  TOutputFile file(filename);
  try {
    const std::string failure = std::string("Cannot write network file ") + filename;
    if (!file.IsOpen()) Refuse(file.Stream(), failure);
    WriteNetwork(file.Stream(), network, std::move(report));
    if (!file.Stream() || !file.Commit()) Refuse(file.Stream(), failure);
  } catch (Error& e) {
    // The stream ends with this call; the error must not point at it.
    if (e.output == &file.Stream()) e.output = nullptr;
    throw;
  }
}

}  // namespace kartlo
