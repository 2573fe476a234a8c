#include "DataObject/Data.h"

#include "KQmessage/Assert.h"
#include "KQmessage/TException.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <utility>

namespace {

constexpr const char* kBadParameter = "Bad Parameter";
constexpr const char* kInvalidRow = "Invalid Data Row";
constexpr const char* kInvalidInputColumn = "Invalid Input Data Column";
constexpr const char* kInvalidOutputColumn = "Invalid Output Data Column";

[[noreturn]] void Refuse(const char* message, const char* origin) {
  throw TException(message, kBadParameter, origin, nullptr);
}

// Makes `rows` rows of `columns` zeros in one block and points one row pointer
// at each. The size is computed in 64 bits; a block beyond what a vector can
// hold is reported like any other failed allocation.
void AllocateGroup(std::int32_t rows, std::int32_t columns, std::vector<double>& block,
                   std::vector<double*>& rowPointers) {
  if (columns <= 0 || rows <= 0) return;
  const std::size_t width = static_cast<std::size_t>(columns);
  const std::size_t total = static_cast<std::size_t>(rows) * width;
  if (total > block.max_size()) throw std::bad_alloc();
  block.assign(total, 0.0);
  rowPointers.resize(static_cast<std::size_t>(rows));
  double* start = block.data();
  for (std::size_t r = 0; r < rowPointers.size(); ++r) rowPointers[r] = start + r * width;
}

// Copies the selected columns of one row, in selection order.
void CopySelected(const double* row, const std::vector<int>& selection, double* out) {
  for (std::size_t i = 0; i < selection.size(); ++i) out[i] = row[selection[i]];
}

bool AllWithin(std::int32_t count, const int* columns, std::int32_t limit) {
  for (std::int32_t i = 0; i < count; ++i) {
    if (columns[i] < 0 || columns[i] >= limit) return false;
  }
  return true;
}

// A selection given as (count, numbers); no numbers or no count is no selection.
std::vector<int> SelectionOf(std::int32_t count, const int* columns) {
  if (count <= 0 || columns == nullptr) return {};
  return std::vector<int>(columns, columns + count);
}

}  // namespace

Data::Data(std::int32_t rows, std::int32_t inputs, std::int32_t outputs, bool hasLabels)
    : MbrNdxRows(std::max(rows, 0)),
      MbrNdxInputs(std::max(inputs, 0)),
      MbrNdxOutputs(std::max(outputs, 0)),
      MbrHasLabels(hasLabels) {
  AllocateGroup(MbrNdxRows, MbrNdxInputs, MbrInputBlock, MbrDyaRtpInputs);
  AllocateGroup(MbrNdxRows, MbrNdxOutputs, MbrOutputBlock, MbrDyaRtpOutputs);
  if (MbrHasLabels) MbrDyaLabels.resize(static_cast<std::size_t>(MbrNdxRows));
}

Data::~Data() = default;

std::unique_ptr<Data> Data::Clone() const {
  auto clone = std::make_unique<Data>(MbrNdxRows, MbrNdxInputs, MbrNdxOutputs, MbrHasLabels);
  for (std::int32_t r = 0; r < MbrNdxRows; ++r) {
    if (MbrNdxInputs > 0) std::copy_n(MbrDyaRtpInputs[r], MbrNdxInputs, clone->MbrDyaRtpInputs[r]);
    if (MbrNdxOutputs > 0) {
      std::copy_n(MbrDyaRtpOutputs[r], MbrNdxOutputs, clone->MbrDyaRtpOutputs[r]);
    }
  }
  clone->MbrDyaLabels = MbrDyaLabels;
  clone->MbrNdxDataRows = MbrNdxDataRows;
  clone->MbrNdxFirstRow = MbrNdxFirstRow;
  clone->MbrNdxLastRow = MbrNdxLastRow;
  clone->MbrNdxChanges = MbrNdxChanges;
  clone->MbrNdxCurrentRow = MbrNdxCurrentRow;
  clone->MbrNdxInputSelection = MbrNdxInputSelection;
  clone->MbrDyaInputSelection = MbrDyaInputSelection;
  clone->MbrNdxOutputSelection = MbrNdxOutputSelection;
  clone->MbrDyaOutputSelection = MbrDyaOutputSelection;
  return clone;
}

