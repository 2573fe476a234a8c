// The Kohonen map's runs over data sets: reconstruction, quantisation error,
// labelled maps, winner coordinates, and the labelling of rows by a labelled
// map.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "DataObject/Data.h"
#include "KQmessage/Assert.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "NeuralNets/TPreparedMap.h"
#include "NeuralNets/WinnerWalk.h"

namespace {

constexpr std::nullptr_t nil = nullptr;

// Room for what GetNextRow writes into an input (output) array of `data`, and
// at least `least`: a set with more columns than the run needs, or with a
// selection, must not write past the run's buffers. Columns a set lacks stay
// 0.0.
std::size_t InputRoom(const Data& data, int least) {
  return static_cast<std::size_t>(std::max({least, data.MbrNdxInputs, data.MbrNdxInputSelection, 1}));
}
std::size_t OutputRoom(const Data& data, int least) {
  return static_cast<std::size_t>(
      std::max({least, data.MbrNdxOutputs, data.MbrNdxOutputSelection, 1}));
}

// Truncates a coordinate toward zero; false when it has no int value.
bool TruncateCoordinate(double value, int& out) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return false;
  out = static_cast<int>(value);
  return true;
}

}  // namespace

std::unique_ptr<Data> TKohonenNetwork::ReconstructData(Data* in) {
  MAPSMITH_ASSERT(in != nil);
  TPreparedMap map(*this);
  const int n = map.NumInputs();
  auto result = std::make_unique<Data>(in->MbrNdxRows, n, n, false);
  std::vector<double> y(static_cast<std::size_t>(std::max(n, 1)));
  WalkWinners(map, *in, false, n, [&](const double* x, const TLabelList*, int winner) {
    map.CopyWeights(winner, y.data());
    result->AddRow(x, y.data(), nullptr);
  });
  return result;
}

double TKohonenNetwork::MeasureError(Data* in, TErrorObj* err) {
  MAPSMITH_ASSERT(in != nil);
  MAPSMITH_ASSERT(err != nil);
  TPreparedMap map(*this);
  const int n = map.NumInputs();
  // The measure reads numOutputs values of both rows; beyond n they are 0.0.
  const int least = std::max(n, err->numOutputs);
  std::vector<double> y(static_cast<std::size_t>(std::max(least, 1)), 0.0);
  WalkWinners(map, *in, false, least, [&](const double* x, const TLabelList*, int winner) {
    map.CopyWeights(winner, y.data());
    err->Accumulate(x, y.data());
  });
  return err->GetError();
}

std::unique_ptr<Data> TKohonenNetwork::LabelMap(Data* in, std::unique_ptr<TKQstructure> message) {
  message.reset();
  MAPSMITH_ASSERT(in != nil);
  const int d = numDimensions;
  std::vector<int> sizes(static_cast<std::size_t>(std::max(d, 1)), 0);
  GetDimensions(sizes.data());
  TPreparedMap map(*this);
  const int u = map.NumNeurons();
  std::vector<TLabelList> lists(static_cast<std::size_t>(u));
  WalkWinners(map, *in, true, 0, [&](const double*, const TLabelList* labels, int winner) {
    // A row without labels has no first label to add; it is still mapped.
    if (labels != nullptr && labels->count() > 0)
      lists[winner].Add(labels->labels[0].name, labels->labels[0].value);
  });

  auto result = std::make_unique<Data>(u, d, 0, true);
  std::vector<int> coords(static_cast<std::size_t>(std::max(d, 1)), 0);
  std::vector<double> reals(coords.size(), 0.0);
  // The coordinates run through the grid like an odometer, last one fastest.
  // The walk also stops after u rows, should the sizes not multiply to u.
  for (int k = 0; k < u; ++k) {
    if (d > 0 && coords[0] >= sizes[0]) break;
    for (int c = 0; c < d; ++c) reals[c] = coords[c];
    result->AddRow(reals.data(), nullptr, &lists[k]);
    if (d == 0) continue;
    int c = d - 1;
    ++coords[c];
    while (c > 0 && coords[c] >= sizes[c]) {
      coords[c] = 0;
      --c;
      ++coords[c];
    }
  }
  return result;
}

