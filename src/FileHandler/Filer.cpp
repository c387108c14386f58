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
#include "FileHandler/TDataRowWriter.h"
#include "FileHandler/TDataSetReader.h"
#include "KQmessage/Assert.h"
#include "KQmessage/KQML.h"
#include "KQmessage/StrCaseCmp.h"

namespace kartlo {
namespace {

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

void BuildParts(const TRowLayout& layout, int rows, const TRowBlock& got,
                std::unique_ptr<Data>& expected, std::unique_ptr<Data>& generated) {
  if (layout.part1) {
    expected = Build(rows, layout.in1, layout.out1, layout.labels1, got.in1, got.out1, got.labels1);
  }
  if (layout.part2) {
    generated =
        Build(rows, layout.in2, layout.out2, layout.labels2, got.in2, got.out2, got.labels2);
  }
}

// --- Writing ------------------------------------------------------------------------

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
  std::ifstream in;
  if (!TDataSetReader::Open(file, in)) return kCannotOpen;
  return ReadDataSets(in, expected, generated);
}

int FileTools::ReadDataSets(std::istream& in, std::unique_ptr<Data>& expected,
                            std::unique_ptr<Data>& generated) {
  expected.reset();
  generated.reset();
  TDataSetReader reader(*this, in);
  reader.ReadHeader();
  TRowBlock got;
  reader.ReadRows(reader.Header().rows, got);
  reader.ReadEnd();
  BuildParts(reader.Layout(), reader.Header().rows, got, expected, generated);
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
  std::ifstream in;
  if (!TDataSetReader::Open(file, in)) return kCannotOpen;
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
  TDataSetReader reader(*this, in);
  reader.ReadHeader();

  // Offsets count from the character after the start tag "Data".
  std::streambuf* sb = in.rdbuf();
  const std::streamoff start = sb->pubseekoff(0, std::ios_base::cur, std::ios_base::in);
  if (start < 0) Fail(in, "Cannot position in file");
  if (*offset < 0) Fail(in, "Bad block offset");
  if (sb->pubseekpos(start + *offset, std::ios_base::in) < 0) Fail(in, "Cannot position in file");
  in.clear(in.rdstate() & ~std::ios_base::eofbit);

  // A part that only carries labels is read as well, so that its lists are consumed.
  const TRowLayout& layout = reader.Layout();
  const int count = *rows > 0 ? *rows : 0;
  TRowBlock got;
  reader.ReadRows(count, got);

  const std::streamoff end = sb->pubseekoff(0, std::ios_base::cur, std::ios_base::in);
  if (end < start || end - start > INT_MAX) Fail(in, "Bad block offset");
  BuildParts(layout, count, got, expected, generated);
  *offset = static_cast<int>(end - start);
  return kSuccess;
}

// --- Label lists --------------------------------------------------------------------------

std::unique_ptr<TLabelList> FileTools::ReadLabelList(std::istream& in) {
  auto list = std::make_unique<TLabelList>();
  ReadLabelListInto(*this, in, *list);
  return list;
}

void FileTools::WriteLabelList(std::ostream& out, const TLabelList* list) {
  std::string text;
  TDataRowWriter::AppendLabelList(text, list);
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
  TDataRowWriter writer(out);
  for (int row = 0; row < rows; ++row) {
    if (expected != nullptr) {
      writer.Values(expected->InputRowPtr(row), expected->MbrLngInputs);
      writer.Gap();
      if (expected->MbrFlgLabels) {
        writer.Labels(expected->GetLabels(row));
      } else {
        writer.Values(expected->OutputRowPtr(row), expected->MbrLngOutputs);
      }
    }
    if (generated != nullptr) {
      writer.Gap();
      if (generated->MbrFlgLabels) {
        writer.Labels(generated->GetLabels(row));
      } else {
        writer.Values(generated->InputRowPtr(row), generated->MbrLngInputs);
      }
      writer.Gap();
      writer.Values(generated->OutputRowPtr(row), generated->MbrLngOutputs);
    }
    if (!writer.EndRow()) return kWriteFailed;
  }
  return writer.Finish() ? kSuccess : kWriteFailed;
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
  std::ifstream in;
  if (!TDataSetReader::Open(file, in)) return TKQstructure::MakeError("file-read-error");
  return ProbeStream(in);
}

std::unique_ptr<TKQstructure> FileTools::ProbeStream(std::istream& in) {
  const std::string name = ExpectStartTag(ReadTag(in, nullptr, false), in, nullptr);
  if (strcasecmp(name.c_str(), "DATASET") == 0) {
    TDataSetHeader h;
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
