#include "NeuralNets/TrainingBlocks.h"

#include <algorithm>
#include <cmath>
#include <typeinfo>

#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TKohonenNetwork.h"

void RefuseRun(const std::string& message, const char* origin) {
  throw TException(message.c_str(), "Bad Parameter", origin, nullptr);
}

void CheckMapForRuns(TKohonenNetwork& map, const char* origin) {
  if (map.numLayers < 3 || !map.layers[1] || !map.layers[2])
    RefuseRun("The map has no input or map layer", origin);
  const long long neurons = map.layers[2]->numNeurons;
  if (neurons <= 0) RefuseRun("The map has no neurons", origin);
  if (map.numDimensions < 1 || !map.dimensions) RefuseRun("The map has no grid dimensions", origin);
  long long product = 1;
  std::string sizes;
  bool valid = true;
  for (int k = 0; k < map.numDimensions; ++k) {
    const int size = map.dimensions[k];
    sizes += (k > 0 ? " x " : "") + std::to_string(size);
    if (size < 1 || product > neurons) valid = false;
    else product *= size;
  }
  if (!valid || product != neurons)
    RefuseRun("The map's grid sizes " + sizes + " do not multiply to its " + std::to_string(neurons) +
                  " neurons",
              origin);
  TBasicConnections* conns = map.GetConnections(1, 2);
  if (conns == nullptr || mapsmith::strcasecmp(conns->GetConnectionsNType(), "Empty") == 0)
    RefuseRun("The map has no weights from its inputs to its neurons", origin);
}

TMapGrid::TMapGrid(TKohonenNetwork& map, bool wrap)
    : dims(map.numDimensions), neurons(map.layers[2]->numNeurons), torus(wrap),
      sizes(map.dimensions.get(), map.dimensions.get() + map.numDimensions),
      coords(static_cast<std::size_t>(neurons) * dims) {
  for (int i = 0; i < neurons; ++i) map.IndexToCoords(coords.data() + static_cast<std::size_t>(i) * dims, i);
}

bool TMapGrid::Neighbours(int a, int b) const {
  if (a == b) return false;
  const int* ca = Coords(a);
  const int* cb = Coords(b);
  for (int k = 0; k < dims; ++k)
    if (Difference(k, ca[k], cb[k]) > 1) return false;
  return true;
}

long long TMapGrid::Distance2(int a, int b) const {
  const int* ca = Coords(a);
  const int* cb = Coords(b);
  long long d2 = 0;
  for (int k = 0; k < dims; ++k) {
    const long long d = Difference(k, ca[k], cb[k]);
    d2 += d * d;
  }
  return d2;
}

long long TMapGrid::MaxDistance2() const {
  long long d2 = 0;
  for (int k = 0; k < dims; ++k) {
    const long long d = torus ? sizes[k] / 2 : sizes[k] - 1;
    d2 += d * d;
  }
  return d2;
}

namespace {

// Whether the first n values of row are all finite.
bool Finite(const double* row, int n) {
  for (int j = 0; j < n; ++j)
    if (!std::isfinite(row[j])) return false;
  return true;
}

[[noreturn]] void RefuseRow(long long row, const char* origin) {
  RefuseRun("Row " + std::to_string(row + 1) + " of the data set holds NaN or infinity", origin);
}

}  // namespace

TRowSource CollectRows(Data& data, int numInputs, const char* origin) {
  const bool selected = !data.MbrDyaInputSelection.empty();
  const int columns = selected ? static_cast<int>(data.MbrDyaInputSelection.size()) : data.MbrNdxInputs;
  if (columns < numInputs)
    RefuseRun("The data set has " + std::to_string(columns) + " input columns, the map has " +
                  std::to_string(numInputs) + " inputs",
              origin);
  TRowSource source;
  source.numInputs = numInputs;
  const long long count = std::max<std::int32_t>(data.MbrNdxRows, 0);
  source.rows.resize(static_cast<std::size_t>(count));
  // A plain data set without a selection is read in place: the cursor names
  // the row each GetNextRow returns. Anything else is copied as GetNextRow
  // delivers it.
  const bool direct = typeid(data) == typeid(Data) && !selected;
  const std::size_t room = static_cast<std::size_t>(std::max(columns, 1));
  if (!direct) source.copy.assign(static_cast<std::size_t>(count) * room, 0.0);
  data.Rewind();
  for (long long r = 0; r < count; ++r) {
    const double* row;
    if (direct) {
      data.GetNextRow(nullptr, nullptr, nullptr);
      row = numInputs > 0 ? data.MbrDyaRtpInputs[data.MbrNdxCurrentRow] : source.copy.data();
    } else {
      double* x = source.copy.data() + static_cast<std::size_t>(r) * room;
      data.GetNextRow(x, nullptr, nullptr);
      row = x;
    }
    if (!Finite(row, numInputs)) RefuseRow(r, origin);
    source.rows[static_cast<std::size_t>(r)] = row;
  }
  return source;
}

TRowSource CollectRows(const double* rows, long long count, int numInputs, const char* origin) {
  TRowSource source;
  source.numInputs = numInputs;
  source.rows.resize(static_cast<std::size_t>(std::max(count, 0LL)));
  for (long long r = 0; r < count; ++r) {
    const double* row = rows + static_cast<std::size_t>(r) * numInputs;
    if (!Finite(row, numInputs)) RefuseRow(r, origin);
    source.rows[static_cast<std::size_t>(r)] = row;
  }
  return source;
}

TQualitySums BlockQuality(const TPreparedMap& map, const TMapGrid& grid, const double* const* rows,
                          long long count, std::vector<double>& scratch) {
  constexpr int kRows = TPreparedMap::kBlockRows;
  const std::size_t stride = map.Stride();
  if (scratch.size() < stride * kRows) scratch.resize(stride * kRows);
  const int u = map.NumNeurons();
  TQualitySums sums;
  for (long long first = 0; first < count; first += kRows) {
    const int k = static_cast<int>(std::min<long long>(kRows, count - first));
    map.BlockDistances(rows + first, k, scratch.data());
    for (int r = 0; r < k; ++r) {
      const double* d = scratch.data() + r * stride;
      TPreparedMap::Nearest nearest;
      for (int i = 0; i < u; ++i) nearest.Offer(i, d[i]);
      sums.distanceSum += std::sqrt(nearest.bestDistance);
      if (nearest.second >= 0 && !grid.Neighbours(nearest.best, nearest.second)) ++sums.topographicErrors;
    }
  }
  sums.rows = count;
  return sums;
}

void AddQualitySums(TQualitySums& total, const TQualitySums& block) {
  total.rows += block.rows;
  total.distanceSum += block.distanceSum;
  total.topographicErrors += block.topographicErrors;
}

TMapQuality QualityOf(const TQualitySums& total) {
  TMapQuality quality;
  quality.rows = total.rows;
  if (total.rows > 0) {
    quality.quantizationError = total.distanceSum / static_cast<double>(total.rows);
    quality.topographicError =
        static_cast<double>(total.topographicErrors) / static_cast<double>(total.rows);
  }
  return quality;
}
