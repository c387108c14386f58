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

std::string ReadError(const std::string& text) {
  FileTools tools;
  std::istringstream in(text);
  std::unique_ptr<Data> expected;
  std::unique_ptr<Data> generated;
  try {
    tools.ReadDataSets(in, expected, generated);
  } catch (const FileTools::Error& e) {
    return e.message;
  }
  return "(no error)";
}

std::string LabelledFile(const std::string& list) {
  return "[DataSet]\n[Rows = 1]\n[Inputs = 1]\n[ExpectedOutputs = Labels]\n[Data]\n0.5 " + list +
         "\n[~Data]\n[~DataSet]\n";
}

// A label text beginning with "~" is written as "[~...", which reads as an end
// tag and never as a label list, so the file could not be read back. The
// reader refuses such a label wherever it stands in the list.
TEST(FilerRegression, LabelTextBeginningWithTildeIsRefused) {
  struct Case {
    const char* list;
    const char* message;
  };
  const Case cases[] = {
      {"[ ~ ]", "Label text may not begin with '~'"},
      {"[ ~x=2 ]", "Label text may not begin with '~'"},
      {"[a ~b ]", "Label text may not begin with '~'"},
      {"[~b ]", "Label list expected"},
      {"[a~ b=2 ]", "(no error)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    EXPECT_EQ(ReadError(LabelledFile(c.list)), c.message);
  }
}

// Whatever the reader accepts, the writer writes as a file the reader accepts.
TEST(FilerRegression, AcceptedLabelsSurviveWritingAndReadingBack) {
  const std::string text = LabelledFile("[ a~ x=2.5 ]");
  FileTools tools;
  std::istringstream in(text);
  std::unique_ptr<Data> expected;
  std::unique_ptr<Data> generated;
  ASSERT_EQ(tools.ReadDataSets(in, expected, generated), FileTools::kSuccess);
  std::ostringstream out;
  ASSERT_EQ(tools.WriteDataSet(out, expected.get(), nullptr), FileTools::kSuccess);
  EXPECT_EQ(ReadError(out.str()), "(no error)") << out.str();
}

// A directory opens as a file but fails on the first read, which the stream
// buffer reports with an exception of its own; it is a file that cannot be opened.
// Disabled until the data set file openers check the first read.
TEST(FilerRegression, DISABLED_DirectoryCannotBeOpened) {
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