void Data::CountChange() noexcept {
  // Two's-complement wrap instead of signed overflow.
  MbrNdxChanges = static_cast<std::int32_t>(static_cast<std::uint32_t>(MbrNdxChanges) + 1u);
}

// ---- single values ----

void Data::GetInputDatum(std::int32_t row, std::int32_t column, double& value) const {
  if (!IsValidRow(row)) Refuse(kInvalidRow, "Data::GetInputDatum");
  if (column < 0 || column >= MbrNdxInputs) Refuse(kInvalidInputColumn, "Data::GetInputDatum");
  value = MbrDyaRtpInputs[row][column];
}

void Data::GetOutputDatum(std::int32_t row, std::int32_t column, double& value) const {
  if (!IsValidRow(row)) Refuse(kInvalidRow, "Data::GetOutputDatum");
  if (column < 0 || column >= MbrNdxOutputs) Refuse(kInvalidOutputColumn, "Data::GetOutputDatum");
  value = MbrDyaRtpOutputs[row][column];
}

void Data::SetInputDatum(std::int32_t row, std::int32_t column, double value) {
  if (!IsValidRow(row)) Refuse(kInvalidRow, "Data::SetInputDatum");
  if (column < 0 || column >= MbrNdxInputs) Refuse(kInvalidInputColumn, "Data::SetInputDatum");
  MbrDyaRtpInputs[row][column] = value;
  CountChange();
}

void Data::SetOutputDatum(std::int32_t row, std::int32_t column, double value) {
  if (!IsValidRow(row)) Refuse(kInvalidRow, "Data::SetOutputDatum");
  if (column < 0 || column >= MbrNdxOutputs) Refuse(kInvalidOutputColumn, "Data::SetOutputDatum");
  MbrDyaRtpOutputs[row][column] = value;
  CountChange();
}

// ---- whole rows ----

void Data::GetInputRow(std::int32_t row, double* values) const {
  if (!IsValidRow(row)) Refuse(kInvalidRow, "Data::GetInputRow");
  if (MbrNdxInputs > 0) std::copy_n(MbrDyaRtpInputs[row], MbrNdxInputs, values);
}

void Data::GetOutputRow(std::int32_t row, double* values) const {
  if (!IsValidRow(row)) Refuse(kInvalidRow, "Data::GetOutputRow");
  if (MbrNdxOutputs > 0) std::copy_n(MbrDyaRtpOutputs[row], MbrNdxOutputs, values);
}

void Data::GetInputRow(std::int32_t row, double* values, std::int32_t count, const int* columns) const {
  if (!IsValidRow(row)) Refuse(kInvalidRow, "Data::GetInputRow");
  if (!AllWithin(count, columns, MbrNdxInputs)) Refuse(kInvalidInputColumn, "Data::GetInputRow");
  for (std::int32_t i = 0; i < count; ++i) values[i] = MbrDyaRtpInputs[row][columns[i]];
}

void Data::GetOutputRow(std::int32_t row, double* values, std::int32_t count, const int* columns) const {
  if (!IsValidRow(row)) Refuse(kInvalidRow, "Data::GetOutputRow");
  if (!AllWithin(count, columns, MbrNdxOutputs)) Refuse(kInvalidOutputColumn, "Data::GetOutputRow");
  for (std::int32_t i = 0; i < count; ++i) values[i] = MbrDyaRtpOutputs[row][columns[i]];
}

void Data::SetRow(std::int32_t row, const double* inputs, const double* outputs, const TLabelList* labels) {
  if (!IsValidRow(row)) Refuse(kInvalidRow, "Data::SetRow");
  // Copy the list first: if that fails, the row is untouched (and a list taken
  // from this very row is still intact while it is copied).
  TLabelList newLabels;
  if (MbrHasLabels && labels != nullptr) newLabels = *labels;
  if (inputs != nullptr && MbrNdxInputs > 0) std::copy_n(inputs, MbrNdxInputs, MbrDyaRtpInputs[row]);
  if (outputs != nullptr && MbrNdxOutputs > 0) {
    std::copy_n(outputs, MbrNdxOutputs, MbrDyaRtpOutputs[row]);
  }
  if (MbrHasLabels) MbrDyaLabels[row] = std::move(newLabels);
  CountChange();
}

