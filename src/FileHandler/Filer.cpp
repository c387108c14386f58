// Data set files: the header, the row lines with their label lists, the
// whole-file and block readers, the writer and the probe.
//
// Readers collect a part's values in growing vectors and build the Data only
// once every announced row has arrived, so a header that announces more rows
// or columns than the file holds fails with the ordinary syntax error instead
// of reserving memory for values that are not there.

#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <istream>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

#include "DataObject/Data.h"
#include "DataObject/TLabelList.h"
#include "FileHandler/FileTools.h"
#include "KQmessage/Assert.h"
#include "KQmessage/KQML.h"
#include "KQmessage/StrCaseCmp.h"

namespace kartlo {
namespace {

using Traits = std::char_traits<char>;
constexpr int kEnd = Traits::eof();

enum CharClass : unsigned char { kSeparator, kSpecial, kWord };

/// The tag syntax's byte classes: 0x00-0x20, 0x7F-0xFF and "," separate;
/// "[]/*=<>" are one-character tokens; other printable bytes form words.
constexpr std::array<CharClass, 256> MakeClasses() {
  std::array<CharClass, 256> classes{};
  for (int c = 0; c < 256; ++c) {
    classes[c] = (c <= 0x20 || c >= 0x7F || c == ',') ? kSeparator : kWord;
  }
  for (char c : {'[', ']', '/', '*', '=', '<', '>'}) {
    classes[static_cast<unsigned char>(c)] = kSpecial;
  }
  return classes;
}
constexpr std::array<CharClass, 256> kClass = MakeClasses();

bool IsSeparator(int c) { return c != kEnd && kClass[static_cast<unsigned char>(c)] == kSeparator; }
bool IsWord(int c) { return c != kEnd && kClass[static_cast<unsigned char>(c)] == kWord; }

/// Row text is handed to the stream in chunks of about this size.
constexpr std::size_t kChunk = 1 << 16;

/// The counts of a data set header; output counts of -1 mean a label list per row.
struct Header {
  int inputs = 0;
  int expectedOutputs = 0;
  int generatedOutputs = 0;
  int error = 0;
  int rows = -1;
};

/// What one row holds, in file order: part 1's inputs and expected outputs (or
/// label list), then part 2's generated outputs (or label list) and errors.
struct RowLayout {
  bool part1 = false;
  bool part2 = false;
  bool labels1 = false;
  bool labels2 = false;
  int in1 = 0;
  int out1 = 0;
  int in2 = 0;
  int out2 = 0;
};

/// The values and label lists of all rows read so far, row after row.
struct Collected {
  std::vector<double> in1, out1, in2, out2;
  std::vector<TLabelList> labels1, labels2;
};

/// A part exists when it has columns or carries labels.
RowLayout LayoutOf(const Header& header) {
  RowLayout layout;
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

/// Reads row values and label lists straight from the stream buffer. A value
/// is accepted or refused exactly as ReadTag followed by ReadNumberToken would
/// do it; everything that is not a plain word goes through those two.
class RowReader {
 public:
  RowReader(FileTools& tools, std::istream& in, const char* blockdef)
      : tools_(tools), in_(in), blockdef_(blockdef) {}

  double Value() {
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

  /// Appends `count` values to `values`.
  void Values(int count, std::vector<double>& values) {
    for (int k = 0; k < count; ++k) values.push_back(Value());
  }

  /// Whether the next item starts with "[" (a label list), skipping separators
  /// and comments. Only asked where a row value would otherwise follow, so a
  /// lone "/" is refused as that value would be.
  bool LabelListFollows() {
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

 private:
  double ThroughTagReader() {
    return tools_.ReadNumberToken(tools_.ReadTag(in_, blockdef_, false), in_);
  }

  FileTools& tools_;
  std::istream& in_;
  const char* blockdef_;
  std::string word_;  ///< reused for every value
};

/// Skips separators and comments; the next character must open a label list.
void ReadLabelsInto(FileTools& tools, std::istream& in, TLabelList& list) {
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
    sb->sbumpc();
    // "[~" opens an end tag, never a list.
    if (sb->sgetc() == '~') FileTools::Fail(in, "Label list expected");
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
    // Written first in a list, such a text would read back as an end tag «[~...».
    if (!tag.name.empty() && tag.name[0] == '~') {
      FileTools::Fail(in, "Label text may not begin with '~'");
    }
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

/// Reads `rows` rows. Per row the values of both parts come first and then the
/// label lists (part 1's, then part 2's); a label list standing in place of the
/// values it replaces, as the writer puts it, is accepted as well.
void ReadRows(FileTools& tools, RowReader& reader, std::istream& in, const RowLayout& layout,
              int rows, Collected& got) {
  if (!layout.part1 && !layout.part2) return;  // rows without any values or lists
  const long long after1 = static_cast<long long>(layout.out1) + layout.in2 + layout.out2;
  for (int row = 0; row < rows; ++row) {
    reader.Values(layout.in1, got.in1);
    bool pending1 = false;
    if (layout.labels1) {
      pending1 = after1 > 0 && !reader.LabelListFollows();
      if (!pending1) ReadLabelsInto(tools, in, got.labels1.emplace_back());
    }
    reader.Values(layout.out1, got.out1);
    reader.Values(layout.in2, got.in2);
    bool pending2 = false;
    if (layout.labels2) {
      pending2 = pending1 || (layout.out2 > 0 && !reader.LabelListFollows());
      if (!pending2) ReadLabelsInto(tools, in, got.labels2.emplace_back());
    }
    reader.Values(layout.out2, got.out2);
    if (pending1) ReadLabelsInto(tools, in, got.labels1.emplace_back());
    if (pending2) ReadLabelsInto(tools, in, got.labels2.emplace_back());
  }
}

/// A Data of `rows` rows filled with the collected rows, appended one by one.
std::unique_ptr<Data> Build(int rows, int inputs, int outputs, bool labels,
                            const std::vector<double>& in, const std::vector<double>& out,
                            const std::vector<TLabelList>& lists) {
  auto data = std::make_unique<Data>(rows, inputs, outputs, labels);
  for (int row = 0; row < rows; ++row) {
    const std::size_t r = static_cast<std::size_t>(row);
    data->AddRow(inputs > 0 ? in.data() + r * static_cast<std::size_t>(inputs) : nullptr,
                 outputs > 0 ? out.data() + r * static_cast<std::size_t>(outputs) : nullptr,
                 nullptr);
    if (labels) data->SetLabels(data->MbrNdxLastRow, &lists[r]);
  }
  return data;
}

void BuildParts(const RowLayout& layout, int rows, const Collected& got,
                std::unique_ptr<Data>& expected, std::unique_ptr<Data>& generated) {
  if (layout.part1) {
    expected = Build(rows, layout.in1, layout.out1, layout.labels1, got.in1, got.out1, got.labels1);
  }
  if (layout.part2) {
    generated =
        Build(rows, layout.in2, layout.out2, layout.labels2, got.in2, got.out2, got.labels2);
  }
}

/// The header's tag must be followed by the start tag "Data" and must have given
/// a row count; returns the "Data" tag's name.
std::string ExpectDataBlock(FileTools& tools, std::istream& in, const TagInfo& tag,
                            const Header& header) {
  std::string name = tools.ExpectStartTag(tag, in, "DATA");
  if (header.rows < 0) FileTools::Fail(in, "[ROWS = <integer>] expected");
  return name;
}

/// Reads the start tag "DataSet", the header and the start tag "Data", whose
/// names are returned as the names of the two open blocks.
Header ReadHeaderTo(FileTools& tools, std::istream& in, std::string& dataSetName,
                    std::string& dataName) {
  dataSetName = tools.ExpectStartTag(tools.ReadTag(in, nullptr, false), in, "DATASET");
  Header h;
  TagInfo tag;
  tools.ReadDataSetHeader(in, h.inputs, h.expectedOutputs, h.generatedOutputs, h.error, h.rows,
                          tag);
  dataName = ExpectDataBlock(tools, in, tag, h);
  return h;
}

// --- Writing ------------------------------------------------------------------------

/// "%.15g" of `value`: to_chars gives the same bytes for finite values.
void AppendGeneral(std::string& text, double value) {
  char buffer[32];
  if (std::isfinite(value)) {
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    text.append(buffer, result.ptr);
    return;
  }
  const int n = std::snprintf(buffer, sizeof buffer, "%.15g", value);
  if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
}

/// "%.9f" of `value`, of any length.
void AppendFixed9(std::string& text, double value) {
  char buffer[64];
  const int n = std::snprintf(buffer, sizeof buffer, "%.9f", value);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) < sizeof buffer) {
    text.append(buffer, static_cast<std::size_t>(n));
    return;
  }
  std::string wide(static_cast<std::size_t>(n), '\0');
  std::snprintf(wide.data(), wide.size() + 1, "%.9f", value);
  text += wide;
}

/// «[A B=2.000000000 ] »: a label of value exactly 1 is written as its text alone.
void AppendLabelList(std::string& text, const TLabelList* list) {
  text += '[';
  if (list != nullptr) {
    for (const TLabel& label : list->labels) {
      text += label.text;
      if (label.value != 1.0) {
        text += '=';
        AppendFixed9(text, label.value);
      }
      text += ' ';
    }
  }
  text += "] ";
}

void AppendValues(std::string& text, const double* values, int count) {
  for (int k = 0; k < count; ++k) {
    AppendGeneral(text, values[k]);
    text += ' ';
  }
}

/// The row count of the parts given, or kBadRows (no part, or parts of unequal length).
int RowsToWrite(const Data* expected, const Data* generated) {
  if (expected == nullptr && generated == nullptr) return FileTools::kBadRows;
  const int rows = expected != nullptr ? expected->MbrNdxRows : generated->MbrNdxRows;
  if (expected != nullptr && generated != nullptr && generated->MbrNdxRows != rows) {
    return FileTools::kBadRows;
  }
  return rows < 0 ? FileTools::kBadRows : rows;
}

int StreamResult(std::ostream& out) {
  out.flush();
  return out ? FileTools::kSuccess : FileTools::kWriteFailed;
}

/// Closes a file that a writing step has filled; a failed close is a failed write.
int Finish(std::ofstream& file, int result) {
  file.close();
  if (file.fail() && result == FileTools::kSuccess) return FileTools::kWriteFailed;
  return result;
}

}  // namespace

// --- Header -----------------------------------------------------------------------------

int FileTools::ReadDataSetHeader(std::istream& in, int& inputs, int& expectedOutputs,
                                 int& generatedOutputs, int& error, int& rows, TagInfo& tag) {
  inputs = expectedOutputs = generatedOutputs = error = 0;
  rows = -1;
  int stage = 0;
  tag = ReadTag(in, nullptr, false);
  while (tag.kind == Assignment) {
    if (tag.more) return kBadHeader;
    long value = -1;
    if (strcasecmp(tag.value.c_str(), "LABELS") != 0) {
      value = ParseInteger(in, tag.value.c_str());
      if (value < INT_MIN || value > INT_MAX) Fail(in, "Count out of range");
    }
    const char* keyword = tag.name.c_str();
    int* target = nullptr;
    bool counted = false;  // a plain count: Labels or a negative number are refused
    if (strcasecmp(keyword, "INPUTS") == 0 && stage == 0) {
      target = &inputs;
      counted = true;
      stage = 1;
    } else if (strcasecmp(keyword, "EXPECTEDOUTPUTS") == 0 && stage <= 1) {
      target = &expectedOutputs;
      stage = 2;
    } else if (strcasecmp(keyword, "GENERATEDOUTPUTS") == 0 && stage <= 2) {
      target = &generatedOutputs;
      stage = 3;
    } else if (strcasecmp(keyword, "ERROR") == 0 && stage <= 3) {
      target = &error;
      counted = true;
      stage = 4;
    } else if (strcasecmp(keyword, "ROWS") == 0) {
      target = &rows;
      counted = true;
    } else {
      return kBadHeader;
    }
    if (counted && value < 0) Fail(in, "No labels in inputs");
    *target = static_cast<int>(value);
    tag = ReadTag(in, nullptr, false);
  }
  return kSuccess;
}

// --- Whole-file reader ------------------------------------------------------------------

int FileTools::LoadDataSets(const char* file, std::unique_ptr<Data>& expected,
                            std::unique_ptr<Data>& generated,
                            std::unique_ptr<TKQstructure> report) {
  report.reset();
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) return kCannotOpen;
  return ReadDataSets(in, expected, generated);
}

int FileTools::ReadDataSets(std::istream& in, std::unique_ptr<Data>& expected,
                            std::unique_ptr<Data>& generated) {
  expected.reset();
  generated.reset();
  std::string dataSetName;
  std::string dataName;
  const Header header = ReadHeaderTo(*this, in, dataSetName, dataName);
  const RowLayout layout = LayoutOf(header);

  Collected got;
  RowReader reader(*this, in, dataName.c_str());
  ReadRows(*this, reader, in, layout, header.rows, got);

  ExpectEndTag(ReadTag(in, dataName.c_str(), false), in);
  ExpectEndTag(ReadTag(in, dataSetName.c_str(), false), in);
  ExpectEndTag(ReadTag(in, nullptr, false), in);

  BuildParts(layout, header.rows, got, expected, generated);
  return kSuccess;
}

int FileTools::LoadDataSet(const char* file, std::unique_ptr<Data>& expected) {
  std::unique_ptr<Data> generated;
  const int result = LoadDataSets(file, expected, generated);
  if (result == kSuccess && generated != nullptr) return kBadHeader;
  return result;
}

int FileTools::ReadDataSet(std::istream& in, std::unique_ptr<Data>& expected) {
  std::unique_ptr<Data> generated;
  const int result = ReadDataSets(in, expected, generated);
  if (result == kSuccess && generated != nullptr) return kBadHeader;
  return result;
}

// --- Block reader -----------------------------------------------------------------------

int FileTools::LoadDataBlock(const char* file, int* offset, int* rows,
                             std::unique_ptr<Data>& expected, std::unique_ptr<Data>& generated) {
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) return kCannotOpen;
  return ReadDataBlock(in, offset, rows, expected, generated);
}

int FileTools::LoadDataBlock(const char* file, int* offset, int* rows,
                             std::unique_ptr<Data>& expected) {
  std::unique_ptr<Data> generated;
  return LoadDataBlock(file, offset, rows, expected, generated);
}

int FileTools::ReadDataBlock(std::istream& in, int* offset, int* rows,
                             std::unique_ptr<Data>& expected, std::unique_ptr<Data>& generated) {
  KARTLO_ASSERT(offset != nullptr && rows != nullptr);
  expected.reset();
  generated.reset();
  std::string dataSetName;
  std::string dataName;
  const Header header = ReadHeaderTo(*this, in, dataSetName, dataName);

  // Offsets count from the character after the start tag "Data".
  std::streambuf* sb = in.rdbuf();
  const std::streamoff start = sb->pubseekoff(0, std::ios_base::cur, std::ios_base::in);
  if (start < 0) Fail(in, "Cannot position in file");
  if (*offset < 0) Fail(in, "Bad block offset");
  if (sb->pubseekpos(start + *offset, std::ios_base::in) < 0) Fail(in, "Cannot position in file");
  in.clear(in.rdstate() & ~std::ios_base::eofbit);

  // A part that only carries labels is read as well, so that its lists are consumed.
  const RowLayout layout = LayoutOf(header);
  const int count = *rows > 0 ? *rows : 0;
  Collected got;
  RowReader reader(*this, in, dataName.c_str());
  ReadRows(*this, reader, in, layout, count, got);

  const std::streamoff end = sb->pubseekoff(0, std::ios_base::cur, std::ios_base::in);
  if (end < start || end - start > INT_MAX) Fail(in, "Bad block offset");
  BuildParts(layout, count, got, expected, generated);
  *offset = static_cast<int>(end - start);
  return kSuccess;
}

// --- Label lists --------------------------------------------------------------------------

std::unique_ptr<TLabelList> FileTools::ReadLabelList(std::istream& in) {
  auto list = std::make_unique<TLabelList>();
  ReadLabelsInto(*this, in, *list);
  return list;
}

void FileTools::WriteLabelList(std::ostream& out, const TLabelList* list) {
  std::string text;
  AppendLabelList(text, list);
  out << text;
}

// --- Writer -------------------------------------------------------------------------------

int FileTools::SaveDataSet(const char* file, Data* expected, Data* generated,
                           std::unique_ptr<TKQstructure> report) {
  report.reset();
  if (RowsToWrite(expected, generated) < 0) return kBadRows;
  // One stream for the whole file, so that pipes and devices receive it in one piece.
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out.is_open()) return kWriteFailed;
  return Finish(out, WriteDataSet(out, expected, generated));
}

