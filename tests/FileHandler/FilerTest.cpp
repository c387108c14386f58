#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "DataObject/TLabelList.h"
#include "FileHandler/FileTools.h"
#include "KQmessage/KQML.h"

namespace kartlo {
namespace {

/// The message of the FileTools::Error that `action` throws, or "(no error)".
std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const FileTools::Error& error) {
    return error.message;
  }
  return "(no error)";
}

/// The complete file text WriteDataSet produces.
std::string Written(Data* expected, Data* generated) {
  FileTools tools;
  std::ostringstream out;
  EXPECT_EQ(tools.WriteDataSet(out, expected, generated), FileTools::kSuccess);
  return out.str();
}

/// The header lines 1 to 10 as written for the given counts (-1: "Labels").
std::string HeaderText(int rows, int inputs, int expected, int generated, int error) {
  auto count = [](int n) { return n == -1 ? std::string("Labels") : std::to_string(n); };
  return "[FormatVersion = 1.0]\n\n[DataSet]\n[Rows = " + std::to_string(rows) +
         "]\n[Inputs = " + std::to_string(inputs) + "]\n[ExpectedOutputs = " + count(expected) +
         "]\n[GeneratedOutputs = " + count(generated) + "]\n[Error = " + std::to_string(error) +
         "]\n\n[Data]\n";
}

const std::string kEnd = "[~Data]\n\n[~DataSet]\n";

/// A file of the given header and row text.
std::string FileText(int rows, int inputs, int expected, int generated, int error,
                     const std::string& rowText) {
  return HeaderText(rows, inputs, expected, generated, error) + rowText + kEnd;
}

/// A data set whose rows are given as value lists, appended in order.
std::unique_ptr<Data> Rows(int inputs, int outputs, const std::vector<std::vector<double>>& rows,
                           std::vector<TLabelList> labels = {}) {
  auto data =
      std::make_unique<Data>(static_cast<int>(rows.size()), inputs, outputs, !labels.empty());
  for (std::size_t r = 0; r < rows.size(); ++r) {
    data->AddRow(rows[r].data(), rows[r].data() + inputs, labels.empty() ? nullptr : &labels[r]);
  }
  return data;
}

TLabelList Labels(std::vector<std::pair<const char*, double>> entries) {
  TLabelList list;
  for (const auto& [text, value] : entries) list.Add(text, value);
  return list;
}

/// Reads `text` with the whole-file reader; both parts come back.
struct Loaded {
  int result = 0;
  std::unique_ptr<Data> expected;
  std::unique_ptr<Data> generated;
};
Loaded Load(const std::string& text) {
  FileTools tools;
  std::istringstream in(text);
  Loaded loaded;
  loaded.result = tools.ReadDataSets(in, loaded.expected, loaded.generated);
  return loaded;
}

/// What the writer makes of a file after reading it.
std::string Rewritten(const std::string& text) {
  Loaded loaded = Load(text);
  EXPECT_EQ(loaded.result, FileTools::kSuccess);
  return Written(loaded.expected.get(), loaded.generated.get());
}

/// The row lines of a written file (between the start and end tag "Data").
std::string RowLines(const std::string& file) {
  const std::size_t start = file.find("[Data]\n") + 7;
  return file.substr(start, file.find("[~Data]") - start);
}

// --- Writer layout --------------------------------------------------------------------

TEST(FilerWrite, CompleteFileLayout) {
  auto data = Rows(3, 2, {{0.5, 1, 2, 3, 4}});
  EXPECT_EQ(Written(data.get(), nullptr),
            "[FormatVersion = 1.0]\n"
            "\n"
            "[DataSet]\n"
            "[Rows = 1]\n"
            "[Inputs = 3]\n"
            "[ExpectedOutputs = 2]\n"
            "[GeneratedOutputs = 0]\n"
            "[Error = 0]\n"
            "\n"
            "[Data]\n"
            "0.5 1 2   3 4 \n"
            "[~Data]\n"
            "\n"
            "[~DataSet]\n");
}