void Data::AddRow(const double* inputs, const double* outputs, const TLabelList* labels) {
  CountChange();
  if (MbrNdxDataRows == 0) {
    SetRow(0, inputs, outputs, labels);
    MbrNdxDataRows = 1;
  } else if (MbrNdxDataRows < MbrNdxRows) {
    SetRow(MbrNdxDataRows, inputs, outputs, labels);
    ++MbrNdxDataRows;
    MbrNdxLastRow = MbrNdxDataRows - 1;
  } else {
    // Full: the window moves on by one and the new row replaces the oldest.
    MAPSMITH_ASSERT(MbrNdxDataRows <= MbrNdxRows);
    const std::int32_t last = RingAfter(MbrNdxLastRow);
    SetRow(last, inputs, outputs, labels);
    MbrNdxLastRow = last;
    MbrNdxFirstRow = RingAfter(MbrNdxFirstRow);
  }
}

void Data::AddRows(const double* const* inputs, const double* const* outputs, std::int32_t count,
                   const TLabelList* labels) {
  for (std::int32_t i = 0; i < count; ++i) {
    AddRow(inputs != nullptr ? inputs[i] : nullptr, outputs != nullptr ? outputs[i] : nullptr,
           labels != nullptr ? &labels[i] : nullptr);
  }
}

void Data::GetBlock(double* const* inputs, double* const* outputs, std::int32_t first, std::int32_t last,
                    std::int32_t& count) const {
  if (!IsValidRow(first)) {
    count = 0;
    Refuse("Data Block Fault", "Data::GetBlock");
  }
  last = std::min(last, MbrNdxLastRow);
  std::int32_t copied = 0;
  for (std::int32_t r = first; r <= last; ++r, ++copied) {
    if (inputs != nullptr) GetInputRow(r, inputs[copied]);
    if (outputs != nullptr) GetOutputRow(r, outputs[copied]);
  }
  count = copied;
}

// ---- labels ----

TLabelList* Data::GetLabels(std::int32_t row) {
  if (!IsValidRow(row)) Refuse(kInvalidRow, "Data::GetLabels");
  return MbrHasLabels ? &MbrDyaLabels[row] : nullptr;
}

const TLabelList* Data::GetLabels(std::int32_t row) const {
  if (!IsValidRow(row)) Refuse(kInvalidRow, "Data::GetLabels");
  return MbrHasLabels ? &MbrDyaLabels[row] : nullptr;
}

void Data::SetLabels(std::int32_t row, const TLabelList* labels) {
  if (!IsValidRow(row)) Refuse(kInvalidRow, "Data::SetLabels");
  MAPSMITH_ASSERT(MbrHasLabels);
  if (labels != nullptr) {
    MbrDyaLabels[row] = *labels;
  } else {
    MbrDyaLabels[row].Clear();
  }
  CountChange();
}

void Data::ClearLabels(std::int32_t row) {
  if (!IsValidRow(row)) Refuse(kInvalidRow, "Data::ClearLabels");
  MAPSMITH_ASSERT(MbrHasLabels);
  MbrDyaLabels[row].Clear();
  CountChange();
}

void Data::AppendLabel(std::int32_t row, double weight, std::string_view name) {
  if (!IsValidRow(row)) Refuse(kInvalidRow, "Data::AppendLabel");
  MAPSMITH_ASSERT(MbrHasLabels);
  MbrDyaLabels[row].Add(name, weight);
  CountChange();
}

// ---- sequential reading ----

std::int32_t Data::RingAfter(std::int32_t row) const noexcept {
  return row >= MbrNdxRows - 1 ? 0 : row + 1;
}