int FileTools::WriteDataSet(std::ostream& out, Data* expected, Data* generated) {
  const int rows = RowsToWrite(expected, generated);
  if (rows < 0) return kBadRows;
  int inputs = 0;
  int expectedOutputs = 0;
  int generatedOutputs = 0;
  int error = 0;
  if (expected != nullptr) {
    inputs = expected->MbrLngInputs;
    expectedOutputs = expected->MbrLngOutputs;
    if (expected->MbrFlgLabels) {
      KARTLO_ASSERT_TEXT(expectedOutputs == 0, "LngExpectedOutputs == 0");
      expectedOutputs = -1;
    }
  }
  if (generated != nullptr) {
    generatedOutputs = generated->MbrLngInputs;
    error = generated->MbrLngOutputs;
    if (generated->MbrFlgLabels) {
      KARTLO_ASSERT_TEXT(generatedOutputs == 0, "LngCalculatedOutputs == 0");
      generatedOutputs = -1;
    }
  }
  int result = WriteDataSetHeader(out, inputs, expectedOutputs, generatedOutputs, error, rows);
  if (result == kSuccess) result = WriteDataRows(out, expected, generated);
  if (result == kSuccess) result = WriteDataSetEnd(out);
  return result;
}

int FileTools::WriteDataSetHeader(const char* file, int inputs, int expectedOutputs,
                                  int generatedOutputs, int error, int rows) {
  if (rows < 0) return kBadRows;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out.is_open()) return kWriteFailed;
  return Finish(out,
                WriteDataSetHeader(out, inputs, expectedOutputs, generatedOutputs, error, rows));
}

