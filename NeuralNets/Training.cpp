// Map training: option and data checks, initialisation, the online and batch
// loops on worker threads, and the final quality measure. All work happens on
// the prepared (lane-interleaved) copy of the weights, which is written back
// into the network only when training has finished.
#include "NeuralNets/Training.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "DataObject/Data.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TrainingBlocks.h"
#include "NeuralNets/TrainingRandom.h"

namespace {

constexpr const char* kOrigin = "TrainMap";
constexpr long long kDefaultEpochs = 20;
constexpr long long kProgressSteps = 256;
// The power iteration's start vectors come from a generator of their own, so
// that the linear initialisation does not depend on the training seed.
constexpr std::uint64_t kLinearSeed = 0x6C696E656172ULL;

std::string Number(double v) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, v).ptr;
  return std::string(text, end);
}

// The options as they apply to this map: the schedule the loops follow.
struct TPlan {
  bool online = false;
  long long total = 0;  // online: steps T (known once the rows are counted); batch: epochs E
  long long epochs = 0;
  double rate = 0.0;
  bool inverse = false;
  double radius = 0.0;
  double finalRadius = 0.0;

  double RateAt(long long t) const {
    const double T = static_cast<double>(total);
    if (inverse) {
      const double C = T / 100.0;
      return (rate * C) / (C + static_cast<double>(t));
    }
    return rate * (1.0 - static_cast<double>(t) / T);
  }
  double RadiusAt(long long t) const {
    return finalRadius + (radius - finalRadius) * (1.0 - static_cast<double>(t) / static_cast<double>(total));
  }
  double EpochRadius(long long e) const {
    const double f = total > 1 ? static_cast<double>(e) / static_cast<double>(total - 1) : 0.0;
    return finalRadius + (radius - finalRadius) * (1.0 - f);
  }
};

TPlan CheckOptions(const TTrainingOptions& o, const TKohonenNetwork& map) {
  if (o.threads < 1 || o.threads > kMaxTrainingThreads)
    RefuseRun("The number of threads must be from 1 to " + std::to_string(kMaxTrainingThreads), kOrigin);
  if (o.steps < 0) RefuseRun("The number of steps must be positive", kOrigin);
  if (o.epochs < 0) RefuseRun("The number of epochs must be positive", kOrigin);
  if (o.steps > 0 && o.epochs > 0) RefuseRun("Give the number of steps or of epochs, not both", kOrigin);
  TPlan plan;
  plan.online = o.mode == TTrainingMode::Online;
  if (!plan.online && o.steps > 0) RefuseRun("Batch training counts epochs, not steps", kOrigin);
  if (!(o.rate > 0.0 && o.rate <= 1.0)) RefuseRun("The rate must be greater than 0 and at most 1", kOrigin);
  if (o.radius && !(std::isfinite(*o.radius) && *o.radius >= 0.0))
    RefuseRun("The radius must be a finite number of at least 0", kOrigin);
  if (!(std::isfinite(o.finalRadius) && o.finalRadius >= 0.0))
    RefuseRun("The final radius must be a finite number of at least 0", kOrigin);
  plan.finalRadius = o.finalRadius;
  if (o.radius) {
    plan.radius = *o.radius;
    if (plan.finalRadius > plan.radius)
      RefuseRun("The final radius " + Number(plan.finalRadius) + " is larger than the radius " +
                    Number(plan.radius),
                kOrigin);
  } else {
    int largest = 1;
    for (int k = 0; k < map.numDimensions; ++k) largest = std::max(largest, map.dimensions[k]);
    plan.radius = std::max(largest / 2.0, plan.finalRadius);
  }
  plan.rate = o.rate;
  plan.inverse = o.rateSchedule == TRateSchedule::Inverse;
  plan.epochs = o.steps > 0 ? 0 : o.epochs > 0 ? o.epochs : kDefaultEpochs;
  plan.total = plan.online ? o.steps : plan.epochs;
  return plan;
}

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

// Runs body(worker) for workers 0 .. count - 1, worker 0 on the calling
// thread. The body must not throw.
template <class Body>
void RunWorkers(int count, const Body& body) {
  if (count == 1) {
    body(0);
    return;
  }
  std::atomic<int> gate{0};  // 0: wait, 1: go, 2: give up
  std::vector<std::thread> threads;
  try {
    threads.reserve(static_cast<std::size_t>(count - 1));
    for (int k = 1; k < count; ++k)
      threads.emplace_back([&gate, &body, k] {
        WaitWhile(gate, 0);
        if (gate.load(std::memory_order_acquire) == 1) body(k);
      });
  } catch (const std::system_error&) {
    gate.store(2, std::memory_order_release);
    gate.notify_all();
    for (std::thread& t : threads) t.join();
    RefuseRun("Cannot start " + std::to_string(count) + " threads", kOrigin);
  }
  gate.store(1, std::memory_order_release);
  gate.notify_all();
  body(0);
  for (std::thread& t : threads) t.join();
}

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
// Initialisation.

