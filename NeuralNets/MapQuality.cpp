#include "NeuralNets/MapQuality.h"

#include <algorithm>

#include "NeuralNets/TrainingBlocks.h"

namespace {

constexpr const char* kOrigin = "MeasureMapQuality";

// Block by block, the block sums added in block order, as training measures.
TMapQuality Measure(TKohonenNetwork& map, const TRowSource& source, bool torus) {
  TPreparedMap prepared(map);
  const TMapGrid grid(map, torus);
  const std::vector<double> mean = RowMean(source);
  const TWinnerScreen screen(prepared, mean.data());
  std::vector<double> scratch;
  TScreenScratch screenScratch;
  TQualitySums total;
  const long long count = source.Count();
  for (long long first = 0; first < count; first += kTrainingBlockRows) {
    const long long rows = std::min(kTrainingBlockRows, count - first);
    AddQualitySums(total, BlockQuality(prepared, grid, source.rows.data() + first, rows, scratch, &screen,
                                       &screenScratch));
  }
  return QualityOf(total);
}

}  // namespace

TMapQuality MeasureMapQuality(TKohonenNetwork& map, Data& data, bool torus) {
  CheckMapForRuns(map, kOrigin);
  const TRowSource source = CollectRows(data, map.layers[1]->numNeurons, kOrigin);
  return Measure(map, source, torus);
}

TMapQuality MeasureMapQuality(TKohonenNetwork& map, const double* rows, long long count, bool torus) {
  CheckMapForRuns(map, kOrigin);
  const TRowSource source = CollectRows(rows, count, map.layers[1]->numNeurons, kOrigin);
  return Measure(map, source, torus);
}