int FileTools::WriteDataSetHeader(std::ostream& out, int inputs, int expectedOutputs,
                                  int generatedOutputs, int error, int rows) {
  if (rows < 0) return kBadRows;
  WriteFormatVersion(out);
  WriteStartTag(out, "DataSet", true);
  WriteIntegerValue(out, "Rows", rows, true);
  WriteIntegerValue(out, "Inputs", inputs, true);
  if (expectedOutputs == -1) {
    WriteStringValue(out, "ExpectedOutputs", "Labels", true);
  } else {
    WriteIntegerValue(out, "ExpectedOutputs", expectedOutputs, true);
  }
  if (generatedOutputs == -1) {
    WriteStringValue(out, "GeneratedOutputs", "Labels", true);
  } else {
    WriteIntegerValue(out, "GeneratedOutputs", generatedOutputs, true);
  }
  WriteIntegerValue(out, "Error", error, true);
  WriteNewLine(out);
  WriteStartTag(out, "Data", true);
  return StreamResult(out);
}

int FileTools::WriteDataRows(const char* file, Data* expected, Data* generated,
                             std::unique_ptr<TKQstructure> report) {
  report.reset();
  if (RowsToWrite(expected, generated) < 0) return kBadRows;
  std::ofstream out(file, std::ios::binary | std::ios::app);
  if (!out.is_open()) return kWriteFailed;
  return Finish(out, WriteDataRows(out, expected, generated));
}

