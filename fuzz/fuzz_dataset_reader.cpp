// The data set file reader on an in-memory file. What it accepts must survive
// the writer: the written file reads back, and writing that again settles on
// the same text (label values are rounded once, to nine decimals).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "DataObject/Data.h"
#include "FileHandler/FileTools.h"
#include "FuzzSupport.h"

using kartlo::Data;
using kartlo::FileTools;
using kartlo::fuzz::Require;

namespace {

struct Parts {
  std::unique_ptr<Data> expected;
  std::unique_ptr<Data> generated;
};

/// Writes the parts; a file the reader produced is always writable.
std::string Write(const Parts& parts) {
  std::ostringstream out;
  FileTools tools;
  Require(tools.WriteDataSet(out, parts.expected.get(), parts.generated.get()) ==
              FileTools::kSuccess,
          "the writer refused what the reader built");
  return out.str();
}

/// Reads text that the writer made; any refusal is a finding.
Parts ReadBack(const std::string& text) {
  Parts parts;
  std::istringstream in(text);
  FileTools tools;
  try {
    Require(tools.ReadDataSets(in, parts.expected, parts.generated) == FileTools::kSuccess,
            "written file refused");
  } catch (const FileTools::Error& e) {
    kartlo::fuzz::Finding("written file refused: " + e.message + "\n" + text);
  }
  return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kartlo::fuzz::QuietLibraryStreams();
  const std::string text(reinterpret_cast<const char*>(data), size);
  Parts parts;
  int status = FileTools::kSuccess;
  if (!kartlo::fuzz::Completes([&] {
        std::istringstream in(text);
        FileTools tools;
        status = tools.ReadDataSets(in, parts.expected, parts.generated);
      }))
    return 0;
  if (status != FileTools::kSuccess) return 0;
  if (parts.expected == nullptr && parts.generated == nullptr) return 0;
  if (parts.expected != nullptr && parts.generated != nullptr) {
    Require(parts.expected->MbrNdxRows == parts.generated->MbrNdxRows, "parts of unequal rows");
  }

  const std::string first = Write(parts);
  const Parts again = ReadBack(first);
  Require((again.expected != nullptr) == (parts.expected != nullptr), "part 1 lost or gained");
  Require((again.generated != nullptr) == (parts.generated != nullptr), "part 2 lost or gained");
  const std::string second = Write(again);
  const std::string third = Write(ReadBack(second));
  if (second != third) kartlo::fuzz::Finding("writing does not settle:\n" + second + "\n" + third);
  return 0;
}
