// The streaming recall road against the whole-file road it replaces: the same bytes for
// files of many blocks, and failures reported in the order a run that loads the whole data
// set first reports them, wherever in the file they lie.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "DataObject/Data.h"
#include "Driver/Kartlo.h"
#include "FileHandler/FileTools.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TKohonenNetwork.h"

#include "Driver/TestFiles.h"

namespace kartlo {
namespace {

namespace fs = std::filesystem;
using namespace kartlo::testfiles;

/// A data set file of `rows` rows of two inputs, spread over the unit square, labelled or
/// with one expected output; row `bad` (if any) holds `badRow` instead.
std::string DataFile(int rows, bool labels, int bad = -1, const std::string& badRow = {}) {
  std::string text = "[DataSet]\n[Rows = " + std::to_string(rows) + "]\n[Inputs = 2]\n" +
                     (labels ? "[ExpectedOutputs = Labels]\n" : "[ExpectedOutputs = 1]\n") +
                     "[Data]\n";
  char line[96];
  for (int r = 0; r < rows; ++r) {
    if (r == bad) {
      text += badRow + "\n";
      continue;
    }
    std::snprintf(line, sizeof line, "%.6f %.9g   %s\n", (r % 997) / 996.0,
                  ((r * 7) % 1009) / 1008.0, labels ? "[a b=2 ]" : "0.5");
    text += line;
  }
  return text + "[~Data]\n[~DataSet]\n";
}

/// `text` with the last occurrence of `from` replaced; the test fails if there is none.
std::string ReplaceLast(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.rfind(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

struct RoadRun {
  int status = -1;
  std::string out;
  std::string err;
};

class RecallRoadTest : public ScratchDirTest {
 protected:
  RecallRoadTest() : ScratchDirTest("kartlo-road-") {}
  void SetUp() override {
    ScratchDirTest::SetUp();
    WriteFile(MapPath(), Fixture("map2x2.net"));
  }

  fs::path MapPath() const { return dir_ / "map.net"; }
  fs::path DataPath() const { return dir_ / "in.dat"; }
  fs::path ResultPath() const { return dir_ / "out.dat"; }

  RoadRun Road(const std::string& data) const {
    WriteFile(DataPath(), data);
    std::ostringstream out;
    std::ostringstream err;
    RoadRun run;
    run.status = RunHandled(
        [&] {
          return RecallRoad(MapPath().c_str(), DataPath().c_str(), ResultPath().c_str(), out,
                            err);
        },
        out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
  }

  /// What loading the whole data set, mapping it and writing the result gives.
  std::string WholeFileResult(const std::string& data) const {
    WriteFile(DataPath(), data);
    FileTools tools;
    const std::unique_ptr<TBasicNetwork> network = tools.LoadNetwork(MapPath().c_str());
    std::unique_ptr<Data> input;
    EXPECT_EQ(tools.LoadDataSet(DataPath().c_str(), input), FileTools::kSuccess);
    const std::unique_ptr<Data> result =
        dynamic_cast<TKohonenNetwork&>(*network).MapToCoordinates(input.get());
    std::ostringstream out;
    EXPECT_EQ(tools.WriteDataSet(out, result.get(), nullptr), FileTools::kSuccess);
    return out.str();
  }

};

TEST_F(RecallRoadTest, ManyBlocksGiveTheWholeFileResult) {
  for (bool labels : {false, true}) {
    for (int rows : {0, 1, 16384, 40000}) {
      SCOPED_TRACE(std::to_string(rows) + (labels ? " labelled rows" : " rows"));
      const std::string data = DataFile(rows, labels);
      const RoadRun run = Road(data);
      ASSERT_EQ(run.status, 0) << run.out << run.err;
      EXPECT_EQ(run.out + run.err, "");
      EXPECT_EQ(ReadFile(ResultPath()), WholeFileResult(data));
    }
  }
}

TEST_F(RecallRoadTest, FailuresKeepTheOrderOfTheWholeFileRoad) {
  const std::string nanRow = "nan 0.5   0.5";
  const std::string noWinner =
      "No best-matching node for row 30000 (its distances to the nodes are not finite "
      "numbers)\nBad Parameter\nTKohonenNetwork::MapToCoordinates\n";
  const std::string cannotLoad = "cannot load data file " + DataPath().string() + "\n";
  struct Case {
    const char* name;
    std::string data;
    std::string out;  // standard output: a reader's error
    std::string err;  // standard error
  };
  // The third value of every row read as an error value, or as a third input.
  const std::string partTwo = ReplaceLast(DataFile(40000, false), "[ExpectedOutputs = 1]", "[Error = 1]");
  const std::string wide =
      ReplaceLast(DataFile(40000, false), "[Inputs = 2]\n[ExpectedOutputs = 1]", "[Inputs = 3]");
  const Case cases[] = {
      {"a row without a winner in a later block", DataFile(40000, false, 30000, nanRow), "",
       noWinner},
      {"a syntax error after a row without a winner",
       ReplaceLast(DataFile(40000, false, 30000, nanRow), "0.5\n[~Data]", "x\n[~Data]"),
       "number-expected\n", ""},
      {"the file ending early after a row without a winner",
       DataFile(40000, false, 30000, nanRow).substr(0, 1000000), "Unexpected end of file\n", ""},
      {"a part 2", partTwo, "", cannotLoad},
      {"a syntax error at the end of a file with a part 2",
       ReplaceLast(partTwo, "[~DataSet]", "[~Data]"), "Unexpected End Tag\n", ""},
      {"input counts that differ", wide, "",
       "Data set has 3 inputs but the map has 2\nBad Parameter\n"
       "TKohonenNetwork::MapToCoordinates\n"},
      {"a syntax error at the end of a file whose input count differs",
       ReplaceLast(wide, "[~DataSet]", "[~DataSet] x"), "End Tag expected\n", ""},
      {"no columns, then a syntax error",
       "[DataSet]\n[Rows = 2]\n[Data]\n[~Data]\n[~DataSet]\n]", "Unexpected ']'\n", ""},
      {"no columns", "[DataSet]\n[Rows = 2]\n[Data]\n[~Data]\n[~DataSet]\n", "",
       "cannot load data file " + DataPath().string() + ": it has no columns\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(ResultPath(), "previous result\n");
    const RoadRun run = Road(c.data);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(ReadFile(ResultPath()), "previous result\n");
    for (const auto& entry : fs::directory_iterator(dir_)) {
      EXPECT_EQ(entry.path().filename().string().find(".kartlo-"), std::string::npos)
          << "stray temporary file " << entry.path();
    }
  }
}

TEST_F(RecallRoadTest, AResultThatCannotBeWrittenIsReportedAfterTheMapsRefusal) {
  // The result goes nowhere, and a row without a winner comes later: the refusal is reported.
  WriteFile(DataPath(), "");
  std::ostringstream out;
  std::ostringstream err;
  WriteFile(DataPath(), DataFile(40000, false, 30000, "nan 0.5   0.5"));
  const fs::path nowhere = dir_ / "missing" / "out.dat";
  const int status = RunHandled(
      [&] { return RecallRoad(MapPath().c_str(), DataPath().c_str(), nowhere.c_str(), out, err); },
      out, err);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err.str().rfind("No best-matching node for row 30000", 0), 0U) << err.str();
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

}  // namespace
}  // namespace kartlo
