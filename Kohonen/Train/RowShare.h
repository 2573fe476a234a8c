// One process's share of the rows of a data file, for batch training spread
// over a process group. Rows are dealt in blocks of kTrainingBlockRows, a
// contiguous run of blocks per process (BlocksOfPart), and each process holds
// only its own rows.
//
// A data set file is read where it lies, by every process: line ends are
// counted in 1/P of the file each, which places row i at the start of line
// i + 1 after the Data block start, and each process reads its rows from
// there (ReadDataSetChunk). The guess is then checked: every share must end
// where the next one starts, with nothing but blanks between, and the last
// must be followed by the file's end as the whole-file reader wants it. A file
// that does not pass (rows that do not stand one per line, comments between
// them, a broken file) is read whole by process 0 instead, as are CSV and
// SOM_PAK files and anything that is not a regular file on process 0 (a
// pipe), and process 0 sends each process its rows; so every file gives the
// rows, and the refusals, that reading it whole gives.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "Kohonen/Common/DataFiles.h"
#include "Kohonen/Train/ProcessGroup.h"
#include "NeuralNets/TrainingBlocks.h"

namespace mapsmith {

struct RowShare {
  // firsts[p] is the number of process p's first row; firsts[Size()] the
  // number of rows of all processes.
  std::vector<long long> firsts;
  TRowSource rows;  // this process's rows, numInputs values each
  bool readInPlace = false;  // whether every process read its own rows from the file
  // What the reader noticed (on process 0, for a file it read whole), as
  // "<file>: warning: <what>".
  std::vector<std::string> warnings;

  long long Total() const { return firsts.back(); }
  // Holders of what `rows` points into.
  std::unique_ptr<Data> data;
  std::vector<double> values;
};

// The first row of every process (and the total at the end) for `total` rows
// on `processes` processes.
std::vector<long long> RowFirsts(long long total, int processes);

// Reads this process's share of the rows of `path` and checks it as
// CheckTrainingData checks a whole data set (input columns, finite values,
// at least one row). Collective: every process of the group calls it with the
// same arguments. Throws RunError naming the file, the same on every process.
RowShare ReadRowShare(ProcessGroup& group, const std::string& path, const DataInputChoice& input,
                      int numInputs);

}  // namespace mapsmith
