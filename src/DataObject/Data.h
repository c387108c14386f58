#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "DataObject/TLabelList.h"

namespace kartlo {

/// An in-memory data set: a fixed number of rows, each with input values, output values
/// and, when enabled, a label list. Rows form a ring: once every row has been appended,
/// each further row overwrites the oldest one. A cursor walks the rows for sequential
/// readers, which call Rewind and then GetNextRow exactly MbrNdxRows times.
///
/// Row numbers of the accessors are ring (storage) indices 0 … MbrNdxRows−1, not ages.
/// Bad row or column arguments throw TException(text, "Bad Parameter", "Data::<operation>")
/// with the row tested before the column; nothing is changed when one is thrown.
class Data {
 public:
  /// A negative count is taken as 0. Every row starts as zeros with an empty label list;
  /// the ring is empty, the cursor and the change counter are 0 and no selection is set.
  Data(int rows, int inputs, int outputs, bool labels);
  virtual ~Data() = default;
  Data(const Data&) = delete;
  Data& operator=(const Data&) = delete;

  // --- Sizes ------------------------------------------------------------------------
  int GetNumRows() const { return MbrNdxRows; }
  int GetNumInputs() const { return MbrLngInputs; }
  int GetNumOutputs() const { return MbrLngOutputs; }
  bool HasLabels() const { return MbrFlgLabels; }

  // --- Cursor -----------------------------------------------------------------------
  /// Puts the cursor on the newest row, so that the next GetNextRow delivers the oldest.
  void Rewind();
  /// Steps the cursor forward, then copies that row as GetCurrentRow does, except that
  /// with an input selection set the label pointer is left untouched (no label list is
  /// delivered for a selected row). Any null argument skips that part. On a data set of
  /// 0 rows nothing is copied and *labels becomes null.
  virtual void GetNextRow(double* inputs, double* outputs, TLabelList** labels);
  /// Steps the cursor back, then copies that row's values (no labels).
  void GetPreviousRow(double* inputs, double* outputs);
  /// Copies the row under the cursor: the inputs (all, or the selected columns in selection
  /// order), the outputs (all, or the selected columns when both selections are set) and
  /// the row's own label list pointer (null without labels). Any null argument skips that
  /// part. On a data set of 0 rows nothing is copied and *labels becomes null.
  void GetCurrentRow(double* inputs, double* outputs, TLabelList** labels);
  /// Moves the cursor by `step` rows through the appended rows cyclically (through all
  /// storage rows while the ring is empty or wrapped); with one appended row it stays on
  /// it; with 0 rows it does nothing.
  void MoveCursor(int step);

  // --- Appending --------------------------------------------------------------------
  /// Appends a row at the ring's end, overwriting the oldest row when the ring is full.
  /// A null `inputs`/`outputs`/`labels` gives zeros/an empty list, so an appended row
  /// never shows values of the row it overwrote. Counts two changes (the append and the
  /// row write). On a data set of 0 rows throws the "Invalid Data Row" error of Data::SetRow.
  void AddRow(const double* inputs, const double* outputs, const TLabelList* labels);
  /// AddRow for i = 0 … n−1 with inputs[i], outputs[i] and labels[i]; a null array
  /// passes null for every row.
  void AddRows(const double* const* inputs, const double* const* outputs, int n,
               const TLabelList* labels);

  // --- Random access by ring index ----------------------------------------------------
  /// 0 ≤ row < MbrNdxRows; rows not yet appended are valid and hold zeros.
  bool IsValidRow(int row) const { return row >= 0 && row < MbrNdxRows; }
  double GetInputDatum(int row, int col) const;
  double GetOutputDatum(int row, int col) const;
  void SetInputDatum(int row, int col, double value);
  void SetOutputDatum(int row, int col, double value);

  /// The row's own label list (valid while this object lives); null without labels.
  TLabelList* GetLabels(int row);
  const TLabelList* GetLabels(int row) const;
  /// The row's list becomes a copy of `list` (null empties it). Without labels throws
  /// "Data Set Has No Labels" (after the row test), like ClearLabels and AppendLabel.
  void SetLabels(int row, const TLabelList* list);
  void ClearLabels(int row);
  /// TLabelList::Add of `text` and `value` to the row's list; `text` must not be null.
  void AppendLabel(int row, double value, const char* text);

  /// Copies all inputs and all outputs (each unless null) and, when the data set has
  /// labels, the label list (null empties it) into the row.
  void SetRow(int row, const double* inputs, const double* outputs, const TLabelList* labels);

