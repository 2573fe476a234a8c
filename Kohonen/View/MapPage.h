// The page MapsmithView draws for one map: which panels, their values on the
// 2-D slice shown, and the caption. Builds a Page (SvgPage.h) from the map,
// the rows that hit it and its labelled map; the tool reads the files and
// checks the request against the map first.
#pragma once

#include <string>
#include <vector>

#include "Kohonen/View/SvgPage.h"

class Data;
class TKohonenNetwork;

namespace mapsmith {

struct ViewRequest {
  bool umatrix = true;
  bool planes = true;
  bool hits = false;     // needs `data`
  bool labels = false;   // needs `labelledMap`
  bool colours = false;  // needs a map of 3 inputs
  bool torus = false;    // U-matrix neighbours (and the quality measure) wrap around
  // The coordinate of every dimension after the first two (index = dimension
  // number from 0; entries 0 and 1 unused). Shorter than the map's dimension
  // count: the rest are 0.
  std::vector<int> slice;
  std::vector<std::string> names;  // one per input, or none: inputs are numbered
  std::string title;               // empty: the map's name
  std::string mapName;             // as the caption names the files
  std::string dataName;
  std::string labelsName;
};

// The page for `map` (whose grid CheckMapGrid accepts). `data` (rows with at
// least the map's inputs, all finite) gives the hits and the caption's
// quality figures; `labelledMap` (one row per neuron in neuron order, with
// labels) the labels. Preconditions: what the request asks for is given
// (data for hits, a labelled map for labels, 3 inputs for colours), slice
// coordinates lie inside their dimensions, names are none or one per input.
Page BuildMapPage(TKohonenNetwork& map, const ViewRequest& request, Data* data, const Data* labelledMap);

}  // namespace mapsmith
