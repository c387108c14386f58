// Hostile input for the built Kartlo binary: whatever the files hold, a run
// ends within a time and memory bound with its complete result (status 0) or
// with one clear message (status 1), and a failed run leaves no result behind.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Driver/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using namespace kartlo::testfiles;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::size_t Lines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

/// Bytes that are no text at all: every byte value, over and over.
std::string Garbage(std::size_t size) {
  std::string text(size, '\0');
  unsigned state = 12345;
  for (char& c : text) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  return text;
}

/// How an argument is given.
enum class Arg {
  kText,       ///< a file holding the case's text
  kMissing,    ///< a file that does not exist
  kDirectory,  ///< a directory
  kOther,      ///< the same file as the other input argument
};

struct Case {
  const char* name;
  Arg mapArg;
  std::string map;
  Arg dataArg;
  std::string data;
  int status;          ///< 0: the result equals `result`; 1: a message holding `message`
  std::string result;  ///< for status 0
  std::string message;
};

class HostileInput : public ScratchDirTest {
 protected:
  HostileInput() : ScratchDirTest("kartlo-hostile-") {}

  /// Runs the binary under a 20 s limit and, outside the sanitizer build, a
  /// 4 GB address space limit (the sanitizer build caps its resident memory).
  RunResult Kartlo(const std::vector<std::string>& args) const {
    std::string command;
    if (kAddressSanitizer) {
      const char* options = std::getenv("ASAN_OPTIONS");
      command = "ASAN_OPTIONS=" +
                Quote(std::string(options != nullptr ? options : "") +
                      ":hard_rss_limit_mb=4000:max_allocation_size_mb=4000") +
                " ";
    } else {
      command = "ulimit -v 4000000 && ";
    }
    return RunKartlo(command + "timeout 20 ", args);
  }

  /// Lays out the case's two inputs and returns their paths.
  std::pair<fs::path, fs::path> Inputs(const Case& c) const {
    const fs::path mapPath = Path("map.net");
    const fs::path dataPath = Path("in.dat");
    for (const fs::path& p : {mapPath, dataPath}) fs::remove_all(p);
    auto lay = [](Arg arg, const fs::path& path, const std::string& text) {
      if (arg == Arg::kText) WriteFile(path, text);
      if (arg == Arg::kDirectory) fs::create_directory(path);
    };
    lay(c.mapArg, mapPath, c.map);
    lay(c.dataArg, dataPath, c.data);
    return {c.mapArg == Arg::kOther ? dataPath : mapPath,
            c.dataArg == Arg::kOther ? mapPath : dataPath};
  }

  /// Nothing but the inputs, the stream captures and `keep` is left in the directory.
  void ExpectNoStrayFiles(const std::vector<fs::path>& keep) const {
    for (const auto& entry : fs::directory_iterator(dir_)) {
      const std::string name = entry.path().filename().string();
      if (name == "stdout" || name == "stderr" || name == "map.net" || name == "in.dat") continue;
      if (std::find(keep.begin(), keep.end(), entry.path()) != keep.end()) continue;
      ADD_FAILURE() << "stray file " << entry.path();
    }
  }

  /// Runs the case twice: once with an existing CoordinateFile, once without one.
  void Check(const Case& c) {
    SCOPED_TRACE(c.name);
    const auto [mapPath, dataPath] = Inputs(c);
    const fs::path result = Path("out.dat");
    for (const bool existing : {true, false}) {
      SCOPED_TRACE(existing ? "over an existing result" : "without a previous result");
      fs::remove(result);
      if (existing) WriteFile(result, "previous result\n");
      const RunResult run = Kartlo({mapPath.string(), dataPath.string(), result.string()});
      if (c.status == 0) {
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(ReadFile(result), c.result);
        ExpectNoStrayFiles({result});
        continue;
      }
      EXPECT_EQ(run.status, 1) << "stdout: " << run.out << "\nstderr: " << run.err;
      // One message: a line on one stream, or the three lines of a library error.
      const std::string& shown = run.out.empty() ? run.err : run.out;
      EXPECT_TRUE(run.out.empty() || run.err.empty()) << run.out << run.err;
      EXPECT_TRUE(Lines(shown) == 1 || (run.out.empty() && Lines(shown) == 3)) << shown;
      EXPECT_NE(shown.find(c.message), std::string::npos) << shown;
      EXPECT_LT(shown.size(), 1000u) << "the message repeats the input";
      if (existing) {
        EXPECT_EQ(ReadFile(result), "previous result\n");
      } else {
        EXPECT_FALSE(fs::exists(result));
      }
      ExpectNoStrayFiles(existing ? std::vector<fs::path>{result} : std::vector<fs::path>{});
    }
  }

};

