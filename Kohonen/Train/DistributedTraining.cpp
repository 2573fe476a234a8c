#include "Kohonen/Train/DistributedTraining.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "Kohonen/Common/DataFiles.h"
#include "Kohonen/Train/ProgressLine.h"
#include "Kohonen/Train/RowShare.h"
#include "Kohonen/Train/TrainCommand.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "NeuralNets/TPreparedMap.h"
#include "NeuralNets/TrainingRandom.h"

namespace mapsmith {

// ---------------------------------------------------------------------------
// The pieces.

void GroupTrainingRows::Pass(std::vector<double>& state, const Adder& add) {
  const int p = group_.Rank();
  const int P = group_.Size();
  const std::size_t bytes = state.size() * sizeof(double);
  if (p > 0) group_.Receive(p - 1, state.data(), bytes);
  if (mine_.Count() > 0) add(mine_.rows.data(), mine_.Count(), state.data());
  if (p + 1 < P) group_.Send(p + 1, state.data(), bytes);
  group_.Broadcast(P - 1, state.data(), bytes);
}

void GroupTrainingRows::Fetch(const std::vector<long long>& which, std::vector<double>& values) {
  const std::size_t n = static_cast<std::size_t>(mine_.numInputs);
  values.resize(which.size() * n);
  std::vector<double> packed;
  for (int q = 0; q < group_.Size(); ++q) {
    const long long first = firsts_[q];
    const long long end = firsts_[q + 1];
    packed.clear();
    if (q == group_.Rank())
      for (long long row : which)
        if (row >= first && row < end) {
          const double* x = mine_.rows[static_cast<std::size_t>(row - first)];
          packed.insert(packed.end(), x, x + n);
        }
    BroadcastValues(group_, q, packed);
    std::size_t at = 0;
    for (std::size_t i = 0; i < which.size(); ++i)
      if (which[i] >= first && which[i] < end) {
        std::copy_n(packed.begin() + static_cast<std::ptrdiff_t>(at), n,
                    values.begin() + static_cast<std::ptrdiff_t>(i * n));
        at += n;
      }
  }
}

namespace {

// The neurons with a count, after the counts arrived from elsewhere (the
// order in which they first won does not enter any result).
void RecountTouched(TBatchSums& total) {
  total.touched.clear();
  for (std::size_t j = 0; j < total.counts.size(); ++j)
    if (total.counts[j] != 0) total.touched.push_back(static_cast<int>(j));
}

}  // namespace

void CombineBatchSums(ProcessGroup& group, TBatchSums& total, const std::vector<TCompactBatchSums>& blocks) {
  const int p = group.Rank();
  const int P = group.Size();
  const std::size_t countBytes = total.counts.size() * sizeof(long long);
  const std::size_t sumBytes = total.sums.size() * sizeof(double);
  total.Clear();
  if (p > 0) {
    group.Receive(p - 1, total.counts.data(), countBytes);
    group.Receive(p - 1, total.sums.data(), sumBytes);
    RecountTouched(total);
  }
  for (const TCompactBatchSums& block : blocks) AddBatchSums(total, block);
  if (p + 1 < P) {
    group.Send(p + 1, total.counts.data(), countBytes);
    group.Send(p + 1, total.sums.data(), sumBytes);
  }
  group.Broadcast(P - 1, total.counts.data(), countBytes);
  group.Broadcast(P - 1, total.sums.data(), sumBytes);
  RecountTouched(total);
}

void ExchangeWeights(ProcessGroup& group, TPreparedMap& map) {
  const std::size_t n = static_cast<std::size_t>(map.NumInputs());
  std::vector<double> weights;
  for (int q = 0; q < group.Size(); ++q) {
    const TBlockRange share = ShareOfPart(map.NumNeurons(), group.Size(), q);
    weights.resize(static_cast<std::size_t>(share.end - share.first) * n);
    if (q == group.Rank())
      for (long long i = share.first; i < share.end; ++i)
        map.CopyWeights(static_cast<int>(i), weights.data() + static_cast<std::size_t>(i - share.first) * n);
    group.Broadcast(q, weights.data(), weights.size() * sizeof(double));
    if (q != group.Rank())
      for (long long i = share.first; i < share.end; ++i)
        map.SetWeights(static_cast<int>(i), weights.data() + static_cast<std::size_t>(i - share.first) * n);
  }
}

TQualitySums GatherQualitySums(ProcessGroup& group, const std::vector<TQualitySums>& blocks) {
  TQualitySums total;
  if (group.Rank() != 0) {
    SendValues(group, 0, blocks);
    return total;
  }
  for (const TQualitySums& block : blocks) AddQualitySums(total, block);
  std::vector<TQualitySums> theirs;
  for (int q = 1; q < group.Size(); ++q) {
    ReceiveValues(group, q, theirs);
    for (const TQualitySums& block : theirs) AddQualitySums(total, block);
  }
  return total;
}

// ---------------------------------------------------------------------------
// The tool.

namespace {

constexpr const char* kSummary =
    "Trains the Kohonen map in IN.net in batches on the rows of DATA, spread over the processes\n"
    "of an MPI run (mpirun -np N ...), writes the trained map to OUT.net and prints its\n"
    "quantization and topographic error. Each process reads only its own rows. Any number of\n"
    "processes and threads gives the map MapsmithTrain --mode batch gives with the same options.";

// A digest of a file's bytes (FNV-1a), to see that every process reads the
// same map.
std::uint64_t FileDigest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::uint64_t h = 14695981039346656037ULL;
  std::vector<char> chunk(1 << 16);
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    for (std::streamsize i = 0; i < in.gcount(); ++i) {
      h ^= static_cast<unsigned char>(chunk[static_cast<std::size_t>(i)]);
      h *= 1099511628211ULL;
    }
  }
  return h;
}