TEST(FilerWrite, RowLinesOfPartsAndLabels) {
  auto plain = Rows(3, 2, {{0.5, 1, 2, 3, 4}, {-1, 0, 1e-7, 1e20, 2.5}});
  auto third = Rows(1, 0, {{1.0 / 3}});
  auto labelled = Rows(1, 0, {{7}, {8}}, {Labels({{"A", 1}, {"B", 2}}), TLabelList()});
  auto part2 = Rows(1, 2, {{9, 0.25, -0.5}, {1, 2, 3}});
  auto part2Labels = Rows(0, 1, {{0.125}, {4}}, {Labels({{"x", 0.5}}), Labels({{"y", 1}})});
  auto inputsOnly = Rows(2, 0, {{1, 2}, {3, 4}});
  struct Case {
    const char* name;
    Data* expected;
    Data* generated;
    std::string header;
    std::string rows;
  };
  const Case cases[] = {
      {"values of part 1", plain.get(), nullptr, HeaderText(2, 3, 2, 0, 0),
       "0.5 1 2   3 4 \n-1 0 1e-07   1e+20 2.5 \n"},
      {"one third with fifteen digits", third.get(), nullptr, HeaderText(1, 1, 0, 0, 0),
       "0.333333333333333   \n"},
      {"label lists in place of outputs", labelled.get(), nullptr, HeaderText(2, 1, -1, 0, 0),
       "7   [A B=2.000000000 ] \n8   [] \n"},
      {"part 2 only", nullptr, part2.get(), HeaderText(2, 0, 0, 1, 2),
       "  9   0.25 -0.5 \n  1   2 3 \n"},
      {"both parts", inputsOnly.get(), part2.get(), HeaderText(2, 2, 0, 1, 2),
       "1 2     9   0.25 -0.5 \n3 4     1   2 3 \n"},
      {"both parts, part 2 labelled", inputsOnly.get(), part2Labels.get(),
       HeaderText(2, 2, 0, -1, 1), "1 2     [x=0.500000000 ]   0.125 \n3 4     [y ]   4 \n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Written(c.expected, c.generated), c.header + c.rows + kEnd);
  }
}

TEST(FilerWrite, ValuesInGeneralNotationWithFifteenDigits) {
  const double values[] = {1.0 / 3,
                           0.1,
                           1e-5,
                           1e-4,
                           1e15,
                           1e16,
                           123456789012345678.0,
                           -0.0,
                           0.0,
                           -2.5e-300,
                           5e-324,
                           std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(),
                           999999999999999.5};
  for (double value : values) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.15g   \n", value);
    SCOPED_TRACE(expected);
    auto data = Rows(1, 0, {{value}});
    EXPECT_EQ(RowLines(Written(data.get(), nullptr)), expected);
  }
  auto data = Rows(4, 0, {{1e-5, 1e15, 1e16, -0.0}});
  EXPECT_EQ(RowLines(Written(data.get(), nullptr)), "1e-05 1e+15 1e+16 -0   \n");
}

TEST(FilerWrite, RowsInStorageOrder) {
  // Three rows appended to a ring of two: storage row 0 holds the third row.
  Data ring(2, 1, 0, false);
  for (double v : {1.0, 2.0, 3.0}) ring.AddRow(&v, nullptr, nullptr);
  EXPECT_EQ(RowLines(Written(&ring, nullptr)), "3   \n2   \n");
}

