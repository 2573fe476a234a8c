// What MapsmithTrain and MapsmithTrainMPI share: the option table, the
// training options it gives, and the output (the trained map and the quality
// lines). The MPI tool takes the same command lines, so that a run can move
// from one machine to several unchanged.
#pragma once

#include <iosfwd>
#include <string>

#include "Kohonen/Common/CommandLine.h"
#include "NeuralNets/Training.h"

class TKohonenNetwork;

namespace mapsmith {

// The option table of the training tools, named `tool`, with `summary` as
// the paragraph of --help.
ToolDescription TrainToolTable(const char* tool, const char* summary);

// The training options of a command line. Throws UsageError naming the
// option.
TTrainingOptions TrainingOptionsFrom(const ParsedOptions& options);

// Writes the trained map to `outPath` (a codebook for a .cod name, else a
// network file), atomically, then prints the quality lines on `out` and what
// the writer noticed as warnings of `tool` on `err`. Throws RunError naming
// the file.
void WriteTrainedMap(const char* tool, const std::string& outPath, TKohonenNetwork& map,
                     const TMapQuality& quality, std::ostream& out, std::ostream& err);

}  // namespace mapsmith
