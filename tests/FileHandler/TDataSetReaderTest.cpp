#include "FileHandler/TDataSetReader.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <istream>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "FileHandler/FileTools.h"

namespace kartlo {
namespace {

/// Serves a text a few characters at a time, so that words straddle the ends of the
/// buffer's get area.
class ChunkedBuffer : public std::streambuf {
 public:
  ChunkedBuffer(std::string text, std::size_t chunk) : text_(std::move(text)), chunk_(chunk) {}

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    if (served_ >= text_.size()) return traits_type::eof();
    char* begin = text_.data() + served_;
    const std::size_t n = std::min(chunk_, text_.size() - served_);
    served_ += n;
    setg(begin, begin, begin + n);
    return traits_type::to_int_type(*begin);
  }

 private:
  std::string text_;
  std::size_t chunk_;
  std::size_t served_ = 0;
};

/// Texts of row values: short decimals (read in place), and every other form that goes
/// through ParseNumber.
std::vector<std::string> Tokens() {
  std::vector<std::string> tokens = {
      "0.5", "-0.000", "+1.25", "5.", ".5", "-.5", "123456789012345", "1234567890123456",
      "0.1234567890123456789", "1e5", "1.5E-3", "-0", "007", "0.30000000000000004",
      "999999999999999", "0.000000000000001", "-123.456e2", "inf", "-nan", "0x1p3", "3abc",
      "0.25/*c*/", "42"};
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> unit(-1000.0, 1000.0);
  char buffer[64];
  for (int i = 0; i < 2000; ++i) {
    const char* formats[] = {"%.6f", "%.15g", "%.17g", "%.3e", "%.0f", "%.14f"};
    std::snprintf(buffer, sizeof buffer, formats[i % 6], unit(random));
    tokens.emplace_back(buffer);
  }
  return tokens;
}

TEST(TDataSetReader, ValuesReadExactlyAsParseNumberParsesThem) {
  const std::vector<std::string> tokens = Tokens();
  std::string text = "[DataSet]\n[Rows = " + std::to_string(tokens.size()) +
                     "]\n[Inputs = 1]\n[Data]\n";
  for (const std::string& token : tokens) text += token + "\n";
  text += "[~Data]\n[~DataSet]\n";

  FileTools tools;
  std::istringstream unused;
  for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{7}, text.size()}) {
    SCOPED_TRACE("chunks of " + std::to_string(chunk));
    ChunkedBuffer buffer(text, chunk);
    std::istream in(&buffer);
    TDataSetReader reader(tools, in);
    reader.ReadHeader();
    TRowBlock block;
    // In two pieces, as the recall road reads.
    reader.ReadRows(static_cast<int>(tokens.size() / 2), block);
    reader.ReadRows(static_cast<int>(tokens.size() - tokens.size() / 2), block);
    reader.ReadEnd();
    ASSERT_EQ(block.in1.size(), tokens.size());
    for (std::size_t k = 0; k < tokens.size(); ++k) {
      // A comment after a word only ends it.
      const std::string word = tokens[k].substr(0, tokens[k].find('/'));
      const double expected = tools.ParseNumber(unused, word.c_str());
      EXPECT_EQ(std::bit_cast<std::uint64_t>(block.in1[k]), std::bit_cast<std::uint64_t>(expected))
          << tokens[k];
    }
  }
}

TEST(TDataSetReader, RefusesWhatParseNumberRefuses) {
  FileTools tools;
  for (const char* row : {"abc", "-", ".", "+", "e5", "--1"}) {
    SCOPED_TRACE(row);
    std::istringstream in(std::string("[DataSet]\n[Rows = 1]\n[Inputs = 1]\n[Data]\n") + row +
                          "\n[~Data]\n[~DataSet]\n");
    TDataSetReader reader(tools, in);
    reader.ReadHeader();
    TRowBlock block;
    try {
      reader.ReadRows(1, block);
      ADD_FAILURE() << "accepted";
    } catch (const FileTools::Error& e) {
      EXPECT_EQ(e.message, "number-expected");
    }
  }
}

}  // namespace
}  // namespace kartlo
