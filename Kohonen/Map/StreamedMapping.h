// MapsmithMap's way through a data set file that it can read at speed (see
// PlainDataSetReader): the rows are mapped as they are read, a few at a time,
// and written as they are mapped, so neither the data nor the result is held
// in memory and a number's text is copied where it is already written as it
// would be written again. The output is byte for byte what the general way
// (read the file, WinnerCoordinates or its kin, write the result) writes.
#pragma once

#include <string>

#include "NeuralNets/TKohonenNetwork.h"

namespace mapsmith {

// What each row gets after its inputs.
enum class WinnerColumns { Coordinates, Index, Weights };

// Maps the rows of the data set file `dataPath` on `map` and writes them,
// each with its winner's `columns`, to `outPath` as a data set file,
// atomically. Returns false, with nothing written and an existing `outPath`
// left as it was, when the file is not one that PlainDataSetReader reads to
// the end or its rows do not have the map's input count: the caller then
// takes the general way, which accepts or refuses the file. Throws RunError
// naming `outPath` when the output cannot be written.
bool MapRowsAsRead(TKohonenNetwork& map, const std::string& dataPath, WinnerColumns columns,
                   const std::string& outPath);

}  // namespace mapsmith
