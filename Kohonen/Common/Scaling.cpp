#include "Kohonen/Common/Scaling.h"

#include <charconv>
#include <cmath>
#include <istream>
#include <memory>
#include <ostream>

#include "FileHandler/Filer.h"
#include "FileHandler/ParseTools.h"
#include "Kohonen/Common/TextInput.h"

namespace mapsmith {

namespace {

// The double that the 15-digit text of `value` reads back as.
double RoundTo15Digits(double value) {
  char buffer[FileTools::GeneralNumberSize];
  const std::string_view text = FileTools::FormatGeneral(value, buffer);
  double result = value;
  std::from_chars(text.data(), text.data() + text.size(), result);
  return result;
}

}  // namespace

std::vector<std::int32_t> ScaleFactors::ConstantColumns() const {
  std::vector<std::int32_t> columns;
  for (std::size_t c = 0; c < kinds.size(); ++c)
    if (kinds[c] == "constant") columns.push_back(static_cast<std::int32_t>(c + 1));
  return columns;
}

ScaleFactors ComputeScaling(const Data& data, ScaleMethod method) {
  const std::int32_t rows = data.MbrNdxRows;
  const std::int32_t columns = std::max(data.MbrNdxInputs, 0);
  if (rows <= 0) ThrowFileError("there are no rows to compute the scaling from");
  ScaleFactors factors;
  for (std::int32_t c = 0; c < columns; ++c) {
    double low = data.MbrDyaRtpInputs[0][c];
    double high = low;
    long double sum = 0.0L;
    for (std::int32_t r = 0; r < rows; ++r) {
      const double v = data.MbrDyaRtpInputs[r][c];
      if (!std::isfinite(v))
        ThrowFileError("row " + std::to_string(r + 1) + ", column " + std::to_string(c + 1) +
                       ": the value is not finite");
      low = std::min(low, v);
      high = std::max(high, v);
      sum += v;
    }
    double offset = 0.0;
    double divisor = 1.0;
    std::string kind = "constant";
    if (low != high) {
      if (method == ScaleMethod::Range) {
        offset = low;
        divisor = high - low;
        kind = "range";
      } else {
        const long double mean = sum / rows;
        long double squares = 0.0L;
        for (std::int32_t r = 0; r < rows; ++r) {
          const long double d = data.MbrDyaRtpInputs[r][c] - mean;
          squares += d * d;
        }
        offset = static_cast<double>(mean);
        divisor = static_cast<double>(std::sqrt(squares / rows));
        kind = "zscore";
      }
      if (!std::isfinite(divisor) || divisor == 0.0)
        ThrowFileError("column " + std::to_string(c + 1) + ": the spread of the values is too large to scale");
      offset = RoundTo15Digits(offset);
      divisor = RoundTo15Digits(divisor);
    }
    factors.offsets.push_back(offset);
    factors.divisors.push_back(divisor);
    factors.kinds.push_back(kind);
  }
  return factors;
}

void ApplyScaling(Data& data, const ScaleFactors& factors) {
  const std::int32_t columns = std::max(data.MbrNdxInputs, 0);
  if (factors.Columns() != static_cast<std::size_t>(columns))
    ThrowFileError("the scale file holds factors for " + std::to_string(factors.Columns()) + " columns; the data has " +
                   std::to_string(columns));
  // Checked before anything changes, so a refusal leaves the data whole.
  for (std::int32_t r = 0; r < data.MbrNdxRows; ++r)
    for (std::int32_t c = 0; c < columns; ++c) {
      const double v = (data.MbrDyaRtpInputs[r][c] - factors.offsets[c]) / factors.divisors[c];
      if (!std::isfinite(v))
        ThrowFileError("row " + std::to_string(r + 1) + ", column " + std::to_string(c + 1) +
                       ": the scaled value is not finite");
    }
  for (std::int32_t r = 0; r < data.MbrNdxRows; ++r) {
    double* row = data.MbrDyaRtpInputs[r];
    for (std::int32_t c = 0; c < columns; ++c) row[c] = (row[c] - factors.offsets[c]) / factors.divisors[c];
  }
}

std::string ConstantColumnsNote(const ScaleFactors& factors) {
  const std::vector<std::int32_t> constant = factors.ConstantColumns();
  if (constant.empty()) return {};
  std::string list;
  for (std::size_t i = 0; i < constant.size(); ++i) {
    if (i > 0) list += ", ";
    list += std::to_string(constant[i]);
  }
  return constant.size() == 1 ? "column " + list + " is constant and left as it is"
                              : "columns " + list + " are constant and left as they are";
}

void WriteScaleFile(std::ostream& out, const ScaleFactors& factors) {
  const auto columns = static_cast<std::int32_t>(factors.Columns());
  Data table(columns, 2, 0, true);
  for (std::int32_t c = 0; c < columns; ++c) {
    const double row[2] = {factors.offsets[c], factors.divisors[c]};
    const TLabelList label(factors.kinds[c], 1.0);
    table.AddRow(row, nullptr, &label);
  }
  FileTools tools;
  if (WriteDataSetFile(tools, out, &table, nullptr) != SUCCESS) ThrowFileError("the scale file cannot be written");
}

ScaleFactors ReadScaleFile(std::istream& in) {
  FileTools tools;
  std::unique_ptr<Data> table;
  std::unique_ptr<Data> results;
  ReadDataSetFile(tools, in, table, results);
  if (table == nullptr || results != nullptr || table->MbrNdxInputs != 2 || table->MbrNdxOutputs != 0)
    ThrowFileError("not a scale file: it must hold one row per column with two numbers, offset and divisor");
  ScaleFactors factors;
  for (std::int32_t r = 0; r < table->MbrNdxRows; ++r) {
    const double offset = table->MbrDyaRtpInputs[r][0];
    const double divisor = table->MbrDyaRtpInputs[r][1];
    if (!std::isfinite(offset) || !std::isfinite(divisor) || divisor == 0.0)
      ThrowFileError("row " + std::to_string(r + 1) + ": the offset and divisor must be finite and the divisor not 0");
    factors.offsets.push_back(offset);
    factors.divisors.push_back(divisor);
    const TLabelList* labels = table->GetLabels(r);
    factors.kinds.push_back(labels != nullptr && labels->count() > 0 ? labels->labels[0].name : "");
  }
  return factors;
}

}  // namespace mapsmith