// Cursor steps stay in the window: past the newest row comes the oldest, and
// before the oldest the newest.
std::int32_t Data::NextRow(std::int32_t row) const noexcept {
  return row == MbrNdxLastRow ? MbrNdxFirstRow : RingAfter(row);
}

std::int32_t Data::PreviousRow(std::int32_t row) const noexcept {
  if (row == MbrNdxFirstRow) return MbrNdxLastRow;
  return row <= 0 ? MbrNdxRows - 1 : row - 1;
}

void Data::CopyRow(std::int32_t row, double* inputs, double* outputs, const TLabelList** labels) const {
  const bool inputSelected = !MbrDyaInputSelection.empty();
  if (inputs != nullptr) {
    if (inputSelected) {
      CopySelected(MbrDyaRtpInputs[row], MbrDyaInputSelection, inputs);
    } else if (MbrNdxInputs > 0) {
      std::copy_n(MbrDyaRtpInputs[row], MbrNdxInputs, inputs);
    }
  }
  if (outputs != nullptr) {
    if (inputSelected && !MbrDyaOutputSelection.empty()) {
      CopySelected(MbrDyaRtpOutputs[row], MbrDyaOutputSelection, outputs);
    } else if (MbrNdxOutputs > 0) {
      std::copy_n(MbrDyaRtpOutputs[row], MbrNdxOutputs, outputs);
    }
  }
  if (labels != nullptr) *labels = MbrHasLabels ? &MbrDyaLabels[row] : nullptr;
}

void Data::GetCurrentRow(double* inputs, double* outputs, const TLabelList** labels) const {
  if (!IsValidRow(MbrNdxCurrentRow)) Refuse(kInvalidRow, "Data::GetCurrentRow");
  CopyRow(MbrNdxCurrentRow, inputs, outputs, labels);
}

void Data::GetNextRow(double* inputs, double* outputs, const TLabelList** labels) {
  const std::int32_t row = NextRow(MbrNdxCurrentRow);
  if (!IsValidRow(row)) Refuse(kInvalidRow, "Data::GetNextRow");
  MbrNdxCurrentRow = row;
  CopyRow(row, inputs, outputs, labels);
}

void Data::GetPreviousRow(double* inputs, double* outputs) {
  const std::int32_t row = PreviousRow(MbrNdxCurrentRow);
  if (!IsValidRow(row)) Refuse(kInvalidRow, "Data::GetPreviousRow");
  MbrNdxCurrentRow = row;
  CopyRow(row, inputs, outputs, nullptr);
}

// ---- selections ----

void Data::SetInputSelection(std::int32_t count, const int* columns) {
  std::vector<int> selection = SelectionOf(count, columns);
  if (!AllWithin(static_cast<std::int32_t>(selection.size()), selection.data(), MbrNdxInputs)) {
    Refuse(kInvalidInputColumn, "Data::SetInputSelection");
  }
  MbrDyaInputSelection = std::move(selection);
  MbrNdxInputSelection = static_cast<std::int32_t>(MbrDyaInputSelection.size());
}

void Data::SetSelections(std::int32_t inputCount, const int* inputColumns, std::int32_t outputCount,
                         const int* outputColumns) {
  std::vector<int> inputSelection = SelectionOf(inputCount, inputColumns);
  std::vector<int> outputSelection = SelectionOf(outputCount, outputColumns);
  if (!AllWithin(static_cast<std::int32_t>(inputSelection.size()), inputSelection.data(), MbrNdxInputs)) {
    Refuse(kInvalidInputColumn, "Data::SetSelections");
  }
  if (!AllWithin(static_cast<std::int32_t>(outputSelection.size()), outputSelection.data(),
                 MbrNdxOutputs)) {
    Refuse(kInvalidOutputColumn, "Data::SetSelections");
  }
  MbrDyaInputSelection = std::move(inputSelection);
  MbrNdxInputSelection = static_cast<std::int32_t>(MbrDyaInputSelection.size());
  MbrDyaOutputSelection = std::move(outputSelection);
  MbrNdxOutputSelection = static_cast<std::int32_t>(MbrDyaOutputSelection.size());
}
