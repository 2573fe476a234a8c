#include "Kohonen/View/MapPage.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>

#include "DataObject/Data.h"
#include "KQmessage/Assert.h"
#include "NeuralNets/MapPictures.h"
#include "NeuralNets/MapQuality.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace mapsmith {

namespace {

// The finite range of `values` (every stride-th from `first`); 0, 0 when
// none is finite.
void FiniteRange(const std::vector<double>& values, std::size_t first, std::size_t stride, double& low,
                 double& high) {
  bool any = false;
  low = high = 0.0;
  for (std::size_t i = first; i < values.size(); i += stride) {
    const double v = values[i];
    if (!std::isfinite(v)) continue;
    if (!any || v < low) low = v;
    if (!any || v > high) high = v;
    any = true;
  }
}

// The neuron drawn in each cell of the slice, row-major. A 1-D map is one
// row; otherwise dimension 0 runs down and dimension 1 across, the others
// held at their slice coordinates.
std::vector<std::size_t> SliceNeurons(const TKohonenNetwork& map, const std::vector<int>& slice, int& rows,
                                      int& columns) {
  const int d = map.numDimensions;
  rows = d >= 2 ? map.dimensions[0] : 1;
  columns = d >= 2 ? map.dimensions[1] : map.dimensions[0];
  // The neuron number of (r, c, slice...) is base + (r * s1 + c) * tail, where
  // tail is the product of the sizes after the first two and base the
  // row-major offset of the slice coordinates among those dimensions.
  std::size_t tail = 1;
  std::size_t base = 0;
  for (int k = 2; k < d; ++k) {
    const int at = k < static_cast<int>(slice.size()) ? slice[static_cast<std::size_t>(k)] : 0;
    MAPSMITH_ASSERT(at >= 0 && at < map.dimensions[k]);
    tail *= static_cast<std::size_t>(map.dimensions[k]);
    base = base * static_cast<std::size_t>(map.dimensions[k]) + static_cast<std::size_t>(at);
  }
  std::vector<std::size_t> neurons;
  neurons.reserve(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c)
      neurons.push_back(base + (static_cast<std::size_t>(r) * static_cast<std::size_t>(columns) +
                                static_cast<std::size_t>(c)) * tail);
  return neurons;
}

std::string Integer(long long value) { return std::to_string(value); }

// Six significant digits, for the caption.
std::string Figure(double value) {
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
  MAPSMITH_ASSERT(ec == std::errc());
  return std::string(text, end);
}

std::vector<std::string> Caption(TKohonenNetwork& map, const ViewRequest& request, Data* data,
                                 int inputs) {
  std::vector<std::string> lines;
  std::string grid;
  for (int k = 0; k < map.numDimensions; ++k) {
    if (k > 0) grid += " x ";
    grid += Integer(map.dimensions[k]);
  }
  lines.push_back("Map " + request.mapName + ": " + grid + " neurons, " + Integer(inputs) +
                  (inputs == 1 ? " input" : " inputs") + (request.torus ? ", torus" : ""));
  if (map.numDimensions > 2) {
    std::string line = "Slice through dimensions 1 and 2 at ";
    for (int k = 2; k < map.numDimensions; ++k) {
      const int at = k < static_cast<int>(request.slice.size()) ? request.slice[static_cast<std::size_t>(k)] : 0;
      if (k > 2) line += ", ";
      line += "dimension " + Integer(k + 1) + " = " + Integer(at);
    }
    lines.push_back(line);
  }
  if (data != nullptr) {
    const TMapQuality quality = MeasureMapQuality(map, *data, request.torus);
    lines.push_back("Data " + request.dataName + ": " + Integer(quality.rows) + (quality.rows == 1 ? " row" : " rows") +
                    ", quantization error " + Figure(quality.quantizationError) + ", topographic error " +
                    Figure(quality.topographicError));
  }
  if (request.labels) lines.push_back("Labels from " + request.labelsName);
  return lines;
}

// A neuron's labels, heaviest first; equal weights keep the list's order.
std::vector<TLabel> ByWeight(const TLabelList* list) {
  std::vector<TLabel> labels;
  if (list != nullptr) labels = list->labels;
  std::stable_sort(labels.begin(), labels.end(), [](const TLabel& a, const TLabel& b) { return a.value > b.value; });
  return labels;
}

}  // namespace