int FileTools::WriteDataRows(std::ostream& out, Data* expected, Data* generated) {
  const int rows = RowsToWrite(expected, generated);
  if (rows < 0) return kBadRows;
  std::string text;
  text.reserve(kChunk + 4096);
  for (int row = 0; row < rows; ++row) {
    if (expected != nullptr) {
      AppendValues(text, expected->InputRowPtr(row), expected->MbrLngInputs);
      text += "  ";
      if (expected->MbrFlgLabels) {
        AppendLabelList(text, expected->GetLabels(row));
      } else {
        AppendValues(text, expected->OutputRowPtr(row), expected->MbrLngOutputs);
      }
    }
    if (generated != nullptr) {
      text += "  ";
      if (generated->MbrFlgLabels) {
        AppendLabelList(text, generated->GetLabels(row));
      } else {
        AppendValues(text, generated->InputRowPtr(row), generated->MbrLngInputs);
      }
      text += "  ";
      AppendValues(text, generated->OutputRowPtr(row), generated->MbrLngOutputs);
    }
    text += '\n';
    if (text.size() >= kChunk) {
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
      if (!out) return kWriteFailed;
      text.clear();
    }
  }
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  return StreamResult(out);
}

int FileTools::WriteDataSetEnd(const char* file) {
  std::ofstream out(file, std::ios::binary | std::ios::app);
  if (!out.is_open()) return kWriteFailed;
  return Finish(out, WriteDataSetEnd(out));
}