const std::string kMap = Fixture("map2x2.net");
const std::string kData = Fixture("labelled.dat");
const std::string kResult = Fixture("expected.dat");

std::string MapWith(const std::string& from, const std::string& to) {
  return Replace(kMap, from, to);
}
std::string DataWith(const std::string& from, const std::string& to) {
  return Replace(kData, from, to);
}

TEST_F(HostileInput, BrokenBytes) {
  std::string openers;
  std::string closers;
  for (int i = 0; i < 1000000; ++i) {
    openers += "/*";
    closers += "*/";
  }
  const std::string longWord(1 << 20, 'x');
  const Case cases[] = {
      {"empty map", Arg::kText, "", Arg::kText, kData, 1, "", "[NEURALNETWORK] expected"},
      {"empty data", Arg::kText, kMap, Arg::kText, "", 1, "", "[DATASET] expected"},
      {"garbage map", Arg::kText, Garbage(100000), Arg::kText, kData, 1, "", ""},
      {"garbage data", Arg::kText, kMap, Arg::kText, Garbage(100000), 1, "", ""},
      {"garbage after a valid map", Arg::kText, kMap + Garbage(1000), Arg::kText, kData, 1, "",
       ""},
      {"NUL bytes between the tokens", Arg::kText, ReplaceAll(kMap, " ", std::string(1, '\0')),
       Arg::kText, ReplaceAll(kData, " ", std::string("\0\0", 2)), 0, kResult, ""},
      {"NUL byte inside a number", Arg::kText, kMap, Arg::kText,
       DataWith("0.9 0.1", std::string("0.9 0.\0" "1", 8)), 1, "", "Label list expected"},
      {"CRLF line ends", Arg::kText, ReplaceAll(kMap, "\n", "\r\n"), Arg::kText,
       ReplaceAll(kData, "\n", "\r\n"), 0, kResult, ""},
      {"CR line ends", Arg::kText, ReplaceAll(kMap, "\n", "\r"), Arg::kText,
       ReplaceAll(kData, "\n", "\r"), 0, kResult, ""},
      {"a million nested comments", Arg::kText, openers + closers + kMap, Arg::kText,
       kData + openers + closers, 0, kResult, ""},
      {"a million unclosed nested comments", Arg::kText, kMap + openers, Arg::kText, kData, 1,
       "", "Unexpected end of file during comment"},
      {"a 1 MB label", Arg::kText, kMap, Arg::kText, DataWith("[a ]", "[" + longWord + " ]"), 0,
       kResult, ""},
      {"a 1 MB network type", Arg::kText, MapWith("Kohonen", longWord), Arg::kText, kData, 1,
       "", "Unknown network type"},
      {"a 1 MB number", Arg::kText, kMap, Arg::kText,
       DataWith("0.9 0.1", "0." + std::string(1 << 20, '9') + " 0.1"), 0,
       Replace(kResult, "0.9 0.1 ", "1 0.1 "), ""},
      {"a 1 MB integer count", Arg::kText, kMap, Arg::kText,
       DataWith("[Rows = 3]", "[Rows = " + std::string(1 << 20, '9') + "]"), 1, "",
       "Count out of range"},
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(HostileInput, HugeAndNegativeCounts) {
  const Case cases[] = {
      // The data set header.
      {"Rows 2^31", Arg::kText, kMap, Arg::kText, DataWith("[Rows = 3]", "[Rows = 2147483648]"),
       1, "", "Count out of range"},
      {"Rows 2^31 - 1", Arg::kText, kMap, Arg::kText,
       DataWith("[Rows = 3]", "[Rows = 2147483647]"), 1, "", "Token (number) expected"},
      {"Rows 2^63", Arg::kText, kMap, Arg::kText,
       DataWith("[Rows = 3]", "[Rows = 9223372036854775808]"), 1, "", "Count out of range"},
      {"Rows -1", Arg::kText, kMap, Arg::kText, DataWith("[Rows = 3]", "[Rows = -1]"), 1, "",
       "No labels in inputs"},
      {"Inputs 2^31", Arg::kText, kMap, Arg::kText,
       DataWith("[Inputs = 2]", "[Inputs = 2147483648]"), 1, "", "Count out of range"},
      {"Inputs 2^31 - 1", Arg::kText, kMap, Arg::kText,
       DataWith("[Inputs = 2]", "[Inputs = 2147483647]"), 1, "", "Token (number) expected"},
      {"Inputs -2^31", Arg::kText, kMap, Arg::kText,
       DataWith("[Inputs = 2]", "[Inputs = -2147483648]"), 1, "", "No labels in inputs"},
      {"ExpectedOutputs 2^32", Arg::kText, kMap, Arg::kText,
       DataWith("[ExpectedOutputs = Labels]", "[ExpectedOutputs = 4294967296]"), 1, "",
       "Count out of range"},
      {"ExpectedOutputs 2^31 - 1", Arg::kText, kMap, Arg::kText,
       DataWith("[ExpectedOutputs = Labels]", "[ExpectedOutputs = 2147483647]"), 1, "",
       "Token (number) expected"},
      {"GeneratedOutputs 2^31 - 1", Arg::kText, kMap, Arg::kText,
       DataWith("[GeneratedOutputs = 0]", "[GeneratedOutputs = 2147483647]"), 1, "",
       "Token (number) expected"},
      {"Error 2^31 - 1", Arg::kText, kMap, Arg::kText,
       DataWith("[Error = 0]", "[Error = 2147483647]"), 1, "", "Token (number) expected"},
      {"Rows and Inputs 2^31 - 1 with no rows", Arg::kText, kMap, Arg::kText,
       "[DataSet]\n[Rows = 2147483647]\n[Inputs = 2147483647]\n[Data]\n[~Data]\n[~DataSet]\n", 1,
       "", "Token (number) expected"},
      {"Inputs 2^31 - 1 and no rows", Arg::kText, kMap, Arg::kText,
       "[DataSet]\n[Rows = 0]\n[Inputs = 2147483647]\n[Data]\n[~Data]\n[~DataSet]\n", 0,
       "[FormatVersion = 1.0]\n\n[DataSet]\n[Rows = 0]\n[Inputs = 2]\n[ExpectedOutputs = 2]\n"
       "[GeneratedOutputs = 0]\n[Error = 0]\n\n[Data]\n[~Data]\n\n[~DataSet]\n",
       ""},
      // The network header.
      {"NumberOfLayers 2^31", Arg::kText,
       MapWith("[NumberOfLayers = 3]", "[NumberOfLayers = 2147483648]"), Arg::kText, kData, 0,
       kResult, ""},
      {"NumberOfLayers 2^31 without OutputLayer", Arg::kText,
       MapWith("[NumberOfLayers = 3]\n[InputLayer = 1]\n[OutputLayer = 2]",
               "[NumberOfLayers = 2147483648]\n[InputLayer = 1]"),
       Arg::kText, kData, 1, "", "OutputLayer 2147483647 out of range"},
      {"NumberOfLayers -1", Arg::kText, MapWith("[NumberOfLayers = 3]", "[NumberOfLayers = -1]"),
       Arg::kText, kData, 1, "", "Must specify number of layers"},
      {"InputLayer 2^31", Arg::kText, MapWith("[InputLayer = 1]", "[InputLayer = 2147483648]"),
       Arg::kText, kData, 1, "", "InputLayer 2147483648 out of range"},
      {"OutputLayer -2^31 - 1", Arg::kText,
       MapWith("[OutputLayer = 2]", "[OutputLayer = -2147483649]"), Arg::kText, kData, 0,
       kResult, ""},
      {"NumberOfInputs 2^32 + 2", Arg::kText,
       MapWith("[NumberOfInputs = 2]", "[NumberOfInputs = 4294967298]"), Arg::kText, kData, 1,
       "", "wrong number inputs in header"},
      {"NumberOfOutputs 2^63", Arg::kText,
       MapWith("[NumberOfOutputs = 4]", "[NumberOfOutputs = 9223372036854775808]"), Arg::kText,
       kData, 1, "", "wrong number outputs in header"},
      // The grid.
      {"Dimensions 2^31", Arg::kText, MapWith("[Dimensions = 2]", "[Dimensions = 2147483648]"),
       Arg::kText, kData, 1, "", "Dimensions 2147483648 out of range"},
      {"Dimensions -1", Arg::kText, MapWith("[Dimensions = 2]", "[Dimensions = -1]"), Arg::kText,
       kData, 1, "", "Dimensions -1 out of range"},
      {"Dimension number 2^32", Arg::kText,
       MapWith("[Dimension=1 Size=2 ]", "[Dimension=4294967296 Size=2 ]"), Arg::kText, kData, 1,
       "", "Dimension 4294967296 out of range"},
      {"Size 2^31", Arg::kText, MapWith("[Dimension=1 Size=2 ]", "[Dimension=1 Size=2147483648 ]"),
       Arg::kText, kData, 1, "", "Kohonen grid too large"},
      {"Size -2", Arg::kText, MapWith("[Dimension=1 Size=2 ]", "[Dimension=1 Size=-2 ]"),
       Arg::kText, kData, 1, "", "Size -2 of dimension 1 below 1"},
      {"sizes whose product overflows", Arg::kText,
       MapWith("[Dimension=0 Size=2 ]\n[Dimension=1 Size=2 ]",
               "[Dimension=0 Size=4294967296 ]\n[Dimension=1 Size=4294967296 ]"),
       Arg::kText, kData, 1, "", "Kohonen grid too large"},
      {"sizes whose int product wraps to 4", Arg::kText,
       MapWith("[Dimensions = 2]\n[Dimension=0 Size=2 ]\n[Dimension=1 Size=2 ]",
               "[Dimensions = 3]\n[Dimension=0 Size=65536 ]\n[Dimension=1 Size=65536 ]\n"
               "[Dimension=2 Size=4 ]"),
       Arg::kText, kData, 1, "", "Kohonen grid too large"},
      // The layers.
      {"NumberOfNeurons 2^31", Arg::kText,
       MapWith("[NumberOfNeurons = 4]", "[NumberOfNeurons = 2147483648]"), Arg::kText, kData, 1,
       "", "wrong number outputs in header"},
      {"NumberOfNeurons 2^31 without NumberOfOutputs", Arg::kText,
       Replace(MapWith("[NumberOfNeurons = 4]", "[NumberOfNeurons = 2147483648]"),
               "[NumberOfOutputs = 4]\n", ""),
       Arg::kText, kData, 1, "", "too large"},
      {"NumberOfNeurons -1", Arg::kText,
       MapWith("[NumberOfNeurons = 0]", "[NumberOfNeurons = -1]"), Arg::kText, kData, 1, "",
       "NumberOfNeurons -1 of layer 0 is negative"},
      {"Layer 2^31", Arg::kText, MapWith("[Layer = 0]", "[Layer = 2147483648]"), Arg::kText,
       kData, 1, "", "Layer 2147483648 out of range"},
      {"Layer -1", Arg::kText, MapWith("[Layer = 0]", "[Layer = -1]"), Arg::kText, kData, 1, "",
       "Layer -1 out of range"},
      // The connection block.
      {"LayerFrom 2^31", Arg::kText, MapWith("[LayerFrom = 1]", "[LayerFrom = 2147483648]"),
       Arg::kText, kData, 1, "", "LayerFrom 2147483648 out of range"},
      {"LayerTo 2^64", Arg::kText, MapWith("[LayerTo = 2]", "[LayerTo = 18446744073709551616]"),
       Arg::kText, kData, 1, "", "LayerTo 9223372036854775807 out of range"},
      {"LayerFrom -1", Arg::kText, MapWith("[LayerFrom = 1]", "[LayerFrom = -1]"), Arg::kText,
       kData, 1, "", "Insufficient information to construct layer"},
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(HostileInput, ConnectionBlocksAndValues) {
  const std::string matrix =
      "                   0                    0                    1                    1  /* 0 */\n"
      "                   0                    1                    0                    1  /* 1 */\n";
  const std::string pruneable =
      Replace(MapWith("[ConnectionType = FullyConnected]", "[ConnectionType = Pruneable]"),
              matrix, "");
  // Node 0 out of reach: row 0 goes to node 1, at grid position (0, 1).
  const std::string node0Skipped = Replace(kResult, "0.1 0.2   0 0", "0.1 0.2   0 1");
  const Case cases[] = {
      {"a Matrix cell missing", Arg::kText, MapWith(matrix, Replace(matrix, "1  /* 1 */", "")),
       Arg::kText, kData, 1, "", "Token Expected"},
      {"a surplus Matrix cell", Arg::kText, MapWith(matrix, matrix + "0\n"), Arg::kText, kData,
       1, "", "End Tag expected"},
      {"a Matrix without cells", Arg::kText, MapWith(matrix, ""), Arg::kText, kData, 1, "",
       "Token Expected"},
      {"a bracket among the cells", Arg::kText, MapWith(matrix, "[x]" + matrix), Arg::kText,
       kData, 1, "", "Token Expected"},
      {"WeightList From 2^31", Arg::kText,
       Replace(pruneable, "[Matrix Weights ]\n",
               "[WeightList]\n[From=2147483648 To=0 Weight=1 ]\n[~WeightList]\n[Matrix Weights ]\n"),
       Arg::kText, kData, 1, "", "From 2147483648 out of range"},
      {"WeightList To -1", Arg::kText,
       Replace(pruneable, "[Matrix Weights ]\n",
               "[WeightList]\n[From=0 To=-1 Weight=1 ]\n[~WeightList]\n[Matrix Weights ]\n"),
       Arg::kText, kData, 1, "", "Insufficient information in weights list"},
      {"NaN weights everywhere", Arg::kText, MapWith(matrix, ReplaceAll(ReplaceAll(matrix, "1", "nan"), "0", "nan")),
       Arg::kText, kData, 1, "", "No best-matching node for row 0"},
      {"an infinite weight", Arg::kText, MapWith(matrix, Replace(matrix, "0", "inf")), Arg::kText,
       kData, 0, node0Skipped, ""},
      {"a NaN weight", Arg::kText, MapWith(matrix, Replace(matrix, "0", "nan")), Arg::kText,
       kData, 0, node0Skipped, ""},
      {"a NaN input", Arg::kText, kMap, Arg::kText, DataWith("0.9 0.1", "nan 0.1"), 1, "",
       "No best-matching node for row 1"},
      {"an infinite input", Arg::kText, kMap, Arg::kText, DataWith("0.9 0.1", "-inf 0.1"), 1, "",
       "No best-matching node for row 1"},
      {"an input of 1e308", Arg::kText, kMap, Arg::kText, DataWith("0.9 0.1", "1e308 0.1"), 1,
       "", "No best-matching node for row 1"},
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(HostileInput, WrongKindsOfFile) {
  const Case cases[] = {
      {"a directory as WeightFile", Arg::kDirectory, "", Arg::kText, kData, 1, "",
       "Error on File Open"},
      // Any one clear message will do here: the data set reader's own report of a
      // directory is still to come.
      {"a directory as LabelFile", Arg::kText, kMap, Arg::kDirectory, "", 1, "", ""},
      {"the WeightFile as LabelFile", Arg::kText, kMap, Arg::kOther, "", 1, "",
       "[DATASET] expected"},
      {"the LabelFile as WeightFile", Arg::kOther, "", Arg::kText, kData, 1, "",
       "[NEURALNETWORK] expected"},
      {"a missing WeightFile", Arg::kMissing, "", Arg::kText, kData, 1, "",
       "Error on File Open"},
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(HostileInput, ResultInAMissingDirectory) {
  WriteFile(Path("map.net"), kMap);
  WriteFile(Path("in.dat"), kData);
  const fs::path target = Path("missing") / "out.dat";
  const RunResult run = Kartlo({Path("map.net").string(), Path("in.dat").string(), target.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "cannot save to data file " + target.string() + "\n");
  EXPECT_FALSE(fs::exists(Path("missing")));
}

}  // namespace
