// The network file reader on an in-memory file: every input ends with a
// network whose layers are all present, or with FileTools::Error.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "FileHandler/FileTools.h"
#include "FuzzSupport.h"
#include "NeuralNets/TBasicLayer.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TKohonenNetwork.h"

using kartlo::FileTools;
using kartlo::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kartlo::fuzz::QuietLibraryStreams();
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<kartlo::TBasicNetwork> network;
  if (!kartlo::fuzz::Completes([&] {
        std::istringstream in(text);
        FileTools tools;
        network = tools.ReadNetwork(in);
      }))
    return 0;
  Require(network != nullptr, "null network without an error");
  Require(network->inLayer >= 0 && network->inLayer < network->numLayers, "input layer");
  Require(network->outLayer >= 0 && network->outLayer < network->numLayers, "output layer");
  for (const auto& layer : network->layers) Require(layer != nullptr, "missing layer");
  if (auto* map = dynamic_cast<kartlo::TKohonenNetwork*>(network.get())) {
    Require(map->numDimensions >= 1, "map without grid dimensions");
    long long nodes = 1;
    for (int size : map->dimensions) nodes *= size;
    Require(nodes == map->layers[2]->numNeurons, "grid and map layer disagree");
  }
  return 0;
}