void InitSample(TPreparedMap& map, const TRowSource& rows, TTrainingRandom& random) {
  const auto count = static_cast<std::uint64_t>(rows.Count());
  for (int i = 0; i < map.NumNeurons(); ++i) map.SetWeights(i, rows.rows[random.Below(count)]);
}

// The data's covariance, as a product with vectors: kept as a matrix when it
// is no larger than the map's weights (or small anyway), else computed from
// the rows at each product, so the working space stays that of the map.
class TCovariance {
 public:
  TCovariance(const TRowSource& rows, int neurons) : rows_(rows), n_(rows.numInputs) {
    const std::size_t nn = static_cast<std::size_t>(n_);
    mean_.assign(nn, 0.0);
    dev_.resize(nn);
    for (const double* x : rows.rows)
      for (int j = 0; j < n_; ++j) mean_[j] += x[j];
    for (double& m : mean_) m /= static_cast<double>(rows.Count());
    if (n_ > std::max(neurons, 1024)) return;
    matrix_.assign(nn * nn, 0.0);
    for (const double* x : rows.rows) {
      for (int j = 0; j < n_; ++j) dev_[j] = x[j] - mean_[j];
      for (int a = 0; a < n_; ++a) {
        double* row = matrix_.data() + a * nn;
        for (int b = a; b < n_; ++b) row[b] += dev_[a] * dev_[b];
      }
    }
    for (int a = 0; a < n_; ++a)
      for (int b = a; b < n_; ++b)
        matrix_[b * nn + a] = matrix_[a * nn + b] = matrix_[a * nn + b] / static_cast<double>(rows.Count());
  }
  const std::vector<double>& Mean() const { return mean_; }
  bool Stored() const { return !matrix_.empty(); }
  // out = C v.
  void Times(const std::vector<double>& v, std::vector<double>& out) {
    const std::size_t nn = static_cast<std::size_t>(n_);
    if (Stored()) {
      for (int a = 0; a < n_; ++a) {
        double s = 0.0;
        for (int b = 0; b < n_; ++b) s += matrix_[a * nn + b] * v[b];
        out[a] = s;
      }
      return;
    }
    std::fill(out.begin(), out.end(), 0.0);
    for (const double* x : rows_.rows) {
      double dot = 0.0;
      for (int j = 0; j < n_; ++j) dot += (dev_[j] = x[j] - mean_[j]) * v[j];
      for (int j = 0; j < n_; ++j) out[j] += dev_[j] * dot;
    }
    for (double& e : out) e /= static_cast<double>(rows_.Count());
  }
  // Removes the component of variance lambda along the unit vector v.
  void Deflate(double lambda, const std::vector<double>& v) {
    const std::size_t nn = static_cast<std::size_t>(n_);
    if (!Stored()) return;  // the products are kept orthogonal to v instead
    for (int a = 0; a < n_; ++a)
      for (int b = 0; b < n_; ++b) matrix_[a * nn + b] -= lambda * v[a] * v[b];
  }

 private:
  const TRowSource& rows_;
  int n_;
  std::vector<double> mean_, dev_, matrix_;
};