int Train(ProcessGroup& group, const char* tool, const ParsedOptions& options, std::ostream& out,
          std::ostream& err, const TrainEnvironment& env) {
  const int P = group.Size();
  const int rank = group.Rank();
  TTrainingOptions training;
  DataInputChoice input;
  const std::string mapPath = options.Text("map");
  const std::string dataPath = options.Text("data");
  const std::string outPath = options.Text("out");
  Together(group, [&] {
    training = TrainingOptionsFrom(options);
    if (training.mode == TTrainingMode::Online)
      throw UsageError{
          "option --mode online is not for processes spread over machines: online training moves the map "
          "after each row in turn; train online with MapsmithTrain"};
    input = DataInputFrom(options);
    if (rank == 0) CheckOutputIsNoInput("--out", outPath, {mapPath, dataPath});
  });

  std::unique_ptr<TKohonenNetwork> map;
  std::vector<std::string> mapWarnings;
  std::uint64_t digest = 0;
  Together(group, [&] {
    map = ReadMapFile(mapPath, FileFormat::Unknown, &mapWarnings);
    WithFile(mapPath, [&] { CheckTrainingMap(*map, training); });
    digest = FileDigest(mapPath);
  });
  const std::vector<std::uint64_t> digests = GatherToAll(group, digest);
  Together(group, [&] {
    for (int q = 1; q < P; ++q)
      if (digests[q] != digests[0])
        throw RunError{mapPath, "is not the same file on every process: process " + std::to_string(q) +
                                    " reads other bytes than process 0"};
  });

  const int n = map->NumInputs();
  RowShare share = ReadRowShare(group, dataPath, input, n);
  // What the readers noticed, once the files are accepted (process 0 alone
  // prints).
  PrintWarnings(tool, mapWarnings, err);
  PrintWarnings(tool, share.warnings, err);

  // Everything from here on is collective work on checked maps and rows.
  const TTrainingPlan plan = PlanTraining(training, *map);
  TPreparedMap prepared(*map);
  const TMapGrid grid(*map, training.torus);
  const int u = prepared.NumNeurons();
  // The winner screens' shift: any shift gives the same winners, so each
  // process takes the mean of its own rows.
  const std::vector<double> shift = RowMean(share.rows);
  GroupTrainingRows allRows(group, share.firsts, share.rows);
  TTrainingRandom random(training.seed);
  if (training.init == TInitialisation::Sample) InitSample(prepared, allRows, random);
  if (training.init == TInitialisation::Linear) InitLinear(prepared, allRows, grid);

  const int threads = training.threads;
  const long long localRows = share.rows.Count();
  const long long myBlocks = BlockCount(localRows);
  std::vector<TCompactBatchSums> sums(static_cast<std::size_t>(myBlocks));
  std::vector<TBatchSums> blockSums(static_cast<std::size_t>(threads));
  for (TBatchSums& b : blockSums) b.Resize(u, n);
  std::vector<std::vector<double>> scratch(static_cast<std::size_t>(threads)), work(scratch.size());
  std::vector<TScreenScratch> screenScratch(scratch.size());
  TBatchSums total;
  total.Resize(u, n);
  TNeighbourhoodTable h(grid, training.neighbourhood, training.cutGaussian);
  std::optional<TWinnerScreen> screen;
  screen.emplace(prepared, shift.data());
  const TBlockRange neurons = ShareOfPart(u, P, rank);
  const int blockWorkers = static_cast<int>(std::max<long long>(1, std::min<long long>(threads, myBlocks)));
  auto rowsOf = [&](long long b, long long& count) {
    const long long first = b * kTrainingBlockRows;
    count = std::min(kTrainingBlockRows, localRows - first);
    return share.rows.rows.data() + first;
  };

  std::optional<ProgressLine> line;
  if (rank == 0 && env.terminal && !options.Has("quiet")) line.emplace(err, "epochs", env.clock);
  for (long long e = 0; e < plan.total; ++e) {
    h.SetRadius(plan.EpochRadius(e));
    std::atomic<long long> next{0};
    RunTrainingWorkers(blockWorkers, [&](int k) {
      for (long long b = next.fetch_add(1); b < myBlocks; b = next.fetch_add(1)) {
        long long count;
        const double* const* rows = rowsOf(b, count);
        BatchBlockSums(prepared, rows, count, blockSums[k], scratch[k], &*screen, &screenScratch[k]);
        sums[static_cast<std::size_t>(b)].From(blockSums[k]);
      }
    });
    CombineBatchSums(group, total, sums);
    RunTrainingWorkers(threads, [&](int k) {
      const TBlockRange part = ShareOfPart(neurons.end - neurons.first, threads, k);
      BatchUpdate(prepared, total, grid, h, static_cast<int>(neurons.first + part.first),
                  static_cast<int>(neurons.first + part.end), work[k]);
    });
    ExchangeWeights(group, prepared);
    screen.emplace(prepared, shift.data());
    if (line) line->Update(e + 1, plan.total);
  }
  if (line) line->Finish();

  // The quality of the trained map, summed in block order on process 0.
  std::vector<TQualitySums> parts(static_cast<std::size_t>(myBlocks));
  {
    std::atomic<long long> next{0};
    RunTrainingWorkers(blockWorkers, [&](int k) {
      for (long long b = next.fetch_add(1); b < myBlocks; b = next.fetch_add(1)) {
        long long count;
        const double* const* rows = rowsOf(b, count);
        parts[static_cast<std::size_t>(b)] =
            BlockQuality(prepared, grid, rows, count, scratch[k], &*screen, &screenScratch[k]);
      }
    });
  }
  const TMapQuality quality = QualityOf(GatherQualitySums(group, parts));

  Together(group, [&] {
    if (rank != 0) return;
    prepared.WriteBack(*map);
    WriteTrainedMap(tool, outPath, *map, quality, out, err);
  });
  return 0;
}

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int RunDistributedTrain(ProcessGroup& group, const char* tool, int argc, const char* const* argv,
                        std::ostream& out, std::ostream& err, const TrainEnvironment& environment) {
  TrainEnvironment env = environment;
  if (!env.clock) env.clock = SteadySeconds;
  std::ostream silent(nullptr);
  std::ostream& o = group.Rank() == 0 ? out : silent;
  std::ostream& e = group.Rank() == 0 ? err : silent;
  const ToolDescription table = TrainToolTable(tool, kSummary);
  return RunTool(table, argc, argv, o, e, [&](const ParsedOptions& options, std::ostream& to, std::ostream& te) {
    return Train(group, tool, options, to, te, env);
  });
}

}  // namespace mapsmith
