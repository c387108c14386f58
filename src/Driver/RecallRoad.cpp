// The recall road: the map is loaded whole, the data set file streams through in blocks of
// rows (read a block, map it, write it), so memory stays flat however many rows there are.
//
// Failures are reported in the order a run that loads the whole data set first would report
// them: a syntax error anywhere in the file comes before everything else; a part 2, or no
// columns at all, is reported once the whole file has been read; a refusal by the map
// (input counts that differ, a row without a winner) only after that. So once mapping has
// failed the rest of the file is still read, and the refusal is raised at the end.

#include <algorithm>
#include <cstddef>
#include <exception>
#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

#include "Driver/Kartlo.h"
#include "FileHandler/FileTools.h"
#include "FileHandler/TDataRowWriter.h"
#include "FileHandler/TDataSetReader.h"
#include "FileHandler/TOutputFile.h"
#include "KQmessage/Assert.h"
#include "NeuralNets/TBestNodeSearch.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace kartlo {

namespace {

/// Values held per block of rows: about four megabytes.
constexpr std::size_t kBlockValues = std::size_t{1} << 19;
constexpr int kMinBlockRows = 256;
constexpr int kMaxBlockRows = 16384;

/// Rows per block for rows of the given layout.
int BlockRows(const TRowLayout& layout) {
  const std::size_t width = static_cast<std::size_t>(layout.in1) + layout.out1 +
                            static_cast<std::size_t>(layout.in2) + layout.out2;
  const std::size_t rows = kBlockValues / std::max<std::size_t>(width, 1);
  return static_cast<int>(std::clamp<std::size_t>(rows, kMinBlockRows, kMaxBlockRows));
}

std::size_t Size(int n) { return static_cast<std::size_t>(n > 0 ? n : 0); }

}  // namespace

int RecallRoad(const char* weightFile, const char* labelFile, const char* coordinateFile,
               std::ostream& /*out*/, std::ostream& err) {
  // One object serves the network file, the other both data set files.
  FileTools networkTools;
  FileTools dataTools;

  const std::unique_ptr<TBasicNetwork> network = networkTools.LoadNetwork(weightFile);
  KARTLO_ASSERT_TEXT(network != nullptr, "PtrKohCurrent != 0");
  auto* map = dynamic_cast<TKohonenNetwork*>(network.get());
  if (map == nullptr) {
    err << "network file " << weightFile << " holds a " << network->GetNetworkNType()
        << " network, not a Kohonen map" << std::endl;
    return 1;
  }

  std::ifstream in;
  if (!TDataSetReader::Open(labelFile, in)) {
    err << "cannot load data file " << labelFile << std::endl;
    return 1;
  }
  TDataSetReader reader(dataTools, in);
  reader.ReadHeader();
  const TRowLayout layout = reader.Layout();
  const int rows = reader.Header().rows;

  // Mapping needs part 1 alone; either way every row is read.
  bool mapping = layout.part1 && !layout.part2;
  std::exception_ptr refusal;
  std::optional<TBestNodeSearch> search;
  if (mapping) {
    try {
      search.emplace(map->PrepareMapping(rows, layout.in1));
    } catch (...) {
      refusal = std::current_exception();
      mapping = false;
    }
  }
  const int dims = std::max(map->numDimensions, 0);

  // The result appears whole or not at all: a regular file is written beside the target and
  // replaces it only once every row has been written.
  std::optional<TOutputFile> file;
  std::optional<TDataRowWriter> writer;
  bool writing = false;
  if (mapping) {
    file.emplace(coordinateFile);
    if (file->IsOpen()) {
      writing = dataTools.WriteDataSetHeader(file->Stream(), search->Inputs(), dims, 0, 0,
                                             rows) == FileTools::kSuccess;
      writer.emplace(file->Stream());
    }
  }

  const int blockRows = BlockRows(layout);
  TRowBlock block;
  std::vector<double> coordinates(mapping ? Size(std::min(rows, blockRows)) * Size(dims) : 0);
  const std::size_t width = Size(layout.in1);
  for (int first = 0; first < rows; first += blockRows) {
    const int count = std::min(blockRows, rows - first);
    block.Clear();
    reader.ReadRows(count, block);
    if (!mapping) continue;
    try {
      map->MapRows(*search, block.in1.data(), count, first, coordinates.data());
    } catch (...) {
      refusal = std::current_exception();
      mapping = false;
      writing = false;
      continue;
    }
    for (int k = 0; writing && k < count; ++k) {
      writer->Values(block.in1.data() + Size(k) * width, layout.in1);
      writer->Gap();
      writer->Values(coordinates.data() + Size(k) * Size(dims), dims);
      writing = writer->EndRow();
    }
  }
  reader.ReadEnd();

  if (layout.part2) {
    err << "cannot load data file " << labelFile << std::endl;
    return 1;
  }
  if (!layout.part1) {
    err << "cannot load data file " << labelFile << ": it has no columns" << std::endl;
    return 1;
  }
  if (refusal) std::rethrow_exception(refusal);

  if (writing) {
    writing = writer->Finish() &&
              dataTools.WriteDataSetEnd(file->Stream()) == FileTools::kSuccess && file->Commit();
  }
  if (!writing) {
    err << "cannot save to data file " << coordinateFile << std::endl;
    return 1;
  }
  return 0;
}

}  // namespace kartlo
