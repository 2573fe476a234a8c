// MapsmithTrain: trains a Kohonen map on a data set and writes the trained
// map, then prints its quantization and topographic error. main() and the
// tests run it in-process through RunMapsmithTrain.
#pragma once

#include <functional>
#include <iosfwd>

namespace mapsmith {

// Where the tool runs: whether standard error is a terminal (then, unless
// --quiet, a progress line is drawn on it) and the clock the line reads, in
// seconds.
struct TrainEnvironment {
  bool terminal = false;
  std::function<double()> clock;
};

}  // namespace mapsmith

// Exit status 0 on success, 1 when the run fails, 2 for a wrong command line.
// The progress line is drawn when `err` is the process's standard error and
// that is a terminal.
int RunMapsmithTrain(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
// The same in a given environment.
int RunMapsmithTrain(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                     const mapsmith::TrainEnvironment& environment);
