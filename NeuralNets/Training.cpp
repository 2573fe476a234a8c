// Map training: option and data checks, initialisation, the online and batch
// loops on worker threads, and the final quality measure. All work happens on
// the prepared (lane-interleaved) copy of the weights, which is written back
// into the network only when training has finished.
#include "NeuralNets/Training.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TrainingBlocks.h"
#include "NeuralNets/TrainingParts.h"
#include "NeuralNets/TrainingRandom.h"

namespace {

constexpr const char* kOrigin = "TrainMap";
constexpr long long kProgressSteps = 256;

// The weights must be one fully connected set of the map's size, and (when
// training starts from them) finite.
void CheckTrainable(TKohonenNetwork& map, bool keep) {
  auto* conns = dynamic_cast<TConnectedConnections*>(map.GetConnections(1, 2));
  const int n = map.layers[1]->numNeurons;
  const int u = map.layers[2]->numNeurons;
  if (conns == nullptr || conns->NumFrom() != n || conns->NumTo() != u)
    RefuseRun("The map's weights are not fully connected", kOrigin);
  if (!keep) return;
  for (int i = 0; i < u; ++i)
    for (int j = 0; j < n; ++j)
      if (!std::isfinite(conns->index_weights[i][j]))
        RefuseRun("The map's weight from input " + std::to_string(j) + " to neuron " + std::to_string(i) +
                      " is not finite",
                  kOrigin);
}

// ---------------------------------------------------------------------------
// Threads.

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Waits until `value` differs from `old`: a short spin (the usual wait is a
// few microseconds), then the system's wait.
template <class T>
void WaitWhile(const std::atomic<T>& value, T old) {
  for (int spin = 0; spin < 2000; ++spin) {
    if (value.load(std::memory_order_acquire) != old) return;
    Pause();
  }
  while (value.load(std::memory_order_acquire) == old) value.wait(old, std::memory_order_acquire);
}

// All workers wait until every one has arrived.
class TBarrier {
 public:
  explicit TBarrier(int count) : count(count) {}
  void Wait() {
    if (count == 1) return;
    const int round = generation.load(std::memory_order_acquire);
    if (arrived.fetch_add(1, std::memory_order_acq_rel) + 1 == count) {
      arrived.store(0, std::memory_order_relaxed);
      generation.fetch_add(1, std::memory_order_release);
      generation.notify_all();
      return;
    }
    WaitWhile(generation, round);
  }

 private:
  const int count;
  std::atomic<int> arrived{0};
  std::atomic<int> generation{0};
};

// Worker k's share of the neuron groups: [first, end).
struct TGroupRange {
  int first;
  int end;
};
TGroupRange GroupsOf(int k, int workers, int groups) {
  return {static_cast<int>(static_cast<long long>(groups) * k / workers),
          static_cast<int>(static_cast<long long>(groups) * (k + 1) / workers)};
}

// The progress callback, called by worker 0 only. A callback that throws
// stops the training: the exception is kept and rethrown at the end.
struct TProgressSink {
  explicit TProgressSink(const std::function<void(const TTrainingProgress&)>& c) : callback(c) {}
  const std::function<void(const TTrainingProgress&)>& callback;
  std::atomic<bool> stop{false};
  std::exception_ptr failure;
  void Report(long long done, long long total, double rate, double radius) {
    if (!callback || stop.load(std::memory_order_relaxed)) return;
    try {
      callback(TTrainingProgress{done, total, rate, radius});
    } catch (...) {
      failure = std::current_exception();
      stop.store(true, std::memory_order_release);
    }
  }
};

// ---------------------------------------------------------------------------
// Online training.

struct TOnline {
  TPreparedMap& map;
  const TMapGrid& grid;
  const TRowSource& rows;
  const TTrainingPlan& plan;
  const TTrainingOptions& options;
  TTrainingRandom& random;
  TProgressSink& sink;
  int workers;
  TBarrier barrier{workers};
  std::vector<std::int32_t> order;
  struct Slot {
    int best;
    double distance;
  };
  std::vector<Slot> slots;  // two rounds x workers

  TOnline(TPreparedMap& m, const TMapGrid& g, const TRowSource& r, const TTrainingPlan& p,
          const TTrainingOptions& o, TTrainingRandom& rnd, TProgressSink& s, int w)
      : map(m), grid(g), rows(r), plan(p), options(o), random(rnd), sink(s), workers(w),
        order(static_cast<std::size_t>(r.Count())), slots(2 * static_cast<std::size_t>(w)) {}

  void Shuffle() {
    const std::int32_t n = static_cast<std::int32_t>(order.size());
    for (std::int32_t i = 0; i < n; ++i) order[i] = i;
    for (std::int32_t i = n - 1; i > 0; --i)
      std::swap(order[i], order[static_cast<std::size_t>(random.Below(static_cast<std::uint64_t>(i) + 1))]);
  }

  // Worker k's part of every step: the winner among its neurons, then the
  // move of its neurons. The move of step t is fused with the distances of
  // step t + 1's row, so the weights are read once per step.
  void Work(int k) {
    const int L = map.Lanes();
    const int u = map.NumNeurons();
    const int dims = grid.Dimensions();
    const TGroupRange range = GroupsOf(k, workers, map.Groups());
    const int groups = range.end - range.first;
    const int firstNeuron = std::min(range.first * L, u);
    const int endNeuron = std::min(range.end * L, u);
    TNeighbourhoodTable h(grid, options.neighbourhood, options.cutGaussian);
    std::vector<double> d(static_cast<std::size_t>(std::max(groups, 1)) * L);
    std::vector<double> coef(d.size());
    // Squared coordinate differences from the winner, per dimension.
    std::vector<std::vector<long long>> square(static_cast<std::size_t>(dims));
    for (int q = 0; q < dims; ++q) square[q].resize(static_cast<std::size_t>(grid.Sizes()[q]));
    std::vector<int> at(static_cast<std::size_t>(dims));
    const long long R = rows.Count();
    const long long T = plan.total;

    // The winner among this worker's neurons, from the distances in d.
    auto publish = [&](long long t) {
      Slot mine{-1, 0.0};
      if (endNeuron > firstNeuron) {
        const int best = map.Winner(d.data(), endNeuron - firstNeuron);
        mine = {firstNeuron + best, d[static_cast<std::size_t>(best)]};
      }
      slots[(t & 1) * workers + k] = mine;
    };
    auto rowAt = [&](long long t) {
      return rows.rows[static_cast<std::size_t>(order[static_cast<std::size_t>(t % R)])];
    };

    if (k == 0) Shuffle();
    barrier.Wait();
    const double* x = rowAt(0);
    if (groups > 0) map.GroupDistances(range.first, groups, &x, 1, d.data(), 0);
    publish(0);
    for (long long t = 0; t < T; ++t) {
      barrier.Wait();
      if (sink.stop.load(std::memory_order_acquire)) break;
      // The nearest of all: the workers' ranges in ascending order, so ties
      // still go to the lower number.
      TPreparedMap::Nearest all;
      const Slot* round = slots.data() + (t & 1) * workers;
      for (int w = 0; w < workers; ++w)
        if (round[w].best >= 0) all.Offer(round[w].best, round[w].distance);
      const int* cc = grid.Coords(all.best);

      const double alpha = plan.RateAt(t);
      const double sigma = plan.RadiusAt(t);
      long long farthest = 0;
      for (int q = 0; q < dims; ++q) {
        long long most = 0;
        for (int v = 0; v < grid.Sizes()[q]; ++v) {
          const long long diff = grid.Difference(q, cc[q], v);
          square[q][v] = diff * diff;
          most = std::max(most, diff * diff);
        }
        farthest += most;
      }
      h.SetRadius(sigma, farthest);
      // The coefficients of this worker's neurons, in runs along the last
      // grid dimension (the other coordinates fixed within a run).
      const int last = dims - 1;
      if (firstNeuron < endNeuron) std::copy_n(grid.Coords(firstNeuron), dims, at.begin());
      const double* table = h.Direct() ? h.Table() : nullptr;
      const long long reach = h.Reach();
      double* out = coef.data() - static_cast<std::ptrdiff_t>(range.first) * L;  // indexed by neuron
      for (int i = firstNeuron; i < endNeuron;) {
        long long base = 0;
        for (int q = 0; q < last; ++q) base += square[q][at[q]];
        const int runEnd = std::min(endNeuron, i + (grid.Sizes()[last] - at[last]));
        const long long* sq = square[last].data() + at[last] - i;  // sq[i] for the run's neurons
        for (; i < runEnd; ++i) {
          const long long d2 = base + sq[i];
          const double hi = table != nullptr ? (d2 <= reach ? table[d2] : 0.0) : h(d2);
          out[i] = hi > 0.0 ? alpha * hi : 0.0;
        }
        // On to the next run: the last coordinate back to 0, carrying over.
        at[last] = 0;
        for (int q = last - 1; q >= 0; --q) {
          if (++at[q] < grid.Sizes()[q] || q == 0) break;
          at[q] = 0;
        }
      }
      for (int i = endNeuron; i < range.end * L; ++i) out[i] = 0.0;  // padding lanes

      if (t + 1 < T) {
        if ((t + 1) % R == 0) {
          if (k == 0) Shuffle();
          barrier.Wait();
        }
        const double* y = rowAt(t + 1);
        if (groups > 0) map.UpdateAndDistances(range.first, groups, x, coef.data(), y, d.data());
        publish(t + 1);
        x = y;
      } else if (groups > 0) {
        map.UpdateAndDistances(range.first, groups, x, coef.data(), nullptr, nullptr);
      }
      if (k == 0 && ((t + 1) % kProgressSteps == 0 || t + 1 == T)) sink.Report(t + 1, T, alpha, sigma);
    }
  }
};

// ---------------------------------------------------------------------------
// Batch training.

struct TBatch {
  TPreparedMap& map;
  const TMapGrid& grid;
  const TRowSource& rows;
  const TTrainingPlan& plan;
  const TTrainingOptions& options;
  TProgressSink& sink;
  int workers;
  TBarrier barrier{workers};
  TBatchSums total;
  std::atomic<long long> next{0};  // the next block to take
  std::atomic<long long> turn{0};  // the block whose sums are added next
  const std::vector<double>& mean;
  std::optional<TWinnerScreen> screen;  // of the current weights

  TBatch(TPreparedMap& m, const TMapGrid& g, const TRowSource& r, const TTrainingPlan& p,
         const TTrainingOptions& o, TProgressSink& s, int w, const std::vector<double>& shift)
      : map(m), grid(g), rows(r), plan(p), options(o), sink(s), workers(w), mean(shift) {
    total.Resize(map.NumNeurons(), rows.numInputs);
    screen.emplace(map, mean.data());
  }

  void Work(int k) {
    const int L = map.Lanes();
    const TGroupRange range = GroupsOf(k, workers, map.Groups());
    const int firstNeuron = std::min(range.first * L, map.NumNeurons());
    const int endNeuron = std::min(range.end * L, map.NumNeurons());
    TNeighbourhoodTable h(grid, options.neighbourhood, options.cutGaussian);
    TBatchSums block;
    block.Resize(map.NumNeurons(), rows.numInputs);
    std::vector<double> scratch, work;
    TScreenScratch screenScratch;
    const long long R = rows.Count();
    const long long blocks = (R + kTrainingBlockRows - 1) / kTrainingBlockRows;
    for (long long e = 0; e < plan.total; ++e) {
      const double sigma = plan.EpochRadius(e);
      h.SetRadius(sigma);
      for (;;) {
        const long long b = next.fetch_add(1, std::memory_order_relaxed);
        if (b >= blocks) break;
        const long long first = b * kTrainingBlockRows;
        BatchBlockSums(map, rows.rows.data() + first, std::min(kTrainingBlockRows, R - first), block,
                       scratch, &*screen, &screenScratch);
        // Blocks are added in block order, whoever computed them.
        for (long long now = turn.load(std::memory_order_acquire); now != b;
             now = turn.load(std::memory_order_acquire))
          WaitWhile(turn, now);
        AddBatchSums(total, block);
        turn.store(b + 1, std::memory_order_release);
        turn.notify_all();
      }
      barrier.Wait();
      BatchUpdate(map, total, grid, h, firstNeuron, endNeuron, work);
      barrier.Wait();
      if (k == 0) {
        total.Clear();
        next.store(0, std::memory_order_relaxed);
        turn.store(0, std::memory_order_relaxed);
        if (e + 1 < plan.total) screen.emplace(map, mean.data());
        sink.Report(e + 1, plan.total, 0.0, sigma);
      }
      barrier.Wait();
      if (sink.stop.load(std::memory_order_acquire)) break;
    }
  }
};

// The quality of the trained map: blocks shared out, their sums added in
// block order.
TMapQuality MeasureTrained(const TPreparedMap& map, const TMapGrid& grid, const TRowSource& rows,
                           const std::vector<double>& mean, int workers) {
  const long long R = rows.Count();
  const long long blocks = (R + kTrainingBlockRows - 1) / kTrainingBlockRows;
  std::vector<TQualitySums> parts(static_cast<std::size_t>(blocks));
  const TWinnerScreen screen(map, mean.data());
  std::atomic<long long> next{0};
  RunTrainingWorkers(static_cast<int>(std::min<long long>(workers, blocks)), [&](int) {
    std::vector<double> scratch;
    TScreenScratch screenScratch;
    for (long long b = next.fetch_add(1); b < blocks; b = next.fetch_add(1)) {
      const long long first = b * kTrainingBlockRows;
      parts[static_cast<std::size_t>(b)] = BlockQuality(map, grid, rows.rows.data() + first,
                                                        std::min(kTrainingBlockRows, R - first), scratch,
                                                        &screen, &screenScratch);
    }
  });
  TQualitySums total;
  for (const TQualitySums& part : parts) AddQualitySums(total, part);
  return QualityOf(total);
}

}  // namespace

void CheckTrainingMap(TKohonenNetwork& map, const TTrainingOptions& options) {
  CheckMapForRuns(map, kOrigin);
  PlanTraining(options, map);
  CheckTrainable(map, options.init == TInitialisation::Keep);
}

namespace {

TRowSource CheckedRows(TKohonenNetwork& map, Data& data) {
  if (data.MbrNdxRows <= 0 || data.MbrNdxDataRows <= 0) RefuseRun("The data set has no rows", kOrigin);
  return CollectRows(data, map.layers[1]->numNeurons, kOrigin);
}

}  // namespace

void CheckTrainingData(TKohonenNetwork& map, Data& data) { CheckedRows(map, data); }

TTrainingReport TrainMap(TKohonenNetwork& map, Data& data, const TTrainingOptions& options) {
  CheckMapForRuns(map, kOrigin);
  TTrainingPlan plan = PlanTraining(options, map);
  CheckTrainable(map, options.init == TInitialisation::Keep);
  const TRowSource rows = CheckedRows(map, data);
  const long long R = rows.Count();
  CountSteps(plan, R);

  TPreparedMap prepared(map);
  const TMapGrid grid(map, options.torus);
  const std::vector<double> mean = RowMean(rows);  // the winner screens' shift
  TTrainingRandom random(options.seed);
  TLocalTrainingRows held(rows);
  if (options.init == TInitialisation::Sample) InitSample(prepared, held, random);
  if (options.init == TInitialisation::Linear) InitLinear(prepared, held, grid);

  TProgressSink sink(options.progress);
  TTrainingReport report;
  if (plan.online) {
    TOnline online(prepared, grid, rows, plan, options, random, sink, options.threads);
    RunTrainingWorkers(options.threads, [&](int k) { online.Work(k); });
    report.steps = plan.total;
    report.finalRate = plan.RateAt(plan.total - 1);
    report.finalRadius = plan.RadiusAt(plan.total - 1);
  } else {
    TBatch batch(prepared, grid, rows, plan, options, sink, options.threads, mean);
    RunTrainingWorkers(options.threads, [&](int k) { batch.Work(k); });
    report.epochs = plan.total;
    report.finalRadius = plan.EpochRadius(plan.total - 1);
  }
  if (sink.failure) std::rethrow_exception(sink.failure);

  if (options.measureQuality) report.quality = MeasureTrained(prepared, grid, rows, mean, options.threads);
  prepared.WriteBack(map);
  return report;
}
