// Data set file inputs found by fuzzing the reader against the writer.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "DataObject/Data.h"
#include "DataObject/TLabelList.h"
#include "FileHandler/FileTools.h"

namespace kartlo {
namespace {

std::string LabelledFile(const std::string& list) {
  return "[DataSet]\n[Rows = 1]\n[Inputs = 1]\n[ExpectedOutputs = Labels]\n[Data]\n0.5 " + list +
         "\n[~Data]\n[~DataSet]\n";
}

// Whatever the reader accepts, the writer writes as a file that reads back to
// the same text. A label list's "[" is read as a character, so a first label
// beginning with "~" («[~b ]») is a label, not an end tag.
TEST(FilerRegression, AcceptedLabelsSurviveWritingAndReadingBack) {
  for (const char* list : {"[ a~ x=2.5 ]", "[ ~ ]", "[ ~x=2 ]", "[a ~b ]", "[~b ]"}) {
    SCOPED_TRACE(list);
    FileTools tools;
    std::istringstream in(LabelledFile(list));
    std::unique_ptr<Data> expected;
    std::unique_ptr<Data> generated;
    ASSERT_EQ(tools.ReadDataSets(in, expected, generated), FileTools::kSuccess);
    std::ostringstream out;
    ASSERT_EQ(tools.WriteDataSet(out, expected.get(), nullptr), FileTools::kSuccess);
    std::istringstream back(out.str());
    std::unique_ptr<Data> again;
    ASSERT_EQ(tools.ReadDataSets(back, again, generated), FileTools::kSuccess) << out.str();
    std::ostringstream rewritten;
    ASSERT_EQ(tools.WriteDataSet(rewritten, again.get(), nullptr), FileTools::kSuccess);
    EXPECT_EQ(rewritten.str(), out.str());
  }
}

// A directory opens as a file but fails on the first read, which the stream
// buffer reports with an exception of its own; it is a file that cannot be opened.
TEST(FilerRegression, DirectoryCannotBeOpened) {
  const std::string dir = std::filesystem::temp_directory_path().string();
  FileTools tools;
  std::unique_ptr<Data> expected;
  std::unique_ptr<Data> generated;
  EXPECT_EQ(tools.LoadDataSets(dir.c_str(), expected, generated), FileTools::kCannotOpen);
  EXPECT_EQ(tools.LoadDataSet(dir.c_str(), expected), FileTools::kCannotOpen);
  int offset = 0;
  int rows = 1;
  EXPECT_EQ(tools.LoadDataBlock(dir.c_str(), &offset, &rows, expected, generated),
            FileTools::kCannotOpen);
  EXPECT_EQ(tools.ProbeFile(dir.c_str())->ToText(), "(error :type file-read-error)");
}

}  // namespace
}  // namespace kartlo