TEST(FilerWrite, LabelListText) {
  struct Case {
    const char* name;
    TLabelList list;
    std::string text;
  };
  const Case cases[] = {
      {"plain and valued", Labels({{"A", 1}, {"B", 2}}), "[A B=2.000000000 ] "},
      {"empty", TLabelList(), "[] "},
      {"nine decimals, rounded", Labels({{"c", 1.0 / 3}, {"d", -0.25}}),
       "[c=0.333333333 d=-0.250000000 ] "},
      {"a sum of plain labels", Labels({{"A", 1}, {"A", 1}}), "[A=2.000000000 ] "},
      {"long fixed text", Labels({{"big", 1e25}}), "[big=10000000000000000905969664.000000000 ] "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileTools tools;
    std::ostringstream out;
    tools.WriteLabelList(out, &c.list);
    EXPECT_EQ(out.str(), c.text);
  }
}

TEST(FilerWrite, RowCountsAndMissingParts) {
  FileTools tools;
  auto three = Rows(1, 0, {{1}, {2}, {3}});
  auto four = Rows(1, 0, {{1}, {2}, {3}, {4}});
  std::ostringstream out;
  EXPECT_EQ(tools.WriteDataSet(out, three.get(), four.get()), FileTools::kBadRows);
  EXPECT_EQ(tools.WriteDataSet(out, nullptr, nullptr), FileTools::kBadRows);
  EXPECT_EQ(tools.WriteDataRows(out, three.get(), four.get()), FileTools::kBadRows);
  EXPECT_EQ(tools.WriteDataRows(out, nullptr, nullptr), FileTools::kBadRows);
  EXPECT_EQ(tools.WriteDataSetHeader(out, 1, 0, 0, 0, -1), FileTools::kBadRows);
  EXPECT_EQ(out.str(), "");
}

TEST(FilerWrite, FailingStreamIsReported) {
  FileTools tools;
  auto data = Rows(1, 0, {{1}});
  std::ostringstream out;
  out.setstate(std::ios_base::badbit);
  EXPECT_EQ(tools.WriteDataSet(out, data.get(), nullptr), FileTools::kWriteFailed);
  EXPECT_EQ(tools.WriteDataSetHeader(out, 1, 0, 0, 0, 1), FileTools::kWriteFailed);
  EXPECT_EQ(tools.WriteDataRows(out, data.get(), nullptr), FileTools::kWriteFailed);
  EXPECT_EQ(tools.WriteDataSetEnd(out), FileTools::kWriteFailed);
}

TEST(FilerWriteDeathTest, LabelledPartWithOutputColumns) {
  Data data(1, 1, 1, true);
  FileTools tools;
  std::ostringstream out;
  EXPECT_DEATH(tools.WriteDataSet(out, &data, nullptr), "LngExpectedOutputs == 0");
  EXPECT_DEATH(tools.WriteDataSet(out, nullptr, &data), "LngCalculatedOutputs == 0");
}

// --- Header --------------------------------------------------------------------------

TEST(FilerHeader, KeywordsOrderAndValues) {
  struct Case {
    const char* text;
    int result;
    std::vector<int> counts;  // inputs, expected, generated, error, rows
    std::string message;      // when an Error is thrown
  };
  const Case cases[] = {
      {"[Inputs = 2][Rows = 3][ExpectedOutputs = 1][Data]", 0, {2, 1, 0, 0, 3}, ""},
      {"[Rows=5][Inputs=2][ExpectedOutputs=Labels][Data]", 0, {2, -1, 0, 0, 5}, ""},
      {"[rows=5][INPUTS=2][expectedoutputs=lAbElS][Data]", 0, {2, -1, 0, 0, 5}, ""},
      {"[Inputs=1][ExpectedOutputs=2][GeneratedOutputs=3][Error=4][Rows=5][Data]",
       0,
       {1, 2, 3, 4, 5},
       ""},
      {"[GeneratedOutputs=Labels][Error=2][Data]", 0, {0, 0, -1, 2, -1}, ""},
      {"[Rows=1][Rows=4][Data]", 0, {0, 0, 0, 0, 4}, ""},
      {"[ExpectedOutputs=-1][Data]", 0, {0, -1, 0, 0, -1}, ""},
      {"[Data]", 0, {0, 0, 0, 0, -1}, ""},
      {"[Rows=5][ExpectedOutputs=1][Inputs=2][Data]", -82, {0, 1, 0, 0, 5}, ""},
      {"[Inputs=1][Inputs=1]", -82, {1, 0, 0, 0, -1}, ""},
      {"[Error=1][ExpectedOutputs=1]", -82, {0, 0, 0, 1, -1}, ""},
      {"[Foo=1][Data]", -82, {0, 0, 0, 0, -1}, ""},
      {"[Inputs=1 Rows=2]", -82, {0, 0, 0, 0, -1}, ""},
      {"[Rows=2][ExpectedOutputs=1][Inputs=Labels]", -82, {0, 1, 0, 0, 2}, ""},
      {"[Inputs=Labels]", 0, {}, "No labels in inputs"},
      {"[Error=-1]", 0, {}, "No labels in inputs"},
      {"[Rows=LABELS]", 0, {}, "No labels in inputs"},
      {"[Rows=-2]", 0, {}, "No labels in inputs"},
      {"[Inputs=x]", 0, {}, "integer-expected"},
      {"[Foo=x]", 0, {}, "integer-expected"},
      {"[Rows=5000000000]", 0, {}, "Count out of range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FileTools tools;
    std::istringstream in(c.text);
    int counts[5] = {-9, -9, -9, -9, -9};
    TagInfo tag;
    int result = 0;
    const std::string message = ErrorOf([&] {
      result =
          tools.ReadDataSetHeader(in, counts[0], counts[1], counts[2], counts[3], counts[4], tag);
    });
    if (!c.message.empty()) {
      EXPECT_EQ(message, c.message);
      continue;
    }
    ASSERT_EQ(message, "(no error)");
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(std::vector<int>(counts, counts + 5), c.counts);
    if (result == 0) {
      EXPECT_EQ(tag.kind, StartTag);
      EXPECT_EQ(tag.name, "Data");
    } else {
      EXPECT_EQ(tag.kind, Assignment);  // the tag that ended the header stays with the caller
    }
  }
}

// --- Label list reader ------------------------------------------------------------------

TEST(FilerLabels, ReadLabelList) {
  struct Case {
    const char* text;
    std::string labels;  // "text=value;" per entry, or the error message
    std::string rest;    // the next token after the list
  };
  const Case cases[] = {
      {"[A B=2.5 ] next", "A=1;B=2.5;", "next"},
      {"  [ ]next", "", "next"},
      {"[]", "", ""},
      {"[A A b=0.5 A]", "A=3;b=0.5;", ""},
      {", /* a /* nested */ comment */\t[x]1", "x=1;", "1"},
      {"[A=2.000000000 B ] ", "A=2;B=1;", ""},
      {"A B]", "Label list expected", ""},
      {"/ [A]", "Label list expected", ""},
      {"[~Data]", "~Data=1;", ""},  // the "[" is a character: a label, as written
      {"", "Unexpected end of file", ""},
      {"  /* c */ ", "Unexpected end of file", ""},
      {"[", "Unexpected end of file", ""},
      {"[A B", "Unexpected end of file", ""},
      {"[A=", "Unexpected end of file", ""},
      {"[A=x]", "number-expected", ""},
      {"[=2]", "Unexpected special character", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FileTools tools;
    std::istringstream in(c.text);
    std::string got;
    const std::string message = ErrorOf([&] {
      const auto list = tools.ReadLabelList(in);
      ASSERT_NE(list, nullptr);
      EXPECT_EQ(list->numLabels, static_cast<int>(list->labels.size()));
      for (const TLabel& label : list->labels) {
        std::ostringstream entry;
        entry << label.text << '=' << label.value << ';';
        got += entry.str();
      }
    });
    if (message != "(no error)") {
      EXPECT_EQ(message, c.labels);
      continue;
    }
    EXPECT_EQ(got, c.labels);
    EXPECT_EQ(tools.ReadToken(in), c.rest);
  }
}

// --- Whole-file reader ------------------------------------------------------------------

TEST(FilerRead, WrittenFilesReadBackToTheSameBytes) {
  auto plain = Rows(3, 2, {{0.5, 1, 2, 3, 4}, {1.0 / 3, -0.0, 1e-300, 1e300, 0.1}});
  auto labelled =
      Rows(2, 0, {{1, 2}, {3, 4}, {5, 6}},
           {Labels({{"A", 1}, {"B", 2}}), TLabelList(), Labels({{"long-name_1", 0.123456789}})});
  auto part2 = Rows(1, 2, {{9, 0.25, -0.5}, {1, 2, 3}});
  auto inputsOnly = Rows(2, 0, {{1, 2}, {3, 4}});
  auto part2Labels = Rows(0, 1, {{0.125}, {4}}, {Labels({{"x", 0.5}}), Labels({{"y", 1}})});
  auto labelled2 = Rows(2, 0, {{1, 2}, {3, 4}}, {Labels({{"p", 1}}), Labels({{"q", 3}})});
  Data empty(0, 4, 1, false);
  struct Case {
    const char* name;
    Data* expected;
    Data* generated;
  };
  const Case cases[] = {
      {"values", plain.get(), nullptr},
      {"labels", labelled.get(), nullptr},
      {"part 2 only", nullptr, part2.get()},
      {"both parts", inputsOnly.get(), part2.get()},
      {"both parts, part 2 labelled", inputsOnly.get(), part2Labels.get()},
      {"both parts labelled", labelled2.get(), part2Labels.get()},
      {"part 1 labelled, part 2 values", labelled2.get(), part2.get()},
      {"no rows", &empty, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = Written(c.expected, c.generated);
    Loaded loaded = Load(text);
    ASSERT_EQ(loaded.result, FileTools::kSuccess);
    EXPECT_EQ(loaded.expected != nullptr, c.expected != nullptr);
    EXPECT_EQ(loaded.generated != nullptr, c.generated != nullptr);
    EXPECT_EQ(Written(loaded.expected.get(), loaded.generated.get()), text);
  }
}

TEST(FilerRead, ReadDataHasAppendedRowsAndLabels) {
  Loaded loaded = Load(FileText(2, 2, -1, 0, 0, "1 2 [A B=2] 3 4 []"));
  ASSERT_EQ(loaded.result, FileTools::kSuccess);
  ASSERT_NE(loaded.expected, nullptr);
  EXPECT_EQ(loaded.generated, nullptr);
  const Data& data = *loaded.expected;
  EXPECT_EQ(data.MbrNdxRows, 2);
  EXPECT_EQ(data.MbrLngInputs, 2);
  EXPECT_EQ(data.MbrLngOutputs, 0);
  EXPECT_TRUE(data.MbrFlgLabels);
  EXPECT_EQ(data.MbrNdxDataRows, 2);
  EXPECT_EQ(data.MbrNdxFirstRow, 0);
  EXPECT_EQ(data.MbrNdxLastRow, 1);
  EXPECT_EQ(data.GetInputDatum(1, 0), 3);
  EXPECT_EQ(data.GetInputDatum(1, 1), 4);
  ASSERT_EQ(data.GetLabels(0)->numLabels, 2);
  EXPECT_EQ(data.GetLabels(0)->labels[1].text, "B");
  EXPECT_EQ(data.GetLabels(0)->labels[1].value, 2);
  EXPECT_EQ(data.GetLabels(1)->numLabels, 0);
}

TEST(FilerRead, SeparatorsAndLayoutBetweenValues) {
  const std::string canonical = FileText(2, 2, 1, 0, 0, "0.5 -1   2 \n3 4   5 \n");
  const char* rows[] = {
      "0.5 -1 2 3 4 5",
      "0.5,-1,2,3,4,5",
      "0.5\t-1\t2\r\n3\t4\t5",
      "0.5 /* one */ -1 /* two /* nested */ */2 3,,4 5",
      "\n\n0.5\n-1\n2\n3\n4\n5\n\n",
      "0.5/**/-1\x01"
      "2\x7f"
      "3\xff"
      "4 +5",
      "5e-1 -1.0 2 3e0 .4e1 5x",
  };
  for (const char* rowText : rows) {
    SCOPED_TRACE(rowText);
    EXPECT_EQ(Rewritten(FileText(2, 2, 1, 0, 0, rowText)), canonical);
  }
  // Tags and end tags in any case, and a file without the format-version line.
  EXPECT_EQ(Rewritten("[dataset][ROWS=2][inputs=2][expectedoutputs=1][DATA]"
                      "0.5 -1 2 3 4 5[~data][~DATASET]/* trailing */\n"),
            canonical);
}

TEST(FilerRead, LabelsInAnyCase) {
  for (const char* value : {"Labels", "LABELS", "labels", "lAbElS"}) {
    SCOPED_TRACE(value);
    Loaded loaded = Load(std::string("[DataSet][Rows=1][Inputs=1][ExpectedOutputs=") + value +
                         "][Data] 7 [A] [~Data][~DataSet]");
    ASSERT_EQ(loaded.result, FileTools::kSuccess);
    ASSERT_NE(loaded.expected, nullptr);
    EXPECT_TRUE(loaded.expected->MbrFlgLabels);
    EXPECT_EQ(loaded.expected->MbrLngOutputs, 0);
    EXPECT_EQ(loaded.generated, nullptr);
  }
}

TEST(FilerRead, LabelListsInReaderOrWriterPlacement) {
  // Part 1: one input and labels; part 2: one generated output and one error.
  const std::string mixedValues = FileText(2, 1, -1, 1, 1, "1   [A ]   5   6 \n2   []   7   8 \n");
  const char* placements[] = {
      "1 [A] 5 6  2 [] 7 8",  // as written: the list in place of the outputs
      "1 5 6 [A]  2 7 8 []",  // all values first, then the list
      "1 /* c */ [A] 5 6  2 7 8 /* c */ []",
  };
  for (const char* rowText : placements) {
    SCOPED_TRACE(rowText);
    EXPECT_EQ(Rewritten(FileText(2, 1, -1, 1, 1, rowText)), mixedValues);
  }
  // Both parts labelled, with error values.
  const std::string bothLabelled = FileText(1, 1, -1, -1, 1, "1   [A ]   [B ]   7 \n");
  for (const char* rowText : {"1 [A] [B] 7", "1 7 [A] [B]", "1 [A] 7 [B]"}) {
    SCOPED_TRACE(rowText);
    EXPECT_EQ(Rewritten(FileText(1, 1, -1, -1, 1, rowText)), bothLabelled);
  }
  // A list where a value is due but the rest of the row does not follow it.
  EXPECT_EQ(ErrorOf([&] { Load(FileText(1, 1, -1, -1, 1, "1 7 [A] 8")); }), "Label list expected");
  EXPECT_EQ(ErrorOf([&] { Load(FileText(1, 1, -1, 1, 1, "1 / [A] 5 6")); }), "number-expected");
}

TEST(FilerRead, Errors) {
  struct Case {
    const char* name;
    std::string text;
    std::string message;
  };
  const std::string head = "[DataSet][Rows=2][Inputs=1][ExpectedOutputs=1][Data]";
  const Case cases[] = {
      {"misplaced Inputs",
       "[DataSet][Rows=1][ExpectedOutputs=1][Inputs=1][Data] 1 2 [~Data][~DataSet]",
       "[DATA] expected"},
      {"bracket left open", "[DataSet][Rows=1][Inputs=1 ExpectedOutputs=1][Data]",
       "[DATA] expected"},
      {"no row count", "[DataSet][Inputs=1][ExpectedOutputs=1][Data] 1 2 [~Data][~DataSet]",
       "[ROWS = <integer>] expected"},
      {"no DataSet tag", "[Data]", "[DATASET] expected"},
      {"Labels for inputs", "[DataSet][Rows=1][Inputs=Labels][Data]", "No labels in inputs"},
      {"end tag before all rows", head + "1 2 [~Data][~DataSet]", "Token (number) expected"},
      {"end of file inside Data", head + "1 2 3", "Unexpected end of file"},
      {"a tag among the values", head + "1 2 [X] 4 [~Data][~DataSet]", "Token (number) expected"},
      {"a stray bracket", head + "1 2 ] 4 [~Data][~DataSet]", "Unexpected ']'"},
      {"a word for a value", head + "1 2 abc 4 [~Data][~DataSet]", "number-expected"},
      {"a special character", head + "1 2 3 = 4 [~Data][~DataSet]", "number-expected"},
      {"a lone slash", head + "1 2 3 / [~Data][~DataSet]", "number-expected"},
      {"unclosed comment", head + "1 2 3 /* 4", "Unexpected end of file during comment"},
      {"a value too many", head + "1 2 3 4 5 [~Data][~DataSet]", "End Tag expected"},
      {"no DataSet end tag", head + "1 2 3 4 [~Data]", "Unexpected end of file"},
      {"text after the file", head + "1 2 3 4 [~Data][~DataSet] 5", "End Tag expected"},
      {"wrong end tag", head + "1 2 3 4 [~DataSet]", "Unexpected End Tag"},
      {"a label list cut short", "[DataSet][Rows=1][Inputs=1][ExpectedOutputs=Labels][Data] 1 [A",
       "Unexpected end of file"},
      {"a label list missing at the end",
       "[DataSet][Rows=1][Inputs=1][ExpectedOutputs=Labels][Data] 1", "Unexpected end of file"},
      {"no label list",
       "[DataSet][Rows=1][Inputs=1][ExpectedOutputs=Labels][Data] 1 2 [~Data][~DataSet]",
       "Label list expected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileTools tools;
    std::istringstream in(c.text);
    auto expected = std::make_unique<Data>(1, 1, 1, false);
    std::unique_ptr<Data> generated;
    EXPECT_EQ(ErrorOf([&] { tools.ReadDataSets(in, expected, generated); }), c.message);
    EXPECT_EQ(expected, nullptr);  // nothing half-built comes back
  }
}

TEST(FilerRead, HugeCountsFailWithoutReservingMemory) {
  const std::string twoRows = "1 2 3 4 [~Data][~DataSet]";
  struct Case {
    const char* name;
    std::string header;
    std::string rows;
    std::string message;
  };
  const Case cases[] = {
      {"two billion rows", "[Rows=2000000000][Inputs=1][ExpectedOutputs=1]", twoRows,
       "Token (number) expected"},
      {"two billion rows, end of file", "[Rows=2000000000][Inputs=1][ExpectedOutputs=1]", "1 2 3 4",
       "Unexpected end of file"},
      {"columns whose product overflows",
       "[Rows=2147483647][Inputs=2147483647][ExpectedOutputs=2147483647]"
       "[GeneratedOutputs=2147483647][Error=2147483647]",
       twoRows, "Token (number) expected"},
      // The lists' "[" is a plain character, so the end tags read as two more
      // labels («~Data», «~DataSet») before the input runs out.
      {"labelled rows", "[Rows=2147483647][Inputs=0][ExpectedOutputs=Labels]",
       "[A] [B] [~Data] [~DataSet]", "Unexpected end of file"},
      {"labelled rows, end of file", "[Rows=2147483647][Inputs=0][ExpectedOutputs=Labels]",
       "[A] [B]", "Unexpected end of file"},
      {"no rows of huge width", "[Rows=0][Inputs=2147483647][ExpectedOutputs=2147483647]",
       "[~Data][~DataSet]", "(no error)"},
      {"many rows without any part", "[Rows=2147483647][Inputs=0]", "[~Data][~DataSet]",
       "(no error)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileTools tools;
    std::istringstream in("[DataSet]" + c.header + "[Data]" + c.rows);
    std::unique_ptr<Data> expected;
    std::unique_ptr<Data> generated;
    EXPECT_EQ(ErrorOf([&] { tools.ReadDataSets(in, expected, generated); }), c.message);
  }
  Loaded wide = Load("[DataSet][Rows=0][Inputs=2147483647][Data][~Data][~DataSet]");
  ASSERT_NE(wide.expected, nullptr);
  EXPECT_EQ(wide.expected->MbrNdxRows, 0);
  EXPECT_EQ(wide.expected->MbrLngInputs, 2147483647);
}

TEST(FilerRead, PartTwoMakesReadDataSetRefuse) {
  const std::string text = "[DataSet][Rows=1][Inputs=2][Error=1][Data] 1 2 3 [~Data][~DataSet]";
  Loaded both = Load(text);
  ASSERT_EQ(both.result, FileTools::kSuccess);
  ASSERT_NE(both.expected, nullptr);
  ASSERT_NE(both.generated, nullptr);
  EXPECT_EQ(both.expected->MbrLngInputs, 2);
  EXPECT_EQ(both.expected->MbrLngOutputs, 0);
  EXPECT_EQ(both.generated->MbrLngInputs, 0);
  EXPECT_EQ(both.generated->MbrLngOutputs, 1);
  EXPECT_EQ(both.generated->GetOutputDatum(0, 0), 3);

  FileTools tools;
  std::istringstream in(text);
  std::unique_ptr<Data> expected;
  EXPECT_EQ(tools.ReadDataSet(in, expected), FileTools::kBadHeader);
  ASSERT_NE(expected, nullptr);  // part 1 is still delivered
  EXPECT_EQ(expected->GetInputDatum(0, 1), 2);

  std::istringstream one("[DataSet][Rows=1][Inputs=2][Data] 1 2 [~Data][~DataSet]");
  EXPECT_EQ(tools.ReadDataSet(one, expected), FileTools::kSuccess);
  EXPECT_EQ(expected->GetInputDatum(0, 0), 1);
}

// --- Block reader -----------------------------------------------------------------------

struct Block {
  int result = 0;
  int offset = 0;
  std::unique_ptr<Data> expected;
  std::unique_ptr<Data> generated;
};
Block ReadBlock(const std::string& text, int offset, int rows) {
  FileTools tools;
  std::istringstream in(text);
  Block block;
  block.offset = offset;
  block.result = tools.ReadDataBlock(in, &block.offset, &rows, block.expected, block.generated);
  return block;
}

TEST(FilerBlock, SuccessiveBlocksReadSuccessiveRows) {
  auto data = Rows(1, 1, {{1, 10}, {2, 20}, {3, 30}});
  auto part2 = Rows(1, 0, {{-1}, {-2}, {-3}});
  const std::string text = Written(data.get(), part2.get());

  Block first = ReadBlock(text, 0, 2);
  ASSERT_EQ(first.result, FileTools::kSuccess);
  ASSERT_NE(first.expected, nullptr);
  ASSERT_NE(first.generated, nullptr);
  EXPECT_EQ(first.expected->MbrNdxRows, 2);
  EXPECT_EQ(first.expected->GetInputDatum(1, 0), 2);
  EXPECT_EQ(first.expected->GetOutputDatum(1, 0), 20);
  EXPECT_EQ(first.generated->GetInputDatum(1, 0), -2);
  // The offset counts from the character after "[Data]" to the separator after the last value.
  EXPECT_EQ(text.substr(text.find("[Data]") + 6, static_cast<std::size_t>(first.offset)),
            "\n1   10   -1   \n2   20   -2 ");

  Block second = ReadBlock(text, first.offset, 1);
  ASSERT_EQ(second.result, FileTools::kSuccess);
  EXPECT_EQ(second.expected->MbrNdxRows, 1);
  EXPECT_EQ(second.expected->GetInputDatum(0, 0), 3);
  EXPECT_EQ(second.expected->GetOutputDatum(0, 0), 30);
  EXPECT_EQ(second.generated->GetInputDatum(0, 0), -3);

  // Past the last row the end tag stands where a value is due.
  EXPECT_EQ(ErrorOf([&] { ReadBlock(text, second.offset, 1); }), "Token (number) expected");
  EXPECT_EQ(ErrorOf([&] { ReadBlock(text, -1, 1); }), "Bad block offset");

  Block none = ReadBlock(text, 0, 0);
  ASSERT_EQ(none.result, FileTools::kSuccess);
  EXPECT_EQ(none.expected->MbrNdxRows, 0);
  EXPECT_EQ(none.offset, 0);
}

TEST(FilerBlock, LabelledPartsAreReadToo) {
  auto labelled = Rows(0, 0, {{}, {}}, {Labels({{"A", 1}}), Labels({{"B", 2}})});
  const std::string text = Written(labelled.get(), nullptr);
  Block first = ReadBlock(text, 0, 1);
  ASSERT_EQ(first.result, FileTools::kSuccess);
  ASSERT_NE(first.expected, nullptr);
  EXPECT_TRUE(first.expected->MbrFlgLabels);
  EXPECT_EQ(first.expected->GetLabels(0)->labels[0].text, "A");
  Block second = ReadBlock(text, first.offset, 1);
  EXPECT_EQ(second.expected->GetLabels(0)->labels[0].text, "B");
  EXPECT_EQ(second.expected->GetLabels(0)->labels[0].value, 2);
}

TEST(FilerBlock, HeaderMustGiveRows) {
  EXPECT_EQ(ErrorOf([] { ReadBlock("[DataSet][Inputs=1][Data] 1 [~Data][~DataSet]", 0, 1); }),
            "[ROWS = <integer>] expected");
  // The header's row count only has to be present; the caller's count is read.
  Block block = ReadBlock("[DataSet][Rows=0][Inputs=1][Data] 1 2 [~Data][~DataSet]", 0, 2);
  ASSERT_EQ(block.result, FileTools::kSuccess);
  EXPECT_EQ(block.expected->GetInputDatum(1, 0), 2);
  EXPECT_EQ(
      ErrorOf([] { ReadBlock("[DataSet][Rows=1][Inputs=1][Data] 1 [~Data]", 0, 2000000000); }),
      "Token (number) expected");
}

// --- Probe ------------------------------------------------------------------------------

TEST(FilerProbe, Answers) {
  struct Case {
    const char* text;
    std::string answer;  // the structure's text, or the error message
  };
  const Case cases[] = {
      {"[DataSet][Rows=5][Inputs=2][ExpectedOutputs=Labels][Data]",
       "(data :rows 5 :inputs 2 :actual-outputs -1 :calc-outputs 0 :errors 0)"},
      {"[FormatVersion = 1.0]\n[dataset]\n[Inputs=1][GeneratedOutputs=labels][Error=3]",
       "(data :rows -1 :inputs 1 :actual-outputs 0 :calc-outputs -1 :errors 3)"},
      {"[DataSet][Rows=5][ExpectedOutputs=1][Inputs=2][Data]", "(error :type bad-header)"},
      {"[DataSet][Rows=5 Inputs=2]", "(error :type bad-header)"},
      {"[Network][NumberOfLayers = 3]", "network"},
      {"[NETWORK]", "network"},
      {"[NeuralNetwork]\n[NetworkType = Kohonen]\n",
       "(error :type unknown-header :header NeuralNetwork)"},
      {"/* c */ [Data]", "(error :type unknown-header :header Data)"},
      {"0.5", "start of block expected"},
      {"", "start of block expected"},
      {"[DataSet][Inputs=Labels]", "No labels in inputs"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FileTools tools;
    std::istringstream in(c.text);
    std::string answer;
    const std::string message = ErrorOf([&] {
      const auto result = tools.ProbeStream(in);
      ASSERT_NE(result, nullptr);
      answer = result->ToText();
    });
    EXPECT_EQ(message == "(no error)" ? answer : message, c.answer);
  }
}

// --- Files --------------------------------------------------------------------------------

class FilerFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "filer-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const char* name) const { return dir_ + "/" + name; }

  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  /// A FIFO whose reading end is held open, so that writers neither block nor fail.
  int OpenFifo(const std::string& path) {
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
    return open(path.c_str(), O_RDONLY | O_NONBLOCK);
  }
  static std::string Drain(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
      text.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    return text;
  }

  std::string dir_;
  FileTools tools_;
};

TEST_F(FilerFiles, SaveAndLoadThroughTheDisk) {
  auto data = Rows(2, 1, {{0.5, 1, 2}, {1.0 / 3, 4, 5}}, {});
  const std::string file = Path("set.dat");
  ASSERT_EQ(tools_.SaveDataSet(file.c_str(), data.get(), nullptr), FileTools::kSuccess);
  EXPECT_EQ(Contents(file), Written(data.get(), nullptr));

  std::unique_ptr<Data> loaded;
  ASSERT_EQ(tools_.LoadDataSet(file.c_str(), loaded), FileTools::kSuccess);
  EXPECT_EQ(Written(loaded.get(), nullptr), Contents(file));

  // The three writing steps give the same file.
  const std::string steps = Path("steps.dat");
  EXPECT_EQ(tools_.WriteDataSetHeader(steps.c_str(), 2, 1, 0, 0, 2), FileTools::kSuccess);
  EXPECT_EQ(tools_.WriteDataRows(steps.c_str(), data.get(), nullptr), FileTools::kSuccess);
  EXPECT_EQ(tools_.WriteDataSetEnd(steps.c_str()), FileTools::kSuccess);
  EXPECT_EQ(Contents(steps), Contents(file));

  int offset = 0;
  int rows = 1;
  std::unique_ptr<Data> block;
  ASSERT_EQ(tools_.LoadDataBlock(file.c_str(), &offset, &rows, block), FileTools::kSuccess);
  EXPECT_EQ(block->GetInputDatum(0, 1), 1);
  ASSERT_EQ(tools_.LoadDataBlock(file.c_str(), &offset, &rows, block), FileTools::kSuccess);
  EXPECT_EQ(block->GetInputDatum(0, 1), 4);

  const auto probe = tools_.ProbeFile(file.c_str());
  EXPECT_EQ(probe->ToText(),
            "(data :rows 2 :inputs 2 :actual-outputs 1 :calc-outputs 0 :errors 0)");
}

TEST_F(FilerFiles, MissingFiles) {
  const std::string missing = Path("missing.dat");
  auto keep = std::make_unique<Data>(1, 1, 1, false);
  Data* const kept = keep.get();
  std::unique_ptr<Data> generated = std::make_unique<Data>(1, 1, 1, false);
  EXPECT_EQ(tools_.LoadDataSets(missing.c_str(), keep, generated), FileTools::kCannotOpen);
  EXPECT_EQ(keep.get(), kept);  // left as they were
  EXPECT_NE(generated, nullptr);
  EXPECT_EQ(tools_.LoadDataSet(missing.c_str(), keep), FileTools::kCannotOpen);
  int offset = 0;
  int rows = 1;
  EXPECT_EQ(tools_.LoadDataBlock(missing.c_str(), &offset, &rows, keep), FileTools::kCannotOpen);
  EXPECT_EQ(keep.get(), kept);
  EXPECT_EQ(tools_.ProbeFile(missing.c_str())->ToText(), "(error :type file-read-error)");
}

TEST_F(FilerFiles, FailedWritesAreReported) {
  auto data = Rows(1, 0, {{1}, {2}});
  auto other = Rows(1, 0, {{1}, {2}, {3}});
  const std::string noDir = Path("no/such/dir.dat");
  for (const std::string& file : {std::string("/dev/full"), noDir}) {
    SCOPED_TRACE(file);
    EXPECT_EQ(tools_.SaveDataSet(file.c_str(), data.get(), nullptr), FileTools::kWriteFailed);
    EXPECT_EQ(tools_.WriteDataSetHeader(file.c_str(), 1, 0, 0, 0, 2), FileTools::kWriteFailed);
    EXPECT_EQ(tools_.WriteDataRows(file.c_str(), data.get(), nullptr), FileTools::kWriteFailed);
    EXPECT_EQ(tools_.WriteDataSetEnd(file.c_str()), FileTools::kWriteFailed);
  }
  // Row count faults come first and leave no file behind.
  const std::string unequal = Path("unequal.dat");
  EXPECT_EQ(tools_.SaveDataSet(unequal.c_str(), data.get(), other.get()), FileTools::kBadRows);
  EXPECT_EQ(tools_.SaveDataSet(unequal.c_str(), nullptr, nullptr), FileTools::kBadRows);
  EXPECT_EQ(tools_.WriteDataSetHeader(unequal.c_str(), 1, 0, 0, 0, -1), FileTools::kBadRows);
  EXPECT_EQ(tools_.WriteDataRows(unequal.c_str(), data.get(), other.get()), FileTools::kBadRows);
  EXPECT_FALSE(std::filesystem::exists(unequal));
}

TEST_F(FilerFiles, PipesReceiveTheWholeFile) {
  auto data = Rows(2, 1, {{0.5, 1, 2}, {3, 4, 5}});
  const std::string whole = Written(data.get(), nullptr);

  const std::string fifo = Path("pipe");
  int fd = OpenFifo(fifo);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(tools_.SaveDataSet(fifo.c_str(), data.get(), nullptr), FileTools::kSuccess);
  EXPECT_EQ(Drain(fd), whole);

  const std::string fifo2 = Path("pipe2");
  fd = OpenFifo(fifo2);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(tools_.WriteDataSetHeader(fifo2.c_str(), 2, 1, 0, 0, 2), FileTools::kSuccess);
  EXPECT_EQ(tools_.WriteDataRows(fifo2.c_str(), data.get(), nullptr), FileTools::kSuccess);
  EXPECT_EQ(tools_.WriteDataSetEnd(fifo2.c_str()), FileTools::kSuccess);
  EXPECT_EQ(Drain(fd), whole);
}

}  // namespace
}  // namespace kartlo
