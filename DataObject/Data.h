// Data sets: a fixed number of rows, each with input values, output values and
// (optionally) a label list, stored as a ring. Rows are added at the end of the
// window; once the storage is full each new row replaces the oldest. A cursor
// walks the window for sequential reading.
//
// Every access by row number is checked against the storage and refused with a
// TException (kind "Bad Parameter", origin "Data::<operation>"); the row is
// checked before the column. A refused operation changes nothing, except the
// change counter that AddRow has already increased and the out count that
// GetBlock sets to 0.
//
// Contracts for callers:
// - Arrays passed in are long enough for the column counts (or the count given).
// - SetLabels, ClearLabels and AppendLabel need a set with labels.
// - Pointers returned by GetLabels, and the row pointers in MbrDyaRtpInputs /
//   MbrDyaRtpOutputs, stay owned by the data set and live as long as it does.
// - A count of rows or columns below 0 is taken as 0. A storage that cannot be
//   allocated is reported by std::bad_alloc.
#pragma once

#include "DataObject/Labels.h"
#include "KQmessage/TException.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

class Data {
 public:
  Data(std::int32_t rows, std::int32_t inputs, std::int32_t outputs, bool hasLabels);
  virtual ~Data();

  // Row pointers point into this object's own storage: copy with Clone.
  Data(const Data&) = delete;
  Data& operator=(const Data&) = delete;

  // A deep copy: every row of the storage, the window, the cursor, the change
  // counter and the selections. The caller owns it.
  std::unique_ptr<Data> Clone() const;

  // A row is valid when it lies within the storage, whatever the window holds.
  bool IsValidRow(std::int32_t row) const noexcept { return row >= 0 && row < MbrNdxRows; }
  std::int32_t GetNumRows() const noexcept { return MbrNdxRows; }
  std::int32_t GetNumInputs() const noexcept { return MbrNdxInputs; }
  std::int32_t GetNumOutputs() const noexcept { return MbrNdxOutputs; }

  // Single values.
  void GetInputDatum(std::int32_t row, std::int32_t column, double& value) const;
  void GetOutputDatum(std::int32_t row, std::int32_t column, double& value) const;
  void SetInputDatum(std::int32_t row, std::int32_t column, double value);
  void SetOutputDatum(std::int32_t row, std::int32_t column, double value);

  // Whole rows. The column forms copy `count` values, the i-th from column
  // columns[i]; a column outside the row is refused like a bad datum column.
  void GetInputRow(std::int32_t row, double* values) const;
  void GetOutputRow(std::int32_t row, double* values) const;
  void GetInputRow(std::int32_t row, double* values, std::int32_t count, const int* columns) const;
  void GetOutputRow(std::int32_t row, double* values, std::int32_t count, const int* columns) const;

  // Writes a row in place. Null inputs/outputs leave those values as they are;
  // on a set with labels a null list empties the row's labels (on a set
  // without labels the list is ignored).
  void SetRow(std::int32_t row, const double* inputs, const double* outputs, const TLabelList* labels);
  // Adds a row at the end of the window, overwriting the oldest row once the
  // storage is full. A set without storage rows refuses it (from SetRow).
  void AddRow(const double* inputs, const double* outputs, const TLabelList* labels);
  // AddRow for each i in 0..count-1. Any of the three arrays may be null; then
  // every row gets null for it. `labels`, when given, holds `count` lists.
  void AddRows(const double* const* inputs, const double* const* outputs, std::int32_t count,
               const TLabelList* labels);
  // Copies rows first..last (last clamped to MbrNdxLastRow) in increasing row
  // number into inputs[k] / outputs[k], k from 0; `count` receives the number
  // of rows copied. On a wrapped window this is not window order: a block that
  // starts after MbrNdxLastRow is empty. Null outer arrays are skipped.
  void GetBlock(double* const* inputs, double* const* outputs, std::int32_t first, std::int32_t last,
                std::int32_t& count) const;

  // Labels. GetLabels gives the row's own list, or null on a set without labels.
  TLabelList* GetLabels(std::int32_t row);
  const TLabelList* GetLabels(std::int32_t row) const;
  void SetLabels(std::int32_t row, const TLabelList* labels);  // null empties the list
  void ClearLabels(std::int32_t row);
  void AppendLabel(std::int32_t row, double weight, std::string_view name);

  // Sequential reading. After Rewind, GetNextRow returns the oldest row of the
  // window and then each newer one, starting again at the oldest after the
  // newest. Without an input selection all inputs and outputs are copied; with
  // one, the selected input columns in selection order, and the selected output
  // columns when an output selection is present too (else all outputs). Null
  // arrays are not written; `labels`, when given, receives GetLabels of the row.
  // A cursor that is not on a valid row (a set without storage rows) is refused.
  void Rewind() noexcept { MbrNdxCurrentRow = MbrNdxLastRow; }
  void GetCurrentRow(double* inputs, double* outputs, const TLabelList** labels) const;
  virtual void GetNextRow(double* inputs, double* outputs, const TLabelList** labels);
  void GetPreviousRow(double* inputs, double* outputs);

  // Selections of the columns that sequential reads return. An empty selection
  // (count 0) is no selection: all columns. Column numbers outside the row are
  // refused and leave the selections unchanged.
  void SetInputSelection(std::int32_t count, const int* columns);
  std::vector<int> GetInputSelection() const { return MbrDyaInputSelection; }
  void SetSelections(std::int32_t inputCount, const int* inputColumns, std::int32_t outputCount,
                     const int* outputColumns);

  // Row pointers into one contiguous block per column group; empty when the
  // group has no columns.
  std::vector<double*> MbrDyaRtpInputs;
  std::vector<double*> MbrDyaRtpOutputs;
  std::vector<TLabelList> MbrDyaLabels;  // one list per row; empty without labels
  std::int32_t MbrNdxRows = 0;           // storage rows, fixed at construction
  std::int32_t MbrNdxDataRows = 0;       // rows added so far, at most MbrNdxRows
  std::int32_t MbrNdxInputs = 0;
  std::int32_t MbrNdxOutputs = 0;
  bool MbrHasLabels = false;
  std::int32_t MbrNdxFirstRow = 0;  // oldest row of the window
  std::int32_t MbrNdxLastRow = 0;   // newest row of the window
  // Increased by every change of values, labels or rows; wraps around (never
  // overflows) so that "changed since" comparisons keep working.
  std::int32_t MbrNdxChanges = 0;
  std::int32_t MbrNdxCurrentRow = 0;      // the cursor
  std::int32_t MbrNdxInputSelection = 0;  // entries in MbrDyaInputSelection
  std::vector<int> MbrDyaInputSelection;
  std::int32_t MbrNdxOutputSelection = 0;  // entries in MbrDyaOutputSelection
  std::vector<int> MbrDyaOutputSelection;

 private:
  void CountChange() noexcept;
  void CopyRow(std::int32_t row, double* inputs, double* outputs, const TLabelList** labels) const;
  std::int32_t RingAfter(std::int32_t row) const noexcept;  // row + 1, Rows-1 followed by 0
  std::int32_t NextRow(std::int32_t row) const noexcept;
  std::int32_t PreviousRow(std::int32_t row) const noexcept;

  std::vector<double> MbrInputBlock;  // MbrNdxRows x MbrNdxInputs values, row-major
  std::vector<double> MbrOutputBlock;
};
