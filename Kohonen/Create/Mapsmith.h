// The Mapsmith tool: reads a parameter file, validates it and hands the values
// to the creation run, which builds, randomises and saves a new Kohonen map.
// main() only forwards to RunMapsmith, so tests drive the whole tool in-process.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <iosfwd>
#include <string>
#include <vector>

// The values of one parameter file, with their start values.
struct MapParameters {
  int32_t inputs = 0;
  int32_t dimensions = 0;
  // One entry per map dimension once "Dimensions" has been read; sizes that no
  // "MapDim" has set yet are 0. Entries are appended as they are read, so a
  // huge "Dimensions" value costs memory only for the sizes the file gives.
  std::vector<int32_t> mapSizes;
  double minWeight = -1.0;
  double maxWeight = 1.0;
  std::string fileName;
  // The generator's seed when the file gives one ("Seed"); else the clock.
  std::optional<uint32_t> seed;
};

// Reads parameter text from `in` into `params` (which should hold the start
// values). Returns the empty string on success, or the refusal message for a
// value that cannot be read as the number its key expects, or for a token
// (key, value or any other word) longer than 4096 characters: "Parameter file
// token longer than 4096 characters".
std::string ReadParameters(std::istream& in, MapParameters& params);

// Checks the values in the fixed order; returns the first refusal message, or
// the empty string when the values can be built into a map.
std::string ValidateParameters(const MapParameters& params);

// What runs after a successful validation. Returns the exit status.
using CreationRun = std::function<int(const MapParameters&, std::ostream& out, std::ostream& err)>;

// The creation run of the tool: builds the map, randomises it (seeded with
// params.seed, or from the clock without one) and writes the network file. Returns the exit status: 0 on success; 1 after
// printing a FileTools::Error's message on `out`, or a TException (message,
// kind, origin, one line each) or a lack of memory on `err`. `params` must
// have passed ValidateParameters.
int CreateMap(const MapParameters& params, std::ostream& out, std::ostream& err);

// Reads, validates and hands over to `run`. A refusal writes its message and a
// line end on `err` and returns 1.
int RunParameterText(std::istream& in, std::ostream& out, std::ostream& err,
                     const CreationRun& run = CreateMap);

// The whole tool: `argv[1]` names the parameter file; "--help" or "--version"
// as the only argument prints usage or version on `out` instead. Returns the
// exit status. Besides the refusals above: a parameter file that cannot be
// read (missing, a directory, or a read that fails part-way) gives "Unable to
// open parameter file PATH"; a FileName that is the parameter file itself
// (the same file, however named) gives "FileName names the parameter file
// itself" before anything is written; running out of memory while reading
// gives "Not enough memory to read the parameter file". Each ends with status
// 1.
int RunMapsmith(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