std::unique_ptr<Data> TKohonenNetwork::WinnerCoordinates(Data* in,
                                                         std::unique_ptr<TKQstructure> message) {
  message.reset();
  MAPSMITH_ASSERT(in != nil);
  TPreparedMap map(*this);
  const int n = map.NumInputs();
  const int d = numDimensions;
  auto result = std::make_unique<Data>(in->MbrNdxRows, n, d, false);
  std::vector<int> coords(static_cast<std::size_t>(std::max(d, 1)), 0);
  std::vector<double> reals(coords.size(), 0.0);
  WalkWinners(map, *in, false, n, [&](const double* x, const TLabelList*, int winner) {
    IndexToCoords(coords.data(), winner);
    for (int c = 0; c < d; ++c) reals[c] = coords[c];
    result->AddRow(x, reals.data(), nullptr);
  });
  return result;
}

std::unique_ptr<Data> LabelRows(Data* rows, Data* Map) {
  MAPSMITH_ASSERT(rows != nil);
  MAPSMITH_ASSERT(Map != nil);
  const int dimnumber = Map->GetNumInputs();
  std::vector<int> sizes(static_cast<std::size_t>(std::max(dimnumber, 1)), 0);
  GetMapSizes(Map, sizes.data());
  const int dimnum = rows->GetNumOutputs();
  MAPSMITH_ASSERT(Map -> GetNumInputs() == dimnum);
  MAPSMITH_ASSERT(dimnum == dimnumber);

  auto result = std::make_unique<Data>(rows->MbrNdxRows, 0, 0, true);
  std::vector<double> inputs(InputRoom(*rows, 0), 0.0);
  std::vector<double> coordinates(OutputRoom(*rows, dimnum), 0.0);
  std::vector<int> coords(static_cast<std::size_t>(std::max(dimnum, 1)), 0);
  rows->Rewind();
  Map->Rewind();
  for (std::int32_t k = 0; k < rows->MbrNdxRows; ++k) {
    rows->GetNextRow(inputs.data(), coordinates.data(), nullptr);
    // The neuron number of the coordinates, which is the map's row number. A
    // coordinate or a number outside the int range names no row (-1), and the
    // map refuses it.
    bool valid = true;
    for (int c = 0; c < dimnum && valid; ++c) valid = TruncateCoordinate(coordinates[c], coords[c]);
    std::int64_t index = 0;
    if (valid && dimnum > 0) {
      index = coords[0];
      for (int c = 1; c < dimnum && valid; ++c) {
        index = index * sizes[c] + coords[c];
        valid = index >= INT32_MIN && index <= INT32_MAX;
      }
    }
    const TLabelList* labels = Map->GetLabels(valid ? static_cast<std::int32_t>(index) : -1);
    result->AddRow(inputs.data(), coordinates.data(), labels);
  }
  return result;
}

void GetMapSizes(const Data* Map, int* sizes) {
  MAPSMITH_ASSERT(Map != nil);
  const int d = Map->GetNumInputs();
  if (d <= 0) return;
  const std::int32_t rows = Map->MbrNdxRows;
  // Coordinate column c first turns non-zero at the row whose number is the
  // product of the sizes after c; stepping through the rows in strides of the
  // sizes already found counts the size of dimension c + 1. A column that
  // stays 0.0 over the whole map belongs to a dimension of size 1, and the
  // column before it measures the same dimension instead.
  std::int64_t stride = 1;
  int target = d - 1;  // the dimension whose size the next scan finds
  for (int c = d - 2; c >= 0; --c) {
    int steps = 0;
    std::int64_t found = -1;
    for (std::int64_t row = stride; row < rows; row += stride) {
      ++steps;
      double value = 0.0;
      Map->GetInputDatum(static_cast<std::int32_t>(row), c, value);
      if (value != 0.0) {
        found = row;
        break;
      }
    }
    if (found < 0) {
      sizes[c] = 1;
      continue;
    }
    sizes[target] = steps;
    stride = found;
    target = c;
  }
  sizes[target] = static_cast<int>(rows / stride);
}
