// Runs the built Kartlo binary on fixture files and checks its streams, its
// exit status and the result file byte for byte.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Driver/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using namespace kartlo::testfiles;

class EndToEnd : public ScratchDirTest {
 protected:
  EndToEnd() : ScratchDirTest("kartlo-e2e-") {}

  fs::path Put(const std::string& name, const std::string& text) const {
    WriteFile(Path(name), text);
    return Path(name);
  }

  RunResult Kartlo(const std::vector<std::string>& args) const { return RunKartlo("", args); }

};

TEST_F(EndToEnd, MapsEveryRowToItsBestNodesCoordinates) {
  const fs::path map = Put("map.net", Fixture("map2x2.net"));
  const fs::path data = Put("in.dat", Fixture("labelled.dat"));
  const RunResult run = Kartlo({map, data, Path("out.dat")});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadFile(Path("out.dat")), Fixture("expected.dat"));
}

TEST_F(EndToEnd, LabelsAndExpectedOutputsDoNotInfluenceTheResult) {
  const fs::path map = Put("map.net", Fixture("map2x2.net"));
  std::string outputs = Fixture("labelled.dat");
  outputs = Replace(outputs, "[ExpectedOutputs = Labels]", "[ExpectedOutputs = 1]");
  outputs = Replace(outputs, "0.1 0.2   [a ]", "0.1 0.2   7");
  outputs = Replace(outputs, "0.9 0.1   [b ]", "0.9 0.1   -3");
  outputs = Replace(outputs, "0.6 0.7   [c ]", "0.6 0.7   1e300");
  std::string otherLabels = Fixture("labelled.dat");
  otherLabels = Replace(otherLabels, "[a ]", "[zzz x=2.5 ]");
  for (const std::string& text : {outputs, otherLabels}) {
    const fs::path data = Put("in.dat", text);
    const RunResult run = Kartlo({map, data, Path("out.dat")});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadFile(Path("out.dat")), Fixture("expected.dat"));
  }
}

TEST_F(EndToEnd, ZeroRowsGiveAnEmptyResult) {
  const fs::path map = Put("map.net", Fixture("map2x2.net"));
  const fs::path data = Put("in.dat",
                            "[DataSet]\n[Rows = 0]\n[Inputs = 2]\n[Data]\n[~Data]\n[~DataSet]\n");
  const RunResult run = Kartlo({map, data, Path("out.dat")});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(ReadFile(Path("out.dat")),
            "[FormatVersion = 1.0]\n\n[DataSet]\n[Rows = 0]\n[Inputs = 2]\n"
            "[ExpectedOutputs = 2]\n[GeneratedOutputs = 0]\n[Error = 0]\n\n[Data]\n[~Data]\n\n"
            "[~DataSet]\n");
}

