// SOM_PAK files: the plain data file and the codebook file of a map.
//
// Data file: the first line that is not a comment gives the number of columns
// (further items on it are ignored). Each following line is one row: that
// many numbers, then optional labels (every further word; each becomes a
// label of weight 1.0 in the row's list) and the row qualifiers "weight=..."
// and "fixed=...", which are ignored and counted in one warning. Lines whose
// first non-blank character is '#' are comments, except "#n name ...", which
// names the columns. Empty lines are skipped. The missing-value mark "x" is
// refused (the library has no missing values), as are non-numbers, naming
// line and column. Written: the column count, a "#n" line when the table has
// column names, then one row per line with 15 significant digits and the
// names of the row's labels, heaviest first (the weights are not written).
//
// Codebook: the first line is "<dim> rect <xdim> <ydim> <neighbourhood>",
// then one line of dim weights per unit, the unit at grid position (x, y) on
// line y * xdim + x (x fastest); labels after the weights are ignored with a
// warning. Our map's first dimension is the codebook's y and its second the
// x, so units keep their order: a map of sizes (s0, s1) is "xdim s1, ydim
// s0"; a one-dimensional map of n neurons is "xdim n, ydim 1", and a codebook
// with ydim 1 reads as a one-dimensional map. "hexa" codebooks and maps of
// more than two dimensions are refused. The neighbourhood word is ignored on
// reading and written as "gaussian".
//
// Every function throws FileTools::Error whose message names the line (and
// column) of the problem; warnings are appended as bare texts.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "Kohonen/Common/DataFiles.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace mapsmith {

// Reads a SOM_PAK data file. The set has labels when any row has one; it has
// no output columns.
DataTable ReadSomPakData(std::istream& in);

// Writes `table` as a SOM_PAK data file: inputs, then expected outputs as
// further columns (said in a warning). Labels that would not read back (a
// blank inside, or a qualifier's form) are refused.
void WriteSomPakData(std::ostream& out, const DataTable& table, std::vector<std::string>* warnings = nullptr);

// Reads a codebook into the map that Mapsmith would build for that grid and
// input count, holding the codebook's weights. The caller owns it.
std::unique_ptr<TKohonenNetwork> ReadCodebook(std::istream& in, std::vector<std::string>* warnings = nullptr);

// Writes the map as a codebook. Refuses maps that a codebook cannot hold. A
// two-dimensional map of 1 x n reads back one-dimensional (ydim 1), which is
// said in `warnings`.
void WriteCodebook(std::ostream& out, TKohonenNetwork& map, std::vector<std::string>* warnings = nullptr);

}  // namespace mapsmith