void InitLinear(TPreparedMap& map, const TRowSource& rows, const TMapGrid& grid) {
  const int n = rows.numInputs;
  const std::size_t nn = static_cast<std::size_t>(n);
  TCovariance cov(rows, map.NumNeurons());
  const std::vector<double>& mean = cov.Mean();

  // The largest components by power iteration, each found in what the ones
  // before it leave of the covariance (deflation), kept orthogonal to them.
  const int comps = std::min(grid.Dimensions(), n);
  const int iterations = cov.Stored() ? 1000 : 100;
  std::vector<std::vector<double>> axes;
  std::vector<double> spread;
  TTrainingRandom start(kLinearSeed);
  std::vector<double> v(nn), w(nn);
  auto orthogonalise = [&](std::vector<double>& x) {
    for (const auto& a : axes) {
      double dot = 0.0;
      for (int j = 0; j < n; ++j) dot += x[j] * a[j];
      for (int j = 0; j < n; ++j) x[j] -= dot * a[j];
    }
  };
  auto normalise = [&](std::vector<double>& x) {
    double norm = 0.0;
    for (double e : x) norm += e * e;
    norm = std::sqrt(norm);
    if (norm > 0.0)
      for (double& e : x) e /= norm;
    return norm;
  };
  for (int p = 0; p < comps; ++p) {
    for (double& e : v) e = start.Unit() - 0.5;
    orthogonalise(v);
    normalise(v);
    for (int it = 0; it < iterations; ++it) {
      cov.Times(v, w);
      orthogonalise(w);
      if (normalise(w) == 0.0) break;  // nothing left to spread along
      double change = 0.0;
      for (int j = 0; j < n; ++j) change = std::max(change, std::abs(w[j] - v[j]));
      v.swap(w);
      if (change < 1e-13) break;
    }
    // The sign of a component is arbitrary: its largest entry is made positive.
    int big = 0;
    for (int j = 1; j < n; ++j)
      if (std::abs(v[j]) > std::abs(v[big])) big = j;
    if (v[big] < 0)
      for (double& e : v) e = -e;
    cov.Times(v, w);
    double lambda = 0.0;
    for (int j = 0; j < n; ++j) lambda += v[j] * w[j];
    lambda = std::max(lambda, 0.0);
    cov.Deflate(lambda, v);
    axes.push_back(v);
    spread.push_back(std::sqrt(lambda));
  }

  // Map dimensions by decreasing size take the components in order.
  std::vector<int> order(static_cast<std::size_t>(grid.Dimensions()));
  for (int k = 0; k < grid.Dimensions(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return grid.Sizes()[a] > grid.Sizes()[b]; });
  std::vector<double> weights(std::max<std::size_t>(nn, 1));
  for (int i = 0; i < map.NumNeurons(); ++i) {
    std::copy(mean.begin(), mean.end(), weights.begin());
    const int* c = grid.Coords(i);
    for (int p = 0; p < comps; ++p) {
      const int k = order[p];
      const int size = grid.Sizes()[k];
      const double u = size > 1 ? 2.0 * c[k] / (size - 1) - 1.0 : 0.0;
      const double scale = u * spread[p];
      for (int j = 0; j < n; ++j) weights[j] += scale * axes[p][j];
    }
    map.SetWeights(i, weights.data());
  }
}

// ---------------------------------------------------------------------------
// Online training.

struct TOnline {
  TPreparedMap& map;
  const TMapGrid& grid;
  const TRowSource& rows;
  const TPlan& plan;
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

  TOnline(TPreparedMap& m, const TMapGrid& g, const TRowSource& r, const TPlan& p,
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
  const TPlan& plan;
  const TTrainingOptions& options;
  TProgressSink& sink;
  int workers;
  TBarrier barrier{workers};
  TBatchSums total;
  std::atomic<long long> next{0};  // the next block to take
  std::atomic<long long> turn{0};  // the block whose sums are added next
  const std::vector<double>& mean;
  std::optional<TWinnerScreen> screen;  // of the current weights

  TBatch(TPreparedMap& m, const TMapGrid& g, const TRowSource& r, const TPlan& p,
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
  RunWorkers(static_cast<int>(std::min<long long>(workers, blocks)), [&](int) {
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
  CheckOptions(options, map);
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
  TPlan plan = CheckOptions(options, map);
  CheckTrainable(map, options.init == TInitialisation::Keep);
  const TRowSource rows = CheckedRows(map, data);
  const long long R = rows.Count();
  if (plan.online && plan.total == 0) {
    if (plan.epochs > std::numeric_limits<long long>::max() / R) RefuseRun("Too many steps", kOrigin);
    plan.total = plan.epochs * R;
  }

  TPreparedMap prepared(map);
  const TMapGrid grid(map, options.torus);
  const std::vector<double> mean = RowMean(rows);  // the winner screens' shift
  TTrainingRandom random(options.seed);
  if (options.init == TInitialisation::Sample) InitSample(prepared, rows, random);
  if (options.init == TInitialisation::Linear) InitLinear(prepared, rows, grid);

  TProgressSink sink(options.progress);
  TTrainingReport report;
  if (plan.online) {
    TOnline online(prepared, grid, rows, plan, options, random, sink, options.threads);
    RunWorkers(options.threads, [&](int k) { online.Work(k); });
    report.steps = plan.total;
    report.finalRate = plan.RateAt(plan.total - 1);
    report.finalRadius = plan.RadiusAt(plan.total - 1);
  } else {
    TBatch batch(prepared, grid, rows, plan, options, sink, options.threads, mean);
    RunWorkers(options.threads, [&](int k) { batch.Work(k); });
    report.epochs = plan.total;
    report.finalRadius = plan.EpochRadius(plan.total - 1);
  }
  if (sink.failure) std::rethrow_exception(sink.failure);

  if (options.measureQuality) report.quality = MeasureTrained(prepared, grid, rows, mean, options.threads);
  prepared.WriteBack(map);
  return report;
}