Page BuildMapPage(TKohonenNetwork& map, const ViewRequest& request, Data* data, const Data* labelledMap) {
  const std::size_t neurons = static_cast<std::size_t>(CheckMapGrid(map));
  const int inputs = map.NumInputs();
  const std::size_t n = static_cast<std::size_t>(inputs);
  MAPSMITH_ASSERT(request.names.empty() || request.names.size() == n);
  MAPSMITH_ASSERT(!request.hits || data != nullptr);
  MAPSMITH_ASSERT(!request.labels || (labelledMap != nullptr && labelledMap->MbrNdxRows == static_cast<int>(neurons)));
  MAPSMITH_ASSERT(!request.colours || inputs == 3);

  Page page;
  const std::vector<std::size_t> cells = SliceNeurons(map, request.slice, page.rows, page.columns);
  page.title = request.title.empty() ? request.mapName : request.title;
  page.caption = Caption(map, request, data, inputs);

  const std::vector<double> weights = MapWeightVectors(map);
  std::vector<std::int32_t> hits;
  std::int32_t maxHits = 0;
  if (request.hits) {
    const std::vector<std::int32_t> all = CountHits(map, *data);
    maxHits = all.empty() ? 0 : *std::max_element(all.begin(), all.end());  // over the whole map
    for (std::size_t neuron : cells) hits.push_back(all[neuron]);
  }

  if (request.colours) {
    // One range for all three inputs, so that equal weights stay grey.
    double low, high;
    FiniteRange(weights, 0, 1, low, high);
    const double span = high / 2 - low / 2;
    Panel panel;
    panel.kind = PanelKind::Colours;
    panel.title = "Colours";
    for (std::size_t neuron : cells) {
      Rgb colour{0x99, 0x99, 0x99};
      const double* w = weights.data() + neuron * n;
      if (std::isfinite(w[0]) && std::isfinite(w[1]) && std::isfinite(w[2])) {
        auto level = [&](double v) {
          return static_cast<std::uint8_t>(span > 0 ? std::lround(255 * ((v / 2 - low / 2) / span)) : 128);
        };
        colour = {level(w[0]), level(w[1]), level(w[2])};
      }
      panel.colours.push_back(colour);
    }
    page.panels.push_back(std::move(panel));
  }
  if (request.umatrix) {
    const std::vector<double> u = UMatrix(map, request.torus);
    Panel panel;
    panel.title = request.hits ? "U-matrix and hits" : "U-matrix";
    FiniteRange(u, 0, 1, panel.low, panel.high);  // over the whole map, so slices compare
    for (std::size_t neuron : cells) panel.values.push_back(u[neuron]);
    panel.hits = hits;
    panel.maxHits = maxHits;
    page.panels.push_back(std::move(panel));
  } else if (request.hits) {
    Panel panel;
    panel.kind = PanelKind::Hits;
    panel.title = "Hits";
    panel.hits = hits;
    panel.maxHits = maxHits;
    page.panels.push_back(std::move(panel));
  }
  if (request.labels) {
    Panel panel;
    panel.kind = PanelKind::Labels;
    panel.title = "Labels";
    for (std::size_t neuron : cells) panel.labels.push_back(ByWeight(labelledMap->GetLabels(static_cast<int>(neuron))));
    page.panels.push_back(std::move(panel));
  }
  if (request.planes) {
    page.planesHeading = "Component planes";
    for (std::size_t j = 0; j < n; ++j) {
      Panel panel;
      panel.title = request.names.empty() ? "Input " + Integer(static_cast<long long>(j) + 1) : request.names[j];
      FiniteRange(weights, j, std::max<std::size_t>(n, 1), panel.low, panel.high);
      panel.values.reserve(cells.size());
      for (std::size_t neuron : cells) panel.values.push_back(weights[neuron * n + j]);
      page.planes.push_back(std::move(panel));
    }
  }
  return page;
}

}  // namespace mapsmith
