#include "FileHandler/TDataSetReader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <istream>
#include <streambuf>

#include "FileHandler/FileTools.h"
#include "FileHandler/TagCharClasses.h"

namespace kartlo {
namespace {

using namespace tagchars;

/// The get area of a stream buffer, protected in std::streambuf, for scanning words in place.
struct GetArea : std::streambuf {
  static const char* Next(std::streambuf* sb) { return (sb->*&GetArea::gptr)(); }
  static const char* End(std::streambuf* sb) { return (sb->*&GetArea::egptr)(); }
  static void Advance(std::streambuf* sb, std::ptrdiff_t n) {
    (sb->*&GetArea::gbump)(static_cast<int>(n));
  }
};

constexpr double kExactPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

/// A short plain decimal, [sign] digits [. digits] with at least one digit, at most fifteen
/// digits in all and no exponent: the mantissa and the power of ten are exact doubles, so one
/// division rounds exactly as strtod does, and the "%f" scan accepts the text. False for any
/// other text, which the caller hands to ParseNumber.
bool ShortDecimal(const char* p, const char* end, double& value) {
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  std::uint64_t mantissa = 0;
  int digits = 0;
  int fraction = 0;
  for (; p < end && *p >= '0' && *p <= '9'; ++p, ++digits)
    mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
  if (p < end && *p == '.') {
    for (++p; p < end && *p >= '0' && *p <= '9'; ++p, ++digits, ++fraction)
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
  }
  if (p != end || digits == 0 || digits > 15) return false;
  const double magnitude = static_cast<double>(mantissa) / kExactPow10[fraction];
  value = negative ? -magnitude : magnitude;
  return true;
}

/// The next spare list of `lists` (emptied), or a new one; `used` counts the lists in use.
TLabelList& NextList(std::vector<TLabelList>& lists, std::size_t& used) {
  if (used == lists.size()) lists.emplace_back();
  TLabelList& list = lists[used++];
  list.Clear();
  return list;
}

}  // namespace

TRowLayout TRowLayout::Of(const TDataSetHeader& header) {
  TRowLayout layout;
  layout.labels1 = header.expectedOutputs == -1;
  layout.labels2 = header.generatedOutputs == -1;
  layout.in1 = header.inputs > 0 ? header.inputs : 0;
  layout.out1 = header.expectedOutputs > 0 ? header.expectedOutputs : 0;
  layout.in2 = header.generatedOutputs > 0 ? header.generatedOutputs : 0;
  layout.out2 = header.error > 0 ? header.error : 0;
  layout.part1 = layout.in1 > 0 || layout.out1 > 0 || layout.labels1;
  layout.part2 = layout.in2 > 0 || layout.out2 > 0 || layout.labels2;
  return layout;
}

void TRowBlock::Clear() {
  in1.clear();
  out1.clear();
  in2.clear();
  out2.clear();
  lists1 = 0;
  lists2 = 0;
}

bool TDataSetReader::Open(const char* file, std::ifstream& in) {
  if (file != nullptr) in.open(file, std::ios::binary);
  if (!in.is_open()) return false;
  // A directory opens but fails on its first read; peek turns the stream
  // buffer's exception into a bad stream, and such a file cannot be read.
  in.peek();
  if (in.bad()) {
    in.close();
    return false;
  }
  in.clear();
  return true;
}

void TDataSetReader::ReadHeader() {
  dataSetName_ = tools_.ExpectStartTag(tools_.ReadTag(in_, nullptr, false), in_, "DATASET");
  TDataSetHeader h;
  TagInfo tag;
  tools_.ReadDataSetHeader(in_, h.inputs, h.expectedOutputs, h.generatedOutputs, h.error,
                           h.rows, tag);
  dataName_ = tools_.ExpectStartTag(tag, in_, "DATA");
  if (h.rows < 0) FileTools::Fail(in_, "[ROWS = <integer>] expected");
  header_ = h;
  layout_ = TRowLayout::Of(h);
}

void TDataSetReader::ReadRows(int count, TRowBlock& block) {
  const TRowLayout& layout = layout_;
  if (!layout.part1 && !layout.part2) return;  // rows without any values or lists
  const long long after1 = static_cast<long long>(layout.out1) + layout.in2 + layout.out2;
  for (int row = 0; row < count; ++row) {
    Values(layout.in1, block.in1);
    bool pending1 = false;
    if (layout.labels1) {
      pending1 = after1 > 0 && !LabelListFollows();
      if (!pending1) ReadLabelListInto(tools_, in_, NextList(block.labels1, block.lists1));
    }
    Values(layout.out1, block.out1);
    Values(layout.in2, block.in2);
    bool pending2 = false;
    if (layout.labels2) {
      pending2 = pending1 || (layout.out2 > 0 && !LabelListFollows());
      if (!pending2) ReadLabelListInto(tools_, in_, NextList(block.labels2, block.lists2));
    }
    Values(layout.out2, block.out2);
    if (pending1) ReadLabelListInto(tools_, in_, NextList(block.labels1, block.lists1));
    if (pending2) ReadLabelListInto(tools_, in_, NextList(block.labels2, block.lists2));
  }
}

void TDataSetReader::ReadEnd() {
  tools_.ExpectEndTag(tools_.ReadTag(in_, dataName_.c_str(), false), in_);
  tools_.ExpectEndTag(tools_.ReadTag(in_, dataSetName_.c_str(), false), in_);
  tools_.ExpectEndTag(tools_.ReadTag(in_, nullptr, false), in_);
}

/// One row value. A plain word is collected here and parsed; anything else goes through
/// ReadTag and ReadNumberToken, which accept or refuse it as a value.
double TDataSetReader::Value() {
  // Most values are plain words lying whole in the stream's buffer: scanned there in place.
  if (!in_.fail()) {
    std::streambuf* sb = in_.rdbuf();
    const char* start = GetArea::Next(sb);
    const char* end = GetArea::End(sb);
    const char* p = start;
    while (p < end && kClass[static_cast<unsigned char>(*p)] == kSeparator) ++p;
    const char* q = p;
    while (q < end && kClass[static_cast<unsigned char>(*q)] == kWord) ++q;
    if (q > p && q < end) {
      // A separator ending a word is consumed, a special character is not.
      const char* after = kClass[static_cast<unsigned char>(*q)] == kSeparator ? q + 1 : q;
      double value = 0.0;
      if (ShortDecimal(p, q, value)) {
        GetArea::Advance(sb, after - start);
        return value;
      }
      word_.assign(p, q);
      GetArea::Advance(sb, after - start);
      return tools_.ParseNumber(in_, word_.c_str());
    }
    GetArea::Advance(sb, p - start);  // separators only; the rest goes the general way
  }
  for (;;) {
    std::streambuf* sb = in_.fail() ? nullptr : in_.rdbuf();
    if (sb == nullptr) return ThroughTagReader();
    int c = sb->sgetc();
    while (IsSeparator(c)) c = sb->snextc();
    if (c == kEnd) return ThroughTagReader();  // reports the end of input
    if (IsWord(c)) {
      word_.clear();
      do {
        word_.push_back(static_cast<char>(c));
        c = sb->snextc();
      } while (IsWord(c));
      if (c == kEnd) {
        in_.setstate(std::ios_base::eofbit);
      } else if (IsSeparator(c)) {
        sb->sbumpc();  // a separator ending a word is consumed, a special character is not
      }
      return tools_.ParseNumber(in_, word_.c_str());
    }
    if (c == '[' || c == ']') return ThroughTagReader();  // a tag, an end tag or a stray "]"
    sb->sbumpc();
    if (c == '/' && sb->sgetc() == '*') {
      sb->sbumpc();
      tools_.SkipComment(in_);
      continue;
    }
    // Any other special character is a bare one-character token.
    const char text[2] = {static_cast<char>(c), '\0'};
    return tools_.ParseNumber(in_, text);
  }
}

void TDataSetReader::Values(int count, std::vector<double>& values) {
  for (int k = 0; k < count; ++k) values.push_back(Value());
}

/// Whether the next item starts with "[" (a label list), skipping separators and comments.
/// Only asked where a row value would otherwise follow, so a lone "/" is refused as that
/// value would be.
bool TDataSetReader::LabelListFollows() {
  for (;;) {
    std::streambuf* sb = in_.fail() ? nullptr : in_.rdbuf();
    if (sb == nullptr) return false;
    int c = sb->sgetc();
    while (IsSeparator(c)) c = sb->snextc();
    if (c != '/') return c == '[';
    sb->sbumpc();
    if (sb->sgetc() != '*') {
      static_cast<void>(tools_.ParseNumber(in_, "/"));  // refused as a value would be
      return false;
    }
    sb->sbumpc();
    tools_.SkipComment(in_);
  }
}

double TDataSetReader::ThroughTagReader() {
  return tools_.ReadNumberToken(tools_.ReadTag(in_, dataName_.c_str(), false), in_);
}

void ReadLabelListInto(FileTools& tools, std::istream& in, TLabelList& list) {
  std::streambuf* sb = in.fail() ? nullptr : in.rdbuf();
  for (;;) {
    int c = sb != nullptr ? sb->sgetc() : kEnd;
    while (IsSeparator(c)) c = sb->snextc();
    if (c == kEnd) {
      in.setstate(std::ios_base::eofbit);
      FileTools::Fail(in, "Unexpected end of file");
    }
    if (c == '/') {
      sb->sbumpc();
      if (sb->sgetc() == '*') {
        sb->sbumpc();
        tools.SkipComment(in);
        continue;
      }
      FileTools::Fail(in, "Label list expected");
    }
    if (c != '[') FileTools::Fail(in, "Label list expected");
    // The "[" is taken as a character: «[~b ]» is the list holding "~b".
    sb->sbumpc();
    break;
  }
  int c = sb->sgetc();
  while (IsSeparator(c)) c = sb->snextc();
  if (c == ']') {
    sb->sbumpc();
    return;
  }
  for (;;) {
    const TagInfo tag = tools.ReadTag(in, nullptr, true);
    if (tag.kind == StartTag) {
      list.Add(tag.name.c_str(), 1.0);
    } else if (tag.kind == Assignment) {
      list.Add(tag.name.c_str(), tools.ParseNumber(in, tag.value.c_str()));
    } else {
      FileTools::Fail(in, "Label expected");
    }
    if (!tag.more) return;
  }
}

}  // namespace kartlo
