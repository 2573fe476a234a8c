// What pictures of a Kohonen map are made of, computed on the map itself: its
// weight vectors in neuron order, the U-matrix (how far each neuron's weight
// vector lies from those of its grid neighbours, which shows cluster borders)
// and the hits (how many rows of a data set each neuron wins).
//
// Every function here needs a map whose grid is whole: at least one
// dimension, every size at least 1, the sizes multiplying to the map layer's
// neuron count, and weights from the input layer to the map layer. Maps read
// from files may lack that; CheckMapGrid refuses them with a TException (kind
// "Bad Parameter"), and each function below calls it first.
#pragma once

#include <cstdint>
#include <vector>

#include "KQmessage/TException.h"

class Data;
class TKohonenNetwork;

// Throws TException (origin "CheckMapGrid") when the map's grid is not whole
// (see above); returns the neuron count otherwise.
int CheckMapGrid(TKohonenNetwork& map);

// The weight vectors one after another in neuron order: neuron i's weight from
// input j at [i * inputs + j].
std::vector<double> MapWeightVectors(TKohonenNetwork& map);

// The U-matrix: one value per neuron in neuron order, the mean Euclidean
// distance from its weight vector to those of its grid neighbours. Neighbours
// are the neurons whose coordinates differ by 1 in exactly one dimension; with
// `torus` each dimension wraps around, so its first and last positions are
// neighbours too. A neuron counts once however many ways it is reached (in a
// dimension of size 2 on a torus both directions lead to the same neuron). A
// neuron without neighbours (a map of one neuron) gets 0. Distances are summed
// over inputs in ascending order and their square roots added up in neighbour
// order, so the values are the same on every machine.
std::vector<double> UMatrix(TKohonenNetwork& map, bool torus);

// How many of `data`'s rows each neuron wins (its winner as FindWinner finds
// it), in neuron order. The set is walked as the runs walk it (Rewind, then
// GetNextRow MbrNdxRows times) and must supply at least as many input columns
// as the map has inputs; further columns are ignored.
std::vector<std::int32_t> CountHits(TKohonenNetwork& map, Data& data);
