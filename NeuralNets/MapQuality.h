// How well a Kohonen map fits a data set: the quantization error (how far
// rows lie from their winners) and the topographic error (how often a row's
// two nearest neurons are not neighbours on the grid).
#pragma once

#include "NeuralNets/TKohonenNetwork.h"

class Data;

struct TMapQuality {
  long long rows = 0;              // rows measured
  double quantizationError = 0.0;  // mean Euclidean distance of a row to its winner
  double topographicError = 0.0;   // share of rows whose best two neurons are not neighbours
};

// Measures `map` on `data`, walked as the runs walk it (Rewind, then
// GetNextRow MbrNdxRows times), using its first numInputs input columns (or
// selected columns). Winners are those of FindWinner (ties to the lower
// number); the second best is the nearest other neuron (ties to the lower
// number). Two neurons are neighbours when their grid coordinates differ by at
// most 1 in every dimension and are not all equal; with `torus` each
// difference wraps around its dimension the shorter way. A map of one neuron
// has no second best and a topographic error of 0. No rows: everything 0.
//
// Throws TException (kind "Bad Parameter", origin "MeasureMapQuality") for a
// map without neurons, without grid dimensions, whose grid sizes do not
// multiply to its neuron count, or without weights from its inputs; for a
// data set with fewer input columns than the map has inputs (naming both
// counts); and for a row holding NaN or infinity (naming the row, counted
// from 1 in walking order). Changes neither the map nor the data set's rows
// (only its cursor).
TMapQuality MeasureMapQuality(TKohonenNetwork& map, Data& data, bool torus = false);

// The same over `count` rows stored one after another, each of the map's
// numInputs values (rows[r * numInputs + j]).
TMapQuality MeasureMapQuality(TKohonenNetwork& map, const double* rows, long long count,
                              bool torus = false);
