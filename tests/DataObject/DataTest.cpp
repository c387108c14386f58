#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "KQmessage/TException.h"

namespace kartlo {
namespace {

constexpr int kInputs = 2;
constexpr int kOutputs = 1;

/// Row number `id` carries inputs {10·id, 10·id + 1}, output {id + 0.5} and label "r<id>".
void AppendNumbered(Data& data, int id) {
  const double inputs[kInputs] = {10.0 * id, 10.0 * id + 1};
  const double outputs[kOutputs] = {id + 0.5};
  const TLabelList labels(("r" + std::to_string(id)).c_str(), 1);
  data.AddRow(inputs, outputs, &labels);
}

std::unique_ptr<Data> Numbered(int rows, int appended) {
  auto data = std::make_unique<Data>(rows, kInputs, kOutputs, true);
  for (int id = 0; id < appended; ++id) AppendNumbered(*data, id);
  return data;
}

/// The id of a row written by AppendNumbered, or −1 for a row of zeros.
int IdOf(const double* inputs) { return inputs[1] == 0 ? -1 : static_cast<int>(inputs[0] / 10); }

/// Everything observable about a data set, for "nothing changed" checks.
struct Snapshot {
  std::vector<double> values;
  std::vector<std::string> labels;
  std::vector<int> state;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const Data& data) {
  Snapshot s;
  for (int row = 0; row < data.MbrNdxRows; ++row) {
    for (int c = 0; c < data.MbrLngInputs; ++c) s.values.push_back(data.GetInputDatum(row, c));
    for (int c = 0; c < data.MbrLngOutputs; ++c) s.values.push_back(data.GetOutputDatum(row, c));
    if (const TLabelList* list = data.GetLabels(row)) {
      for (const TLabel& label : list->labels) {
        s.labels.push_back(label.text + "=" + std::to_string(label.value));
      }
    }
    s.labels.push_back("|");
  }
  s.state = {data.MbrNdxDataRows,       data.MbrNdxFirstRow, data.MbrNdxLastRow,
             data.MbrNdxCurrentRow,     data.MbrLngChanges,  data.MbrLngInputSelection,
             data.MbrLngOutputSelection};
  return s;
}

TEST(Data, NewDataSetIsAnEmptyRingOfZeroRows) {
  Data data(3, kInputs, kOutputs, true);
  EXPECT_EQ(data.GetNumRows(), 3);
  EXPECT_EQ(data.GetNumInputs(), kInputs);
  EXPECT_EQ(data.GetNumOutputs(), kOutputs);
  EXPECT_TRUE(data.HasLabels());
  EXPECT_EQ(data.MbrNdxDataRows, 0);
  EXPECT_EQ(data.MbrNdxFirstRow, 0);
  EXPECT_EQ(data.MbrNdxLastRow, 0);
  EXPECT_EQ(data.MbrNdxCurrentRow, 0);
  EXPECT_EQ(data.MbrLngChanges, 0);
  EXPECT_FALSE(data.HasInputSelection());
  EXPECT_FALSE(data.HasOutputSelection());
  EXPECT_EQ(data.GetInputDatum(2, 0), 0.0);
  EXPECT_EQ(data.GetOutputDatum(2, 0), 0.0);
  ASSERT_NE(data.GetLabels(2), nullptr);
  EXPECT_EQ(data.GetLabels(2)->numLabels, 0);

  const Data plain(2, 1, 1, false);
  EXPECT_FALSE(plain.HasLabels());
  EXPECT_EQ(plain.GetLabels(1), nullptr);
}

TEST(Data, NegativeSizesCountAsZero) {
  Data data(-2, -1, -5, false);
  EXPECT_EQ(data.GetNumRows(), 0);
  EXPECT_EQ(data.GetNumInputs(), 0);
  EXPECT_EQ(data.GetNumOutputs(), 0);
  Data columns(2, -1, -1, false);
  EXPECT_EQ(columns.GetNumRows(), 2);
  EXPECT_EQ(columns.GetNumInputs(), 0);
}

TEST(Data, RingStatesAndCursorWalk) {
  struct Case {
    const char* name;
    int rows;
    int appended;
    int first, last;
    std::vector<int> storageIds;  // id held by each storage row (−1: zeros)
    std::vector<int> forward;     // cursor after each GetNextRow following Rewind
    std::vector<int> backward;    // cursor after each GetPreviousRow following Rewind
  };
  const Case cases[] = {
      {"empty walks every storage row", 3, 0, 0, 0, {-1, -1, -1}, {1, 2, 0, 1}, {2, 1, 0, 2}},
      {"one row stays put", 3, 1, 0, 0, {0, -1, -1}, {0, 0, 0, 0}, {0, 0, 0}},
      {"filling cycles over appended rows",
       5,
       2,
       0,
       1,
       {0, 1, -1, -1, -1},
       {0, 1, 0, 1, 0},
       {0, 1, 0}},
      {"filling, three of four", 4, 3, 0, 2, {0, 1, 2, -1}, {0, 1, 2, 0, 1}, {1, 0, 2}},
      {"full", 3, 3, 0, 2, {0, 1, 2}, {0, 1, 2, 0}, {1, 0, 2}},
      {"wrapped once", 3, 4, 1, 0, {3, 1, 2}, {1, 2, 0, 1}, {2, 1, 0}},
      {"wrapped twice around", 3, 8, 2, 1, {6, 7, 5}, {2, 0, 1, 2}, {0, 2, 1}},
      {"capacity one keeps the newest", 1, 3, 0, 0, {2}, {0, 0, 0}, {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto dataOwner = Numbered(c.rows, c.appended);
    Data& data = *dataOwner;
    EXPECT_EQ(data.MbrNdxDataRows, std::min(c.appended, c.rows));
    EXPECT_EQ(data.MbrNdxFirstRow, c.first);
    EXPECT_EQ(data.MbrNdxLastRow, c.last);
    for (int row = 0; row < c.rows; ++row) {
      SCOPED_TRACE("storage row " + std::to_string(row));
      double inputs[kInputs];
      data.GetInputRow(row, inputs);
      EXPECT_EQ(IdOf(inputs), c.storageIds[row]);
    }

    data.Rewind();
    for (std::size_t step = 0; step < c.forward.size(); ++step) {
      SCOPED_TRACE("forward step " + std::to_string(step));
      double inputs[kInputs] = {-7, -7};
      double outputs[kOutputs] = {-7};
      TLabelList* labels = nullptr;
      data.GetNextRow(inputs, outputs, &labels);
      const int row = c.forward[step];
      EXPECT_EQ(data.MbrNdxCurrentRow, row);
      const int id = c.storageIds[row];
      EXPECT_EQ(IdOf(inputs), id);
      EXPECT_EQ(outputs[0], id < 0 ? 0.0 : id + 0.5);
      ASSERT_EQ(labels, data.GetLabels(row));
      if (id >= 0) {
        ASSERT_EQ(labels->numLabels, 1);
        EXPECT_EQ(labels->labels[0].text, "r" + std::to_string(id));
      }
    }

    data.Rewind();
    for (std::size_t step = 0; step < c.backward.size(); ++step) {
      SCOPED_TRACE("backward step " + std::to_string(step));
      double inputs[kInputs] = {-7, -7};
      data.GetPreviousRow(inputs, nullptr);
      EXPECT_EQ(data.MbrNdxCurrentRow, c.backward[step]);
      EXPECT_EQ(IdOf(inputs), c.storageIds[c.backward[step]]);
    }
  }
}

TEST(Data, SequentialReadDeliversRowsOldestFirst) {
  // The way every reader walks a data set: Rewind, then GetNextRow MbrNdxRows times.
  const auto dataOwner = Numbered(3, 4);
  Data& data = *dataOwner;
  data.Rewind();
  std::vector<int> ids;
  for (int i = 0; i < data.MbrNdxRows; ++i) {
    double inputs[kInputs];
    data.GetNextRow(inputs, nullptr, nullptr);
    ids.push_back(IdOf(inputs));
  }
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 3}));
}

TEST(Data, GetCurrentRowRereadsTheCursorRow) {
  const auto dataOwner = Numbered(3, 2);
  Data& data = *dataOwner;
  data.Rewind();
  data.GetNextRow(nullptr, nullptr, nullptr);
  data.GetNextRow(nullptr, nullptr, nullptr);
  double inputs[kInputs];
  double outputs[kOutputs];
  TLabelList* labels = nullptr;
  data.GetCurrentRow(inputs, outputs, &labels);
  EXPECT_EQ(IdOf(inputs), 1);
  EXPECT_EQ(outputs[0], 1.5);
  EXPECT_EQ(labels, data.GetLabels(1));
  EXPECT_EQ(data.MbrNdxCurrentRow, 1);

  Data plain(2, 1, 1, false);
  labels = data.GetLabels(0);
  plain.GetCurrentRow(nullptr, nullptr, &labels);
  EXPECT_EQ(labels, nullptr);
}

TEST(Data, ZeroRowDataSetStepsHarmlessly) {
  Data data(0, kInputs, kOutputs, true);
  double inputs[kInputs] = {-7, -7};
  double outputs[kOutputs] = {-7};
  TLabelList sentinel;
  TLabelList* labels = &sentinel;
  data.Rewind();
  data.MoveCursor(1);
  data.MoveCursor(-1);
  data.GetNextRow(inputs, outputs, &labels);
  EXPECT_EQ(labels, nullptr);
  labels = &sentinel;
  data.GetCurrentRow(inputs, outputs, &labels);
  EXPECT_EQ(labels, nullptr);
  data.GetPreviousRow(inputs, outputs);
  EXPECT_EQ(inputs[0], -7);
  EXPECT_EQ(inputs[1], -7);
  EXPECT_EQ(outputs[0], -7);
  EXPECT_EQ(data.MbrNdxCurrentRow, 0);
}

TEST(Data, ZeroColumnsCopyNothing) {
  Data data(2, 0, 0, false);
  data.AddRow(nullptr, nullptr, nullptr);
  const double ignored[1] = {5};
  data.AddRow(ignored, ignored, nullptr);
  double inputs[1] = {-7};
  double outputs[1] = {-7};
  data.Rewind();
  data.GetNextRow(inputs, outputs, nullptr);
  data.GetInputRow(0, inputs);
  data.GetOutputRow(1, outputs);
  EXPECT_EQ(inputs[0], -7);
  EXPECT_EQ(outputs[0], -7);
}

TEST(Data, AddRowWithoutValuesGivesAZeroRowEvenWhenOverwriting) {
  const auto dataOwner = Numbered(2, 2);
  Data& data = *dataOwner;
  data.AddRow(nullptr, nullptr, nullptr);  // overwrites row 0, the oldest
  EXPECT_EQ(data.MbrNdxLastRow, 0);
  EXPECT_EQ(data.GetInputDatum(0, 0), 0.0);
  EXPECT_EQ(data.GetInputDatum(0, 1), 0.0);
  EXPECT_EQ(data.GetOutputDatum(0, 0), 0.0);
  EXPECT_EQ(data.GetLabels(0)->numLabels, 0);
  EXPECT_EQ(data.GetInputDatum(1, 0), 10.0);
}

TEST(Data, AddRowsAppendsEachVectorAndLabelList) {
  Data data(4, kInputs, kOutputs, true);
  const double in0[] = {1, 2}, in1[] = {3, 4}, in2[] = {5, 6};
  const double out0[] = {7}, out1[] = {8}, out2[] = {9};
  const double* inputs[] = {in0, in1, in2};
  const double* outputs[] = {out0, out1, out2};
  const TLabelList labels[] = {TLabelList("a", 1), TLabelList("b", 2), TLabelList()};
  data.AddRows(inputs, outputs, 3, labels);
  EXPECT_EQ(data.MbrNdxDataRows, 3);
  EXPECT_EQ(data.GetInputDatum(2, 1), 6.0);
  EXPECT_EQ(data.GetOutputDatum(1, 0), 8.0);
  EXPECT_EQ(data.GetLabels(1)->labels[0].text, "b");
  EXPECT_EQ(data.GetLabels(2)->numLabels, 0);

  data.AddRows(inputs, nullptr, 2, nullptr);
  EXPECT_EQ(data.MbrNdxFirstRow, 1);
  EXPECT_EQ(data.MbrNdxLastRow, 0);
  EXPECT_EQ(data.GetInputDatum(0, 0), 3.0);
  EXPECT_EQ(data.GetOutputDatum(0, 0), 0.0);
  EXPECT_EQ(data.GetLabels(0)->numLabels, 0);
}

TEST(Data, AccessorErrorsCarryExactTextsAndChangeNothing) {
  struct Case {
    const char* name;
    std::function<void(Data&)> call;
    const char* text;
    const char* origin;
  };
  double buffer[8] = {};
  const int cols[] = {0};
  const TLabelList list("x", 1);
  const Case cases[] = {
      {"GetInputDatum row -1", [](Data& d) { d.GetInputDatum(-1, 0); }, "Invalid Data Row",
       "Data::GetInputDatum"},
      {"GetInputDatum row = rows", [](Data& d) { d.GetInputDatum(3, 0); }, "Invalid Data Row",
       "Data::GetInputDatum"},
      {"GetInputDatum row before column", [](Data& d) { d.GetInputDatum(3, 9); },
       "Invalid Data Row", "Data::GetInputDatum"},
      {"GetInputDatum column = inputs", [](Data& d) { d.GetInputDatum(0, kInputs); },
       "Invalid Input Data Column", "Data::GetInputDatum"},
      {"GetInputDatum column -1", [](Data& d) { d.GetInputDatum(0, -1); },
       "Invalid Input Data Column", "Data::GetInputDatum"},
      {"GetOutputDatum row", [](Data& d) { d.GetOutputDatum(-1, 0); }, "Invalid Data Row",
       "Data::GetOutputDatum"},
      {"GetOutputDatum column", [](Data& d) { d.GetOutputDatum(2, kOutputs); },
       "Invalid Output Data Column", "Data::GetOutputDatum"},
      {"SetInputDatum row", [](Data& d) { d.SetInputDatum(3, 0, 1); }, "Invalid Data Row",
       "Data::SetInputDatum"},
      {"SetInputDatum column", [](Data& d) { d.SetInputDatum(0, kInputs, 1); },
       "Invalid Input Data Column", "Data::SetInputDatum"},
      {"SetOutputDatum row", [](Data& d) { d.SetOutputDatum(-1, 0, 1); }, "Invalid Data Row",
       "Data::SetOutputDatum"},
      {"SetOutputDatum column", [](Data& d) { d.SetOutputDatum(0, -1, 1); },
       "Invalid Output Data Column", "Data::SetOutputDatum"},
      {"GetLabels", [](Data& d) { d.GetLabels(3); }, "Invalid Data Row", "Data::GetLabels"},
      {"SetLabels", [&](Data& d) { d.SetLabels(-1, &list); }, "Invalid Data Row",
       "Data::SetLabels"},
      {"ClearLabels", [](Data& d) { d.ClearLabels(3); }, "Invalid Data Row", "Data::ClearLabels"},
      {"AppendLabel", [](Data& d) { d.AppendLabel(3, 1, "y"); }, "Invalid Data Row",
       "Data::AppendLabel"},
      {"SetRow", [&](Data& d) { d.SetRow(3, buffer, buffer, &list); }, "Invalid Data Row",
       "Data::SetRow"},
      {"GetInputRow", [&](Data& d) { d.GetInputRow(-1, buffer); }, "Invalid Data Row",
       "Data::GetInputRow"},
      {"GetInputRow selected", [&](Data& d) { d.GetInputRow(3, buffer, 1, cols); },
       "Invalid Data Row", "Data::GetInputRow"},
      {"GetOutputRow", [&](Data& d) { d.GetOutputRow(3, buffer); }, "Invalid Data Row",
       "Data::GetOutputRow"},
      {"GetOutputRow selected", [&](Data& d) { d.GetOutputRow(-1, buffer, 1, cols); },
       "Invalid Data Row", "Data::GetOutputRow"},
      {"GetBlock",
       [&](Data& d) {
         double* rows[] = {buffer};
         int n = 99;
         try {
           d.GetBlock(rows, rows, 3, 5, &n);
         } catch (const TException&) {
           EXPECT_EQ(n, 0);
           throw;
         }
       },
       "Data Block Fault", "Data::GetBlock"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto dataOwner = Numbered(3, 2);
    Data& data = *dataOwner;
    data.SetInputDatum(2, 0, 42);
    const Snapshot before = Take(data);
    try {
      c.call(data);
      ADD_FAILURE() << "no exception";
    } catch (const TException& e) {
      EXPECT_EQ(e.text, c.text);
      EXPECT_EQ(e.category, "Bad Parameter");
      EXPECT_EQ(e.origin, c.origin);
      EXPECT_EQ(e.report, nullptr);
    }
    EXPECT_TRUE(Take(data) == before);
  }
}

TEST(Data, LabelEditsOnADataSetWithoutLabelsAreRefused) {
  struct Case {
    const char* name;
    std::function<void(Data&)> call;
    const char* text;
    const char* origin;
  };
  const TLabelList list("x", 1);
  const Case cases[] = {
      {"SetLabels", [&](Data& d) { d.SetLabels(0, &list); }, "Data Set Has No Labels",
       "Data::SetLabels"},
      {"SetLabels null", [](Data& d) { d.SetLabels(1, nullptr); }, "Data Set Has No Labels",
       "Data::SetLabels"},
      {"ClearLabels", [](Data& d) { d.ClearLabels(0); }, "Data Set Has No Labels",
       "Data::ClearLabels"},
      {"AppendLabel", [](Data& d) { d.AppendLabel(1, 1, "y"); }, "Data Set Has No Labels",
       "Data::AppendLabel"},
      {"row is tested first", [](Data& d) { d.AppendLabel(2, 1, "y"); }, "Invalid Data Row",
       "Data::AppendLabel"},
      {"AddRow on zero rows",
       [&](Data&) {
         Data none(0, 1, 1, false);
         none.AddRow(nullptr, nullptr, &list);
       },
       "Invalid Data Row", "Data::SetRow"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Data data(2, 1, 1, false);
    const Snapshot before = Take(data);
    try {
      c.call(data);
      ADD_FAILURE() << "no exception";
    } catch (const TException& e) {
      EXPECT_EQ(e.text, c.text);
      EXPECT_EQ(e.category, "Bad Parameter");
      EXPECT_EQ(e.origin, c.origin);
    }
    EXPECT_TRUE(Take(data) == before);
  }
  // SetRow and GetLabels test the flag themselves: no error.
  Data data(2, 1, 1, false);
  const double one[] = {1};
  data.SetRow(1, one, one, &list);
  EXPECT_EQ(data.GetInputDatum(1, 0), 1.0);
  EXPECT_EQ(data.GetLabels(1), nullptr);
}

TEST(Data, LabelEditsAndChangeCounter) {
  Data data(3, kInputs, kOutputs, true);
  AppendNumbered(data, 0);
  EXPECT_EQ(data.MbrLngChanges, 2);  // the append and its row write

  TLabelList* row0 = data.GetLabels(0);
  data.AppendLabel(0, 2, "r0");
  data.AppendLabel(0, 1, "R0");
  ASSERT_EQ(row0->numLabels, 2);  // the handed-out pointer sees the row's changes
  EXPECT_EQ(row0->labels[0].value, 3.0);
  EXPECT_EQ(row0->labels[1].text, "R0");

  TLabelList given("g", 1);
  data.SetLabels(1, &given);
  given.Add("h", 1);  // the data set keeps its own copy
  EXPECT_EQ(data.GetLabels(1)->numLabels, 1);
  data.SetLabels(1, data.GetLabels(1));  // its own list: unchanged
  EXPECT_EQ(data.GetLabels(1)->labels[0].text, "g");
  data.SetLabels(0, nullptr);
  EXPECT_EQ(row0->numLabels, 0);
  data.ClearLabels(1);
  EXPECT_EQ(data.GetLabels(1)->numLabels, 0);

  const double in[] = {1, 2};
  data.SetRow(2, in, nullptr, &given);
  EXPECT_EQ(data.GetLabels(2)->numLabels, 2);
  data.SetRow(2, nullptr, nullptr, nullptr);
  EXPECT_EQ(data.GetLabels(2)->numLabels, 0);
  EXPECT_EQ(data.GetInputDatum(2, 1), 2.0);  // a null vector leaves the values

  data.SetInputDatum(0, 0, 1);
  data.SetOutputDatum(0, 0, 1);
  // 2 (append) + 2 AppendLabel + 2 SetLabels + SetLabels + ClearLabels + 2 SetRow + 2 Set…Datum
  EXPECT_EQ(data.MbrLngChanges, 12);
  EXPECT_EQ(data.MbrNdxDataRows, 1);  // SetRow does not append
}

TEST(Data, SelectionsInGetNextRowAndGetCurrentRow) {
  struct Case {
    const char* name;
    std::vector<int> in;  // empty with inSet false: unset
    bool inSet;
    std::vector<int> out;
    bool outSet;
    std::vector<double> inputs;
    std::vector<double> outputs;
    bool nextDeliversLabels;
  };
  // Row 0 holds inputs {0, 1, 2, 3} and outputs {10, 11, 12}.
  const Case cases[] = {
      {"no selection", {}, false, {}, false, {0, 1, 2, 3}, {10, 11, 12}, true},
      {"input selection only", {3, 1}, true, {}, false, {3, 1}, {10, 11, 12}, false},
      {"both selections", {2, 0, 2}, true, {2}, true, {2, 0, 2}, {12}, false},
      {"output selection alone is ignored",
       {},
       false,
       {1, 0},
       true,
       {0, 1, 2, 3},
       {10, 11, 12},
       true},
      {"empty input selection", {}, true, {}, false, {}, {10, 11, 12}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Data data(2, 4, 3, true);
    const double in[] = {0, 1, 2, 3};
    const double out[] = {10, 11, 12};
    const TLabelList labels("row", 1);
    data.AddRow(in, out, &labels);
    const int none[1] = {0};  // a present array for a selection of no columns
    data.SetSelection(static_cast<int>(c.in.size()),
                      !c.inSet       ? nullptr
                      : c.in.empty() ? none
                                     : c.in.data(),
                      static_cast<int>(c.out.size()), c.outSet ? c.out.data() : nullptr);
    EXPECT_EQ(data.HasInputSelection(), c.inSet);
    EXPECT_EQ(data.GetInputSelection(), c.in);

    std::vector<double> gotIn(5, -7), gotOut(4, -7);
    TLabelList sentinel;
    TLabelList* got = &sentinel;
    data.Rewind();
    data.GetNextRow(gotIn.data(), gotOut.data(), &got);
    std::vector<double> wantIn = c.inputs, wantOut = c.outputs;
    wantIn.resize(5, -7);
    wantOut.resize(4, -7);
    EXPECT_EQ(gotIn, wantIn);
    EXPECT_EQ(gotOut, wantOut);
    EXPECT_EQ(got, c.nextDeliversLabels ? data.GetLabels(0) : &sentinel);

    std::fill(gotIn.begin(), gotIn.end(), -7);
    std::fill(gotOut.begin(), gotOut.end(), -7);
    got = &sentinel;
    data.GetCurrentRow(gotIn.data(), gotOut.data(), &got);
    EXPECT_EQ(gotIn, wantIn);
    EXPECT_EQ(gotOut, wantOut);
    EXPECT_EQ(got, data.GetLabels(0));  // GetCurrentRow always hands the list out
  }
}

TEST(Data, SelectionCopiesAndReplacement) {
  Data data(1, 4, 2, false);
  int cols[] = {1, 2};
  data.SetInputSelection(2, cols);
  cols[0] = 3;  // the data set keeps its own copy
  EXPECT_EQ(data.GetInputSelection(), (std::vector<int>{1, 2}));
  EXPECT_EQ(data.MbrLngInputSelection, 2);
  std::vector<int> copy = data.GetInputSelection();
  copy[0] = 0;
  EXPECT_EQ(data.GetInputSelection(), (std::vector<int>{1, 2}));

  const int one[] = {0};
  data.SetSelection(1, one, 1, one);
  EXPECT_EQ(data.GetInputSelection(), (std::vector<int>{0}));
  EXPECT_TRUE(data.HasOutputSelection());
  data.SetInputSelection(0, nullptr);
  EXPECT_FALSE(data.HasInputSelection());
  EXPECT_EQ(data.MbrLngInputSelection, 0);
  EXPECT_TRUE(data.GetInputSelection().empty());
}

TEST(Data, SelectedRowFormsFollowColumnOrder) {
  Data data(2, 3, 2, false);
  const double in[] = {1, 2, 3};
  const double out[] = {4, 5};
  data.SetRow(1, in, out, nullptr);
  const int inCols[] = {2, 0, 2};
  const int outCols[] = {1, 0};
  double got[3] = {};
  data.GetInputRow(1, got, 3, inCols);
  EXPECT_EQ(std::vector<double>(got, got + 3), (std::vector<double>{3, 1, 3}));
  data.GetOutputRow(1, got, 2, outCols);
  EXPECT_EQ(std::vector<double>(got, got + 2), (std::vector<double>{5, 4}));
  data.GetOutputRow(1, got);
  EXPECT_EQ(std::vector<double>(got, got + 2), (std::vector<double>{4, 5}));
}

TEST(Data, GetBlockCopiesUpToTheNewestRow) {
  struct Case {
    const char* name;
    int rows, appended, from, to;
    std::vector<int> ids;  // ids of the rows copied, in order
  };
  const Case cases[] = {
      {"inside the filled rows", 5, 4, 1, 2, {1, 2}},
      {"to beyond the newest row is lowered", 5, 3, 1, 10, {1, 2}},
      {"single row", 5, 3, 2, 2, {2}},
      {"to before from", 5, 3, 2, 1, {}},
      {"wrapped: newest row index below from", 3, 4, 1, 2, {}},
      {"wrapped: from the start", 3, 4, 0, 2, {3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto dataOwner = Numbered(c.rows, c.appended);
    const Data& data = *dataOwner;
    std::vector<std::vector<double>> in(c.rows, std::vector<double>(kInputs, -7));
    std::vector<std::vector<double>> out(c.rows, std::vector<double>(kOutputs, -7));
    std::vector<double*> inPtrs, outPtrs;
    for (auto& v : in) inPtrs.push_back(v.data());
    for (auto& v : out) outPtrs.push_back(v.data());
    int n = -1;
    data.GetBlock(inPtrs.data(), outPtrs.data(), c.from, c.to, &n);
    ASSERT_EQ(n, static_cast<int>(c.ids.size()));
    for (int k = 0; k < c.rows; ++k) {
      SCOPED_TRACE("vector " + std::to_string(k));
      if (k < n) {
        EXPECT_EQ(IdOf(in[k].data()), c.ids[k]);
        EXPECT_EQ(out[k][0], c.ids[k] + 0.5);
      } else {
        EXPECT_EQ(in[k][0], -7);  // vectors past the count stay untouched
        EXPECT_EQ(out[k][0], -7);
      }
    }
  }
}

TEST(Data, CloneCopiesEverythingAndIsIndependent) {
  const auto sourceOwner = Numbered(3, 4);
  Data& source = *sourceOwner;
  const int inSel[] = {1};
  const int outSel[] = {0};
  source.SetSelection(1, inSel, 1, outSel);
  source.Rewind();
  source.GetNextRow(nullptr, nullptr, nullptr);
  std::unique_ptr<Data> copy = source.Clone();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->GetNumRows(), 3);
  EXPECT_EQ(copy->GetNumInputs(), kInputs);
  EXPECT_EQ(copy->GetNumOutputs(), kOutputs);
  EXPECT_TRUE(copy->HasLabels());
  EXPECT_TRUE(Take(*copy) == Take(source));
  EXPECT_EQ(copy->GetInputSelection(), (std::vector<int>{1}));
  EXPECT_TRUE(copy->HasOutputSelection());

  const Snapshot before = Take(source);
  copy->SetInputDatum(0, 0, -1);
  copy->AppendLabel(1, 1, "extra");
  AppendNumbered(*copy, 9);
  copy->SetInputSelection(0, nullptr);
  EXPECT_TRUE(Take(source) == before);
  EXPECT_EQ(source.GetInputSelection(), (std::vector<int>{1}));
  source.ClearLabels(2);
  EXPECT_EQ(copy->GetLabels(2)->numLabels, 1);

  // Without selections the copy delivers all columns, as the source does.
  const auto plainOwner = Numbered(2, 2);
  Data& plain = *plainOwner;
  std::unique_ptr<Data> plainCopy = plain.Clone();
  EXPECT_FALSE(plainCopy->HasInputSelection());
  EXPECT_FALSE(plainCopy->HasOutputSelection());
  plainCopy->Rewind();
  double inputs[kInputs];
  double outputs[kOutputs];
  plainCopy->GetNextRow(inputs, outputs, nullptr);
  EXPECT_EQ(inputs[0], 0.0);
  EXPECT_EQ(inputs[1], 1.0);
  EXPECT_EQ(outputs[0], 0.5);
}

TEST(Data, RowPointersAddressTheContiguousTables) {
  const auto dataOwner = Numbered(3, 3);
  Data& data = *dataOwner;
  EXPECT_EQ(data.InputRowPtr(1), data.InputRowPtr(0) + kInputs);
  EXPECT_EQ(data.OutputRowPtr(2), data.OutputRowPtr(0) + 2 * kOutputs);
  EXPECT_EQ(data.InputRowPtr(2)[1], 21.0);
  data.OutputRowPtr(1)[0] = 99;
  EXPECT_EQ(data.GetOutputDatum(1, 0), 99.0);
  const Data& view = data;
  EXPECT_EQ(view.InputRowPtr(1)[0], 10.0);
}

TEST(DataDeathTest, ContractViolationsAbort) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Data data(3, 2, 1, false);
  const int badInput[] = {2};
  const int badOutput[] = {-1};
  const int good[] = {0};
  double out[2];
  EXPECT_DEATH(data.SetInputSelection(1, badInput), "Assertion failed: col >= 0 && col < width");
  EXPECT_DEATH(data.SetSelection(1, good, 1, badOutput), "Assertion failed");
  EXPECT_DEATH(data.GetInputRow(0, out, 1, badInput), "Assertion failed");
  EXPECT_DEATH(data.GetOutputRow(0, out, 1, badOutput), "Assertion failed");
  data.MbrNdxDataRows = 4;  // a broken ring
  EXPECT_DEATH(data.AddRow(nullptr, nullptr, nullptr),
               "Assertion failed: MbrNdxDataRows <= MbrNdxRows");
}

}  // namespace
}  // namespace kartlo
