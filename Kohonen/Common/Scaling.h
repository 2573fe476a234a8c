// Rescaling the input columns of a data set, and the scale file that keeps
// the factors so that data handled later is scaled as the first data was.
//
// Each input column c is scaled as value' = (value - offset[c]) / divisor[c]:
// - zscore: offset the column's mean, divisor its standard deviation (the
//   root of the mean squared deviation, dividing by the number of rows), so
//   the column gets mean 0 and standard deviation 1;
// - range: offset the column's minimum, divisor its maximum minus minimum,
//   so the column spans [0, 1].
// A constant column (every value equal) keeps offset 0 and divisor 1, so it
// stays as it is. The factors are rounded to 15 significant digits when they
// are computed: a scale file holds them exactly, and applying a saved file to
// the same data gives the same bits as the first scaling.
//
// The scale file is a data set file with one row per input column, two
// inputs (offset, divisor) and a label naming how the row was made: "zscore",
// "range" or "constant". For example, for two columns:
//   [Data]
//   5.84333333333333 0.825301291785141   [zscore ]
//   3 1   [constant ]
//   [~Data]
//
// Failures throw FileTools::Error with a message naming the column (from 1)
// and, when applying, the row (from 1).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "DataObject/Data.h"

namespace mapsmith {

enum class ScaleMethod { ZScore, Range };

struct ScaleFactors {
  std::vector<double> offsets;
  std::vector<double> divisors;
  std::vector<std::string> kinds;  // "zscore", "range" or "constant", one per column

  std::size_t Columns() const { return offsets.size(); }
  // The columns (from 1) left as they are.
  std::vector<std::int32_t> ConstantColumns() const;
};

// The factors that scale every input column of `data` (all its storage rows)
// by `method`. Refuses a set without rows, and a column whose spread does not
// fit a double.
ScaleFactors ComputeScaling(const Data& data, ScaleMethod method);

// Scales the input columns of `data` in place. Refuses factors for another
// number of columns, and a scaled value that is not finite (nothing is
// changed then).
void ApplyScaling(Data& data, const ScaleFactors& factors);

// "columns 2, 5 are constant and left as they are" (one column: "column 2
// is ..."); empty when no column is constant.
std::string ConstantColumnsNote(const ScaleFactors& factors);

void WriteScaleFile(std::ostream& out, const ScaleFactors& factors);
// Refuses a file that is not a scale file, or holds a divisor of 0 or a
// number that is not finite.
ScaleFactors ReadScaleFile(std::istream& in);

}  // namespace mapsmith