TEST_F(EndToEnd, WritesToStandardOutputWhenAskedTo) {
  const fs::path map = Put("map.net", Fixture("map2x2.net"));
  const fs::path data = Put("in.dat", Fixture("labelled.dat"));
  const RunResult run = Kartlo({map, data, "/dev/stdout"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, Fixture("expected.dat"));
}

// Every failure ends with status 1 and one clear message, and leaves an
// existing CoordinateFile exactly as it was.
TEST_F(EndToEnd, FailuresReportAndLeaveTheResultUntouched) {
  const std::string map = Fixture("map2x2.net");
  const std::string data = Fixture("labelled.dat");
  struct Case {
    const char* name;
    std::string mapText;   // empty: the map file does not exist
    std::string dataText;  // empty: the data file does not exist
    std::string out;       // expected standard output ("@" stands for the data file path)
    std::string err;       // expected standard error
    std::string libraryError = {};  // else: three lines on standard error holding this text
  };
  const std::string basic = Replace(
      Replace(map, "[NetworkType = Kohonen]", "[NetworkType = Basic]"),
      "[Dimensions = 2]\n[Dimension=0 Size=2 ]\n[Dimension=1 Size=2 ]\n[~Dimensions]\n", "");
  const Case cases[] = {
      {"missing map", "", data, "Error on File Open\n", ""},
      {"missing data", map, "", "", "cannot load data file @\n"},
      {"data with a part 2", map,
       "[DataSet]\n[Rows = 1]\n[Inputs = 2]\n[Error = 1]\n[Data]\n0.1 0.2 0.5\n[~Data]\n"
       "[~DataSet]\n",
       "", "cannot load data file @\n"},
      {"syntax error in the map", Replace(map, "[~Layer]", "[~Lyer]"), data,
       "Unexpected End Tag\n", ""},
      {"syntax error in the data", map, Replace(data, "0.9 0.1", "0.9 [x"),
       "Token (number) expected\n", ""},
      {"unknown header keyword", map, Replace(data, "[GeneratedOutputs = 0]", "[Foo = 0]"),
       "[DATA] expected\n", ""},
      {"a Basic network", basic, data, "",
       "network file @map holds a Basic network, not a Kohonen map\n"},
      {"input count differs", map,
       "[DataSet]\n[Rows = 1]\n[Inputs = 3]\n[Data]\n0.1 0.2 0.3\n[~Data]\n[~DataSet]\n", "",
       "", "3 inputs"},
      {"no columns", map,
       "[DataSet]\n[Rows = 1]\n[Inputs = 0]\n[Data]\n[~Data]\n[~DataSet]\n", "",
       "cannot load data file @: it has no columns\n"},
      {"not-a-number input", map, Replace(data, "0.9 0.1", "nan 0.1"), "", "", "row"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path mapPath = Path("map.net");
    const fs::path dataPath = Path("in.dat");
    fs::remove(mapPath);
    fs::remove(dataPath);
    if (!c.mapText.empty()) Put("map.net", c.mapText);
    if (!c.dataText.empty()) Put("in.dat", c.dataText);
    const fs::path result = Put("out.dat", "previous result\n");
    const RunResult run = Kartlo({mapPath, dataPath, result});
    EXPECT_EQ(run.status, 1);
    auto expand = [&](std::string text) {
      for (auto at = text.find("@map"); at != std::string::npos; at = text.find("@map"))
        text.replace(at, 4, mapPath.string());
      for (auto at = text.find('@'); at != std::string::npos; at = text.find('@'))
        text.replace(at, 1, dataPath.string());
      return text;
    };
    EXPECT_EQ(run.out, expand(c.out));
    if (!c.libraryError.empty()) {
      // An error raised by the map: text, category and origin on three lines.
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 3) << run.err;
      EXPECT_NE(run.err.find(c.libraryError), std::string::npos) << run.err;
    } else {
      EXPECT_EQ(run.err, expand(c.err));
    }
    EXPECT_EQ(ReadFile(result), "previous result\n");
    for (const auto& entry : fs::directory_iterator(dir_)) {
      EXPECT_EQ(entry.path().filename().string().find(".kartlo-"), std::string::npos)
          << "stray temporary file " << entry.path();
    }
  }
}

TEST_F(EndToEnd, UnwritableResultIsReported) {
  const fs::path map = Put("map.net", Fixture("map2x2.net"));
  const fs::path data = Put("in.dat", Fixture("labelled.dat"));
  for (const fs::path& target : {Path("missing/out.dat"), dir_, fs::path("/dev/full")}) {
    SCOPED_TRACE(target.string());
    const RunResult run = Kartlo({map, data, target});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "cannot save to data file " + target.string() + "\n");
  }
  EXPECT_FALSE(fs::exists(Path("missing")));
}

TEST_F(EndToEnd, NewResultGetsTheModeOfAPlainCreate) {
  const fs::path map = Put("map.net", Fixture("map2x2.net"));
  const fs::path data = Put("in.dat", Fixture("labelled.dat"));
  const mode_t old = ::umask(022);
  const RunResult run = Kartlo({map, data, Path("out.dat")});
  ::umask(old);
  ASSERT_EQ(run.status, 0);
  struct stat st {};
  ASSERT_EQ(::stat(Path("out.dat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

}  // namespace
