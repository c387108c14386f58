// The whole recall road on a pair of in-memory files: the input is the
// network file, a line "%%", then the data set file. The road ends with a
// complete result or with one of the exceptions the driver handles; a result
// must read back with the same rows.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "DataObject/Data.h"
#include "FileHandler/FileTools.h"
#include "FuzzSupport.h"
#include "NeuralNets/TBasicLayer.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TKohonenNetwork.h"

using kartlo::Data;
using kartlo::FileTools;
using kartlo::fuzz::Require;

namespace {

constexpr std::string_view kSeparator = "\n%%\n";
constexpr long long kMaxWork = 50'000'000;

/// Runs the road; returns the written result, or "" when the road stops.
std::string Road(const std::string& networkText, const std::string& dataText) {
  FileTools networkTools;
  FileTools dataTools;
  std::istringstream networkIn(networkText);
  const std::unique_ptr<kartlo::TBasicNetwork> network = networkTools.ReadNetwork(networkIn);
  Require(network != nullptr, "null network without an error");
  auto* map = dynamic_cast<kartlo::TKohonenNetwork*>(network.get());
  if (map == nullptr) return {};

  std::istringstream dataIn(dataText);
  std::unique_ptr<Data> input;
  if (dataTools.ReadDataSet(dataIn, input) != FileTools::kSuccess) return {};
  if (input == nullptr) return {};
  // A small file may describe a large map; mapping it is honest work, not a
  // hang, so rows times weights is bounded here to keep every run quick.
  const long long work = static_cast<long long>(input->MbrNdxRows) *
                         map->layers[1]->numNeurons * map->layers[2]->numNeurons;
  if (work > kMaxWork) return {};

  const std::unique_ptr<Data> result = map->MapToCoordinates(input.get());
  Require(result != nullptr, "null result without an error");
  Require(result->MbrNdxRows == input->MbrNdxRows, "result rows differ from input rows");
  std::ostringstream out;
  Require(dataTools.WriteDataSet(out, result.get(), nullptr) == FileTools::kSuccess,
          "the result cannot be written");
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kartlo::fuzz::QuietLibraryStreams();
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const std::size_t at = all.find(kSeparator);
  if (at == std::string_view::npos) return 0;
  const std::string networkText(all.substr(0, at));
  const std::string dataText(all.substr(at + kSeparator.size()));

  std::string written;
  if (!kartlo::fuzz::Completes([&] { written = Road(networkText, dataText); })) return 0;
  if (written.empty()) return 0;

  // The result is a complete data set file.
  std::istringstream in(written);
  FileTools tools;
  std::unique_ptr<Data> back;
  try {
    Require(tools.ReadDataSet(in, back) == FileTools::kSuccess, "result refused");
  } catch (const FileTools::Error& e) {
    kartlo::fuzz::Finding("result refused: " + e.message + "\n" + written);
  }
  return 0;
}