int FileTools::WriteDataSetEnd(std::ostream& out) {
  WriteEndTag(out, "Data");
  WriteNewLine(out);
  WriteEndTag(out, "DataSet");
  return StreamResult(out);
}

// --- Probe --------------------------------------------------------------------------------

std::unique_ptr<TKQstructure> FileTools::ProbeFile(const char* file) {
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) return TKQstructure::MakeError("file-read-error");
  return ProbeStream(in);
}

std::unique_ptr<TKQstructure> FileTools::ProbeStream(std::istream& in) {
  const std::string name = ExpectStartTag(ReadTag(in, nullptr, false), in, nullptr);
  if (strcasecmp(name.c_str(), "DATASET") == 0) {
    Header h;
    TagInfo tag;
    if (ReadDataSetHeader(in, h.inputs, h.expectedOutputs, h.generatedOutputs, h.error, h.rows,
                          tag) != kSuccess) {
      return TKQstructure::MakeError("bad-header");
    }
    auto result = std::make_unique<TKQstructure>("data");
    result->SetInteger("rows", h.rows);
    result->SetInteger("inputs", h.inputs);
    result->SetInteger("actual-outputs", h.expectedOutputs);
    result->SetInteger("calc-outputs", h.generatedOutputs);
    result->SetInteger("errors", h.error);
    return result;
  }
  if (strcasecmp(name.c_str(), "NETWORK") == 0) return std::make_unique<TKQstructure>("network");
  auto result = TKQstructure::MakeError("unknown-header");
  result->SetString("header", name.c_str());
  return result;
}

}  // namespace kartlo
