#include "Kohonen/Train/TrainCommand.h"

#include <algorithm>
#include <limits>
#include <ostream>
#include <vector>

#include "FileHandler/ParseTools.h"
#include "Kohonen/Common/DataFiles.h"

namespace mapsmith {

namespace {

std::string Number(double value) {
  char buffer[FileTools::GeneralNumberSize];
  return std::string(FileTools::FormatGeneral(value, buffer));
}

}  // namespace

ToolDescription TrainToolTable(const char* tool, const char* summary) {
  ToolDescription table{
      tool,
      "--map IN.net --data DATA --out OUT.net [OPTION]...",
      summary,
      {
          {"map", 'm', "IN.net", "the map to train (a network file of a Kohonen map)", nullptr, true},
          {"data", 'd', "DATA", "the rows to train on: the map's inputs are their first columns", nullptr, true},
          {"out", 'o', "OUT.net", "the trained map, written when training has finished", nullptr, true},
          {"mode", 0, "MODE", "batch (one update per pass over the rows) or online (one per row)", "batch"},
          {"epochs", 0, "N", "passes over the rows", "20"},
          {"steps", 0, "N", "online steps, instead of --epochs", "epochs x rows"},
          {"rate", 0, "A", "online learning rate at the start, above 0 and at most 1", "0.5"},
          {"rate-schedule", 0, "S", "how the online rate falls: linear (to 0) or inverse", "linear"},
          {"radius", 0, "R", "neighbourhood radius at the start, in grid units", "half the largest map size"},
          {"final-radius", 0, "R", "neighbourhood radius at the end", "1, or the radius if smaller"},
          {"neighbourhood", 0, "N", "gaussian or bubble", "gaussian"},
          {"torus", 0, nullptr, "wrap every grid dimension around (neighbours across the edges)", "off"},
          {"init", 0, "I", "starting weights: keep (those of IN.net), sample (rows drawn at random) or linear",
           "keep"},
          {"seed", 0, "N", "seed of the training's random numbers, 0 to 9223372036854775807", "1"},
          {"threads", 0, "N", "threads to train on, 1 to 256 (the map does not depend on them)", "1"},
          {"quiet", 'q', nullptr, "draw no progress line", "a progress line on a terminal"},
      },
  };
  for (const OptionEntry& o : DataInputOptions()) table.options.push_back(o);
  return table;
}

TTrainingOptions TrainingOptionsFrom(const ParsedOptions& options) {
  TTrainingOptions o;
  const std::string mode = options.Choice("mode", {"batch", "online"}, "batch");
  o.mode = mode == "online" ? TTrainingMode::Online : TTrainingMode::Batch;
  const long long most = std::numeric_limits<long long>::max();
  if (options.Has("steps") && options.Has("epochs"))
    throw UsageError{"options --steps and --epochs exclude each other"};
  if (options.Has("steps") && o.mode == TTrainingMode::Batch)
    throw UsageError{"option --steps is for online training; batch training counts --epochs"};
  o.steps = options.Integer("steps", 0, 1, most);
  o.epochs = options.Integer("epochs", 0, 1, most);
  o.rate = options.Real("rate", 0.5, -std::numeric_limits<double>::max(), std::numeric_limits<double>::max());
  if (!(o.rate > 0.0 && o.rate <= 1.0))
    throw UsageError{"option --rate must be above 0 and at most 1, not '" + options.Text("rate") + "'"};
  o.rateSchedule = options.Choice("rate-schedule", {"linear", "inverse"}, "linear") == "inverse"
                       ? TRateSchedule::Inverse
                       : TRateSchedule::Linear;
  if (options.Has("radius")) o.radius = options.Real("radius", 0.0, 0.0, std::numeric_limits<double>::max());
  // The final radius is 1 unless the start radius is smaller.
  o.finalRadius = options.Real("final-radius", o.radius ? std::min(1.0, *o.radius) : 1.0, 0.0,
                               std::numeric_limits<double>::max());
  if (o.radius && o.finalRadius > *o.radius)
    throw UsageError{"option --final-radius " + options.Text("final-radius", "1") + " is larger than --radius " +
                     options.Text("radius")};
  o.neighbourhood = options.Choice("neighbourhood", {"gaussian", "bubble"}, "gaussian") == "bubble"
                        ? TNeighbourhood::Bubble
                        : TNeighbourhood::Gaussian;
  o.torus = options.Has("torus");
  const std::string init = options.Choice("init", {"keep", "sample", "linear"}, "keep");
  o.init = init == "sample"   ? TInitialisation::Sample
           : init == "linear" ? TInitialisation::Linear
                              : TInitialisation::Keep;
  o.seed = static_cast<std::uint64_t>(options.Integer("seed", 1, 0, most));
  o.threads = static_cast<int>(options.Integer("threads", 1, 1, kMaxTrainingThreads));
  return o;
}

void WriteTrainedMap(const char* tool, const std::string& outPath, TKohonenNetwork& map,
                     const TMapQuality& quality, std::ostream& out, std::ostream& err) {
  const FileFormat format =
      FormatFromExtension(outPath) == FileFormat::SomPakCodebook ? FileFormat::SomPakCodebook : FileFormat::Network;
  std::vector<std::string> warnings;
  WriteMapFile(outPath, map, format, &warnings);
  out << "quantization-error " << Number(quality.quantizationError) << '\n'
      << "topographic-error " << Number(quality.topographicError) << '\n';
  out.flush();
  PrintWarnings(tool, warnings, err);
}

}  // namespace mapsmith
