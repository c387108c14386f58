#include "DataObject/Data.h"

#include <algorithm>

#include "KQmessage/Assert.h"
#include "KQmessage/TException.h"

namespace kartlo {

namespace {

constexpr const char* kBadParameter = "Bad Parameter";
constexpr const char* kInvalidRow = "Invalid Data Row";
constexpr const char* kInvalidInputColumn = "Invalid Input Data Column";
constexpr const char* kInvalidOutputColumn = "Invalid Output Data Column";
constexpr const char* kBlockFault = "Data Block Fault";
constexpr const char* kNoLabels = "Data Set Has No Labels";

[[noreturn]] void Fail(const char* text, const char* origin) {
  throw TException(text, kBadParameter, origin);
}

int NonNegative(int n) { return n < 0 ? 0 : n; }

/// Copies n values; a row copied onto itself is left alone.
void CopyValues(double* dst, const double* src, int n) {
  if (n > 0 && dst != src) std::copy_n(src, n, dst);
}

/// Copies the values of the given columns of one stored row, in column order.
void CopyColumns(double* dst, const double* row, const std::vector<int>& cols) {
  for (std::size_t i = 0; i < cols.size(); ++i) dst[i] = row[cols[i]];
}

std::optional<std::vector<int>> CheckedSelection(int n, const int* cols, int width) {
  if (cols == nullptr) return std::nullopt;
  KARTLO_ASSERT(n >= 0);
  std::vector<int> copy(cols, cols + n);
  for (int col : copy) KARTLO_ASSERT(col >= 0 && col < width);
  return copy;
}

}  // namespace

Data::Data(int rows, int inputs, int outputs, bool labels)
    : MbrNdxRows(NonNegative(rows)),
      MbrLngInputs(NonNegative(inputs)),
      MbrLngOutputs(NonNegative(outputs)),
      MbrFlgLabels(labels),
      MbrDyaRtpInputs(Offset(MbrNdxRows, MbrLngInputs), 0.0),
      MbrDyaRtpOutputs(Offset(MbrNdxRows, MbrLngOutputs), 0.0) {
  if (MbrFlgLabels) MbrDyaLabels.resize(static_cast<std::size_t>(MbrNdxRows));
}

// --- Cursor ------------------------------------------------------------------------

void Data::Rewind() { MbrNdxCurrentRow = MbrNdxLastRow; }

void Data::MoveCursor(int step) {
  if (MbrNdxRows == 0) return;
  if (MbrNdxDataRows == 1) {
    MbrNdxCurrentRow = MbrNdxFirstRow;
    return;
  }
  // Filling or full: the appended rows 0 … F−1. Empty or wrapped: every storage row.
  const long long cycle = MbrNdxDataRows == 0 ? MbrNdxRows : MbrNdxDataRows;
  long long next = (static_cast<long long>(MbrNdxCurrentRow) + step) % cycle;
  if (next < 0) next += cycle;
  MbrNdxCurrentRow = static_cast<int>(next);
}

void Data::CopyRow(int row, double* inputs, double* outputs) const {
  if (inputs != nullptr) CopyValues(inputs, InputRowPtr(row), MbrLngInputs);
  if (outputs != nullptr) CopyValues(outputs, OutputRowPtr(row), MbrLngOutputs);
}

void Data::GetCurrentRow(double* inputs, double* outputs, TLabelList** labels) {
  if (!IsValidRow(MbrNdxCurrentRow)) {
    if (labels != nullptr) *labels = nullptr;
    return;
  }
  const int row = MbrNdxCurrentRow;
  if (!MbrDyaInputSelection) {
    CopyRow(row, inputs, outputs);
  } else {
    if (inputs != nullptr) CopyColumns(inputs, InputRowPtr(row), *MbrDyaInputSelection);
    if (outputs != nullptr) {
      if (MbrDyaOutputSelection) {
        CopyColumns(outputs, OutputRowPtr(row), *MbrDyaOutputSelection);
      } else {
        CopyValues(outputs, OutputRowPtr(row), MbrLngOutputs);
      }
    }
  }
  if (labels != nullptr)
    *labels = MbrFlgLabels ? &MbrDyaLabels[static_cast<std::size_t>(row)] : nullptr;
}

void Data::GetNextRow(double* inputs, double* outputs, TLabelList** labels) {
  MoveCursor(1);
  // A selected row is delivered without its label list; the caller's pointer stays as it was.
  const bool withLabels = !MbrDyaInputSelection || MbrNdxRows == 0;
  GetCurrentRow(inputs, outputs, withLabels ? labels : nullptr);
}

void Data::GetPreviousRow(double* inputs, double* outputs) {
  MoveCursor(-1);
  GetCurrentRow(inputs, outputs, nullptr);
}

// --- Appending -----------------------------------------------------------------------

void Data::AddRow(const double* inputs, const double* outputs, const TLabelList* labels) {
  KARTLO_ASSERT(MbrNdxDataRows <= MbrNdxRows);
  if (MbrNdxRows == 0) Fail(kInvalidRow, "Data::SetRow");

  const bool full = MbrNdxDataRows == MbrNdxRows;
  const int row = full ? (MbrNdxLastRow + 1) % MbrNdxRows : MbrNdxDataRows;

  // The label copy is the only step that can fail (allocation); it goes first.
  if (MbrFlgLabels) {
    TLabelList& list = MbrDyaLabels[static_cast<std::size_t>(row)];
    if (labels != nullptr) {
      list = *labels;
    } else {
      list.Clear();
    }
  }
  if (inputs != nullptr) {
    CopyValues(InputRowPtr(row), inputs, MbrLngInputs);
  } else {
    std::fill_n(InputRowPtr(row), MbrLngInputs, 0.0);
  }
  if (outputs != nullptr) {
    CopyValues(OutputRowPtr(row), outputs, MbrLngOutputs);
  } else {
    std::fill_n(OutputRowPtr(row), MbrLngOutputs, 0.0);
  }

  if (full) {
    MbrNdxFirstRow = (MbrNdxFirstRow + 1) % MbrNdxRows;
  } else {
    ++MbrNdxDataRows;
  }
  MbrNdxLastRow = row;
  // One change for the append and one for writing the row.
  MbrLngChanges += 2;
}

void Data::AddRows(const double* const* inputs, const double* const* outputs, int n,
                   const TLabelList* labels) {
  for (int i = 0; i < n; ++i) {
    AddRow(inputs != nullptr ? inputs[i] : nullptr, outputs != nullptr ? outputs[i] : nullptr,
           labels != nullptr ? &labels[i] : nullptr);
  }
}

// --- Random access -------------------------------------------------------------------

double Data::GetInputDatum(int row, int col) const {
  if (!IsValidRow(row)) Fail(kInvalidRow, "Data::GetInputDatum");
  if (col < 0 || col >= MbrLngInputs) Fail(kInvalidInputColumn, "Data::GetInputDatum");
  return InputRowPtr(row)[col];
}

double Data::GetOutputDatum(int row, int col) const {
  if (!IsValidRow(row)) Fail(kInvalidRow, "Data::GetOutputDatum");
  if (col < 0 || col >= MbrLngOutputs) Fail(kInvalidOutputColumn, "Data::GetOutputDatum");
  return OutputRowPtr(row)[col];
}

void Data::SetInputDatum(int row, int col, double value) {
  if (!IsValidRow(row)) Fail(kInvalidRow, "Data::SetInputDatum");
  if (col < 0 || col >= MbrLngInputs) Fail(kInvalidInputColumn, "Data::SetInputDatum");
  InputRowPtr(row)[col] = value;
  ++MbrLngChanges;
}

void Data::SetOutputDatum(int row, int col, double value) {
  if (!IsValidRow(row)) Fail(kInvalidRow, "Data::SetOutputDatum");
  if (col < 0 || col >= MbrLngOutputs) Fail(kInvalidOutputColumn, "Data::SetOutputDatum");
  OutputRowPtr(row)[col] = value;
  ++MbrLngChanges;
}

TLabelList* Data::GetLabels(int row) {
  if (!IsValidRow(row)) Fail(kInvalidRow, "Data::GetLabels");
  return MbrFlgLabels ? &MbrDyaLabels[static_cast<std::size_t>(row)] : nullptr;
}

const TLabelList* Data::GetLabels(int row) const {
  if (!IsValidRow(row)) Fail(kInvalidRow, "Data::GetLabels");
  return MbrFlgLabels ? &MbrDyaLabels[static_cast<std::size_t>(row)] : nullptr;
}

void Data::RequireLabels(const char* origin) const {
  if (!MbrFlgLabels) Fail(kNoLabels, origin);
}

void Data::SetLabels(int row, const TLabelList* list) {
  if (!IsValidRow(row)) Fail(kInvalidRow, "Data::SetLabels");
  RequireLabels("Data::SetLabels");
  TLabelList& own = MbrDyaLabels[static_cast<std::size_t>(row)];
  if (list != nullptr) {
    own = *list;
  } else {
    own.Clear();
  }
  ++MbrLngChanges;
}

void Data::ClearLabels(int row) {
  if (!IsValidRow(row)) Fail(kInvalidRow, "Data::ClearLabels");
  RequireLabels("Data::ClearLabels");
  MbrDyaLabels[static_cast<std::size_t>(row)].Clear();
  ++MbrLngChanges;
}

void Data::AppendLabel(int row, double value, const char* text) {
  if (!IsValidRow(row)) Fail(kInvalidRow, "Data::AppendLabel");
  RequireLabels("Data::AppendLabel");
  MbrDyaLabels[static_cast<std::size_t>(row)].Add(text, value);
  ++MbrLngChanges;
}

void Data::SetRow(int row, const double* inputs, const double* outputs, const TLabelList* labels) {
  if (!IsValidRow(row)) Fail(kInvalidRow, "Data::SetRow");
  if (MbrFlgLabels) {
    TLabelList& own = MbrDyaLabels[static_cast<std::size_t>(row)];
    if (labels != nullptr) {
      own = *labels;
    } else {
      own.Clear();
    }
  }
  if (inputs != nullptr) CopyValues(InputRowPtr(row), inputs, MbrLngInputs);
  if (outputs != nullptr) CopyValues(OutputRowPtr(row), outputs, MbrLngOutputs);
  ++MbrLngChanges;
}

void Data::GetInputRow(int row, double* out) const {
  if (!IsValidRow(row)) Fail(kInvalidRow, "Data::GetInputRow");
  if (out != nullptr) CopyValues(out, InputRowPtr(row), MbrLngInputs);
}

void Data::GetInputRow(int row, double* out, int n, const int* cols) const {
  if (!IsValidRow(row)) Fail(kInvalidRow, "Data::GetInputRow");
  const double* values = InputRowPtr(row);
  for (int i = 0; i < n; ++i) {
    KARTLO_ASSERT(cols[i] >= 0 && cols[i] < MbrLngInputs);
    out[i] = values[cols[i]];
  }
}

void Data::GetOutputRow(int row, double* out) const {
  if (!IsValidRow(row)) Fail(kInvalidRow, "Data::GetOutputRow");
  if (out != nullptr) CopyValues(out, OutputRowPtr(row), MbrLngOutputs);
}

void Data::GetOutputRow(int row, double* out, int n, const int* cols) const {
  if (!IsValidRow(row)) Fail(kInvalidRow, "Data::GetOutputRow");
  const double* values = OutputRowPtr(row);
  for (int i = 0; i < n; ++i) {
    KARTLO_ASSERT(cols[i] >= 0 && cols[i] < MbrLngOutputs);
    out[i] = values[cols[i]];
  }
}

void Data::GetBlock(double* const* inputs, double* const* outputs, int from, int to, int* n) const {
  if (!IsValidRow(from)) {
    if (n != nullptr) *n = 0;
    Fail(kBlockFault, "Data::GetBlock");
  }
  const int last = std::min(to, MbrNdxLastRow);
  int count = 0;
  for (int row = from; row <= last; ++row, ++count) {
    if (inputs != nullptr) GetInputRow(row, inputs[count]);
    if (outputs != nullptr) GetOutputRow(row, outputs[count]);
  }
  if (n != nullptr) *n = count;
}

// --- Copy and selections ---------------------------------------------------------------

std::unique_ptr<Data> Data::Clone() const {
  auto PtrDatClone = std::make_unique<Data>(MbrNdxRows, MbrLngInputs, MbrLngOutputs, MbrFlgLabels);
  KARTLO_ASSERT_TEXT(PtrDatClone != nullptr, "PtrDatClone != 0");
  PtrDatClone->MbrDyaRtpInputs = MbrDyaRtpInputs;
  PtrDatClone->MbrDyaRtpOutputs = MbrDyaRtpOutputs;
  PtrDatClone->MbrDyaLabels = MbrDyaLabels;
  PtrDatClone->MbrNdxDataRows = MbrNdxDataRows;
  PtrDatClone->MbrNdxFirstRow = MbrNdxFirstRow;
  PtrDatClone->MbrNdxLastRow = MbrNdxLastRow;
  PtrDatClone->MbrLngChanges = MbrLngChanges;
  PtrDatClone->MbrNdxCurrentRow = MbrNdxCurrentRow;
  PtrDatClone->MbrDyaInputSelection = MbrDyaInputSelection;
  PtrDatClone->MbrLngInputSelection = MbrLngInputSelection;
  PtrDatClone->MbrDyaOutputSelection = MbrDyaOutputSelection;
  PtrDatClone->MbrLngOutputSelection = MbrLngOutputSelection;
  return PtrDatClone;
}

void Data::SetSelection(int nIn, const int* inCols, int nOut, const int* outCols) {
  auto in = CheckedSelection(nIn, inCols, MbrLngInputs);
  auto out = CheckedSelection(nOut, outCols, MbrLngOutputs);
  MbrDyaInputSelection = std::move(in);
  MbrLngInputSelection = MbrDyaInputSelection ? static_cast<int>(MbrDyaInputSelection->size()) : 0;
  MbrDyaOutputSelection = std::move(out);
  MbrLngOutputSelection =
      MbrDyaOutputSelection ? static_cast<int>(MbrDyaOutputSelection->size()) : 0;
}

void Data::SetInputSelection(int n, const int* cols) {
  MbrDyaInputSelection = CheckedSelection(n, cols, MbrLngInputs);
  MbrLngInputSelection = MbrDyaInputSelection ? static_cast<int>(MbrDyaInputSelection->size()) : 0;
}

std::vector<int> Data::GetInputSelection() const {
  return MbrDyaInputSelection ? *MbrDyaInputSelection : std::vector<int>();
}

}  // namespace kartlo