  /// Copies all input values of the row into `out`.
  void GetInputRow(int row, double* out) const;
  /// Copies the inputs of columns cols[0 … n−1] in that order. Columns are the caller's
  /// contract: one outside 0 … MbrLngInputs−1 aborts through an assertion.
  void GetInputRow(int row, double* out, int n, const int* cols) const;
  void GetOutputRow(int row, double* out) const;
  /// As the selected GetInputRow, for output columns.
  void GetOutputRow(int row, double* out, int n, const int* cols) const;

  /// Copies rows from … to (to lowered to MbrNdxLastRow if larger) into inputs[k] and
  /// outputs[k], k = 0, 1, …; *n receives the number of rows copied. A null array skips
  /// that part. An invalid `from` sets *n to 0 and throws "Data Block Fault".
  void GetBlock(double* const* inputs, double* const* outputs, int from, int to, int* n) const;

  /// Fast unchecked access for hot loops: the MbrLngInputs values of ring row `row`, which
  /// must satisfy IsValidRow. Null or not dereferenceable when MbrLngInputs is 0.
  const double* InputRowPtr(int row) const {
    return MbrDyaRtpInputs.data() + Offset(row, MbrLngInputs);
  }
  double* InputRowPtr(int row) { return MbrDyaRtpInputs.data() + Offset(row, MbrLngInputs); }
  /// As InputRowPtr, for the MbrLngOutputs output values.
  const double* OutputRowPtr(int row) const {
    return MbrDyaRtpOutputs.data() + Offset(row, MbrLngOutputs);
  }
  double* OutputRowPtr(int row) { return MbrDyaRtpOutputs.data() + Offset(row, MbrLngOutputs); }

  // --- Copy and selections ----------------------------------------------------------
  /// A new data set with the same sizes, rows, ring state, cursor, counter and selections.
  std::unique_ptr<Data> Clone() const;
  /// Sets both selections to copies of the arrays; a null array leaves that selection
  /// unset. Columns are the caller's contract: one outside the table's columns aborts
  /// through an assertion. An output selection without an input selection is ignored.
  void SetSelection(int nIn, const int* inCols, int nOut, const int* outCols);
  /// Replaces the input selection by a copy of cols[0 … n−1]; null cols unsets it.
  void SetInputSelection(int n, const int* cols);
  /// A copy of the input column selection (empty when unset; see HasInputSelection).
  std::vector<int> GetInputSelection() const;
  bool HasInputSelection() const { return MbrDyaInputSelection.has_value(); }
  bool HasOutputSelection() const { return MbrDyaOutputSelection.has_value(); }

  // --- State, read directly by other code; sizes are fixed at construction -----------
  /// Number of rows, the ring's capacity.
  const int MbrNdxRows;
  const int MbrLngInputs;
  const int MbrLngOutputs;
  /// The rows carry label lists.
  const bool MbrFlgLabels;
  /// Rows appended so far, 0 … MbrNdxRows.
  int MbrNdxDataRows = 0;
  /// Ring index of the oldest appended row.
  int MbrNdxFirstRow = 0;
  /// Ring index of the newest appended row.
  int MbrNdxLastRow = 0;
  /// The cursor: ring index of the row last delivered.
  int MbrNdxCurrentRow = 0;
  /// Modification counter; raised by every setter and by AddRow, copied by Clone.
  int MbrLngChanges = 0;
  /// Number of selected input columns (0 when unset).
  int MbrLngInputSelection = 0;
  /// Number of selected output columns (0 when unset).
  int MbrLngOutputSelection = 0;

 private:
  static std::size_t Offset(int row, int width) {
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(width);
  }
  void CopyRow(int row, double* inputs, double* outputs) const;
  void RequireLabels(const char* origin) const;

  /// MbrNdxRows × MbrLngInputs values, row after row; empty without input columns.
  std::vector<double> MbrDyaRtpInputs;
  /// MbrNdxRows × MbrLngOutputs values, row after row; empty without output columns.
  std::vector<double> MbrDyaRtpOutputs;
  /// One list per row; empty unless MbrFlgLabels.
  std::vector<TLabelList> MbrDyaLabels;
  std::optional<std::vector<int>> MbrDyaInputSelection;
  std::optional<std::vector<int>> MbrDyaOutputSelection;
};

}  // namespace kartlo
