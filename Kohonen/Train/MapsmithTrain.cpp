#include "Kohonen/Train/MapsmithTrain.h"

#include <unistd.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Kohonen/Common/CommandLine.h"
#include "Kohonen/Common/DataFiles.h"
#include "Kohonen/Train/ProgressLine.h"
#include "Kohonen/Train/TrainCommand.h"
#include "NeuralNets/Training.h"

using namespace mapsmith;

namespace {

const ToolDescription& ToolTable() {
  static const ToolDescription table = TrainToolTable(
      "MapsmithTrain",
      "Trains the Kohonen map in IN.net on the rows of DATA (a data set file or CSV) and writes\n"
      "the trained map to OUT.net, then prints its quantization and topographic error. The same\n"
      "options and seed give the same map on any number of threads.");
  return table;
}

int Train(const ParsedOptions& options, std::ostream& out, std::ostream& err, const TrainEnvironment& env) {
  TTrainingOptions training = TrainingOptionsFrom(options);
  const DataInputChoice input = DataInputFrom(options);
  const std::string mapPath = options.Text("map");
  const std::string dataPath = options.Text("data");
  const std::string outPath = options.Text("out");
  CheckOutputIsNoInput("--out", outPath, {mapPath, dataPath});

  std::vector<std::string> mapWarnings;
  std::unique_ptr<TKohonenNetwork> map = ReadMapFile(mapPath, FileFormat::Unknown, &mapWarnings);
  WithFile(mapPath, [&] { CheckTrainingMap(*map, training); });
  DataTable table = ReadDataFile(dataPath, input.format, input.csv);
  WithFile(dataPath, [&] { CheckTrainingData(*map, *table.data); });
  // What the readers noticed, once the files are accepted.
  PrintWarnings("MapsmithTrain", mapWarnings, err);
  PrintWarnings("MapsmithTrain", table.warnings, err);

  std::optional<ProgressLine> line;
  if (env.terminal && !options.Has("quiet")) {
    line.emplace(err, training.mode == TTrainingMode::Online ? "steps" : "epochs", env.clock);
    training.progress = [&](const TTrainingProgress& p) { line->Update(p.done, p.total); };
  }
  TTrainingReport report;
  WithFile("", [&] { report = TrainMap(*map, *table.data, training); });
  if (line) line->Finish();

  WriteTrainedMap("MapsmithTrain", outPath, *map, report.quality, out, err);
  return 0;
}

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int RunMapsmithTrain(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                     const TrainEnvironment& environment) {
  TrainEnvironment env = environment;
  if (!env.clock) env.clock = SteadySeconds;
  return RunTool(ToolTable(), argc, argv, out, err, [&](const ParsedOptions& options, std::ostream& o, std::ostream& e) {
    return Train(options, o, e, env);
  });
}

int RunMapsmithTrain(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  TrainEnvironment env;
  env.terminal = &err == &std::cerr && isatty(STDERR_FILENO) == 1;
  return RunMapsmithTrain(argc, argv, out, err, env);
}
