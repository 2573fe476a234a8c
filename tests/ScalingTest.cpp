#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FileHandler/ParseTools.h"
#include "Kohonen/Common/Scaling.h"

using namespace mapsmith;

namespace {

// A set with the given columns (all of the same length) as inputs.
std::unique_ptr<Data> Columns(const std::vector<std::vector<double>>& columns) {
  const auto rows = static_cast<std::int32_t>(columns[0].size());
  auto data = std::make_unique<Data>(rows, static_cast<std::int32_t>(columns.size()), 0, false);
  std::vector<double> row(columns.size());
  for (std::int32_t r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < columns.size(); ++c) row[c] = columns[c][r];
    data->AddRow(row.data(), nullptr, nullptr);
  }
  return data;
}

std::vector<double> Column(const Data& data, int c) {
  std::vector<double> values;
  for (int r = 0; r < data.MbrNdxRows; ++r) values.push_back(data.MbrDyaRtpInputs[r][c]);
  return values;
}

template <class Work>
std::string Refusal(Work work) {
  try {
    work();
  } catch (const FileTools::Error& e) {
    return e.message;
  }
  return "(done)";
}

TEST(ScalingTest, ZscoreRangeAndConstantColumns) {
  auto data = Columns({{1, 2, 3, 4}, {2, 4, 6, 8}, {7, 7, 7, 7}});
  ScaleFactors z = ComputeScaling(*data, ScaleMethod::ZScore);
  EXPECT_EQ(z.kinds, (std::vector<std::string>{"zscore", "zscore", "constant"}));
  EXPECT_EQ(z.offsets[0], 2.5);
  EXPECT_EQ(z.divisors[0], 1.11803398874989);  // sqrt(1.25) to 15 digits
  EXPECT_EQ(z.divisors[1], 2.23606797749979);
  EXPECT_EQ(z.offsets[2], 0.0);
  EXPECT_EQ(z.divisors[2], 1.0);
  EXPECT_EQ(ConstantColumnsNote(z), "column 3 is constant and left as it is");
  ApplyScaling(*data, z);
  EXPECT_EQ(Column(*data, 0)[0], (1 - 2.5) / 1.11803398874989);
  EXPECT_EQ(Column(*data, 2), (std::vector<double>{7, 7, 7, 7}));

  data = Columns({{2, 6, 4}, {5, 5, 5}, {-1, -1, -1}});
  ScaleFactors range = ComputeScaling(*data, ScaleMethod::Range);
  ApplyScaling(*data, range);
  EXPECT_EQ(Column(*data, 0), (std::vector<double>{0, 1, 0.5}));
  EXPECT_EQ(ConstantColumnsNote(range), "columns 2, 3 are constant and left as they are");
  EXPECT_EQ(ConstantColumnsNote(ComputeScaling(*Columns({{1, 2}}), ScaleMethod::Range)), "");
}

TEST(ScalingTest, SavedFactorsScaleTheSameDataToTheSameBits) {
  auto first = Columns({{0.1, 0.7, 1.0 / 3.0, 12345.678}, {1e-5, 3e-5, 2e-5, 9e-5}});
  auto second = first->Clone();
  const ScaleFactors factors = ComputeScaling(*first, ScaleMethod::ZScore);
  ApplyScaling(*first, factors);

  std::ostringstream file;
  WriteScaleFile(file, factors);
  std::istringstream in(file.str());
  const ScaleFactors saved = ReadScaleFile(in);
  EXPECT_EQ(saved.kinds, factors.kinds);
  ApplyScaling(*second, saved);
  for (int r = 0; r < 4; ++r)
    EXPECT_EQ(std::memcmp(first->MbrDyaRtpInputs[r], second->MbrDyaRtpInputs[r], 2 * sizeof(double)), 0);

  ScaleFactors small;
  small.offsets = {5.84333333333333, 0};
  small.divisors = {0.825301291785141, 1};
  small.kinds = {"zscore", "constant"};
  std::ostringstream text;
  WriteScaleFile(text, small);
  EXPECT_EQ(text.str(),
            "[FormatVersion = 1.0]\n\n[DataSet]\n[Rows = 2]\n[Inputs = 2]\n[ExpectedOutputs = Labels]\n"
            "[GeneratedOutputs = 0]\n[Error = 0]\n\n[Data]\n5.84333333333333 0.825301291785141   [zscore ] \n"
            "0 1   [constant ] \n[~Data]\n\n[~DataSet]\n");
}

TEST(ScalingTest, Refusals) {
  auto data = Columns({{1, 2}, {3, 4}});
  ScaleFactors one;
  one.offsets = {0};
  one.divisors = {1};
  one.kinds = {"range"};
  EXPECT_EQ(Refusal([&] { ApplyScaling(*data, one); }), "the scale file holds factors for 1 columns; the data has 2");

  // A value that would not be finite: refused before anything changes.
  ScaleFactors tiny;
  tiny.offsets = {0, 0};
  tiny.divisors = {1, 1e-320};
  tiny.kinds = {"zscore", "zscore"};
  EXPECT_EQ(Refusal([&] { ApplyScaling(*data, tiny); }), "row 1, column 2: the scaled value is not finite");
  EXPECT_EQ(Column(*data, 0), (std::vector<double>{1, 2}));

  EXPECT_EQ(Refusal([&] { ComputeScaling(*Columns({{-1e308, 1e308}}), ScaleMethod::Range); }),
            "column 1: the spread of the values is too large to scale");
  EXPECT_EQ(Refusal([&] { ComputeScaling(*Columns({{1, NAN}}), ScaleMethod::ZScore); }),
            "row 2, column 1: the value is not finite");
  Data empty(0, 2, 0, false);
  EXPECT_EQ(Refusal([&] { ComputeScaling(empty, ScaleMethod::Range); }),
            "there are no rows to compute the scaling from");

  auto read = [](const std::string& text) {
    return Refusal([&] {
      std::istringstream in(text);
      ReadScaleFile(in);
    });
  };
  EXPECT_EQ(read("[DataSet] [Rows = 1] [Inputs = 3] [Data] 1 2 3 [~Data] [~DataSet]"),
            "not a scale file: it must hold one row per column with two numbers, offset and divisor");
  EXPECT_EQ(read("[DataSet] [Rows = 2] [Inputs = 2] [Data] 1 2 3 0 [~Data] [~DataSet]"),
            "row 2: the offset and divisor must be finite and the divisor not 0");
  EXPECT_EQ(read("[DataSet] [Rows = 1] [Inputs = 2] [Data] 1 [~Data] [~DataSet]"), "Token (number) expected");
}

}  // namespace
