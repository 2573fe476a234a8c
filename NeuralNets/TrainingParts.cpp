#include "NeuralNets/TrainingParts.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>
#include <thread>

#include "NeuralNets/TKohonenNetwork.h"
#include "NeuralNets/TPreparedMap.h"
#include "NeuralNets/TrainingRandom.h"

namespace {

constexpr const char* kOrigin = "TrainMap";
constexpr long long kDefaultEpochs = 20;
// The power iteration's start vectors come from a generator of their own, so
// that the linear initialisation does not depend on the training seed.
constexpr std::uint64_t kLinearSeed = 0x6C696E656172ULL;

std::string Number(double v) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, v).ptr;
  return std::string(text, end);
}

}  // namespace

// ---------------------------------------------------------------------------
// The schedule.

double TTrainingPlan::RateAt(long long t) const {
  const double T = static_cast<double>(total);
  if (inverse) {
    const double C = T / 100.0;
    return (rate * C) / (C + static_cast<double>(t));
  }
  return rate * (1.0 - static_cast<double>(t) / T);
}

double TTrainingPlan::RadiusAt(long long t) const {
  return finalRadius + (radius - finalRadius) * (1.0 - static_cast<double>(t) / static_cast<double>(total));
}

double TTrainingPlan::EpochRadius(long long e) const {
  const double f = total > 1 ? static_cast<double>(e) / static_cast<double>(total - 1) : 0.0;
  return finalRadius + (radius - finalRadius) * (1.0 - f);
}

TTrainingPlan PlanTraining(const TTrainingOptions& o, const TKohonenNetwork& map) {
  if (o.threads < 1 || o.threads > kMaxTrainingThreads)
    RefuseRun("The number of threads must be from 1 to " + std::to_string(kMaxTrainingThreads), kOrigin);
  if (o.steps < 0) RefuseRun("The number of steps must be positive", kOrigin);
  if (o.epochs < 0) RefuseRun("The number of epochs must be positive", kOrigin);
  if (o.steps > 0 && o.epochs > 0) RefuseRun("Give the number of steps or of epochs, not both", kOrigin);
  TTrainingPlan plan;
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

void CountSteps(TTrainingPlan& plan, long long rows) {
  if (!plan.online || plan.total != 0) return;
  if (plan.epochs > std::numeric_limits<long long>::max() / rows) RefuseRun("Too many steps", kOrigin);
  plan.total = plan.epochs * rows;
}

// ---------------------------------------------------------------------------
// Threads.

void RunTrainingWorkers(int count, const std::function<void(int)>& body) {
  if (count <= 1) {
    body(0);
    return;
  }
  std::atomic<int> gate{0};  // 0: wait, 1: go, 2: give up
  std::vector<std::thread> threads;
  try {
    threads.reserve(static_cast<std::size_t>(count - 1));
    for (int k = 1; k < count; ++k)
      threads.emplace_back([&gate, &body, k] {
        gate.wait(0, std::memory_order_acquire);
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

// ---------------------------------------------------------------------------
// Rows held here.

void TLocalTrainingRows::Pass(std::vector<double>& state, const Adder& add) {
  if (rows_.Count() > 0) add(rows_.rows.data(), rows_.Count(), state.data());
}

void TLocalTrainingRows::Fetch(const std::vector<long long>& which, std::vector<double>& values) {
  const std::size_t n = static_cast<std::size_t>(rows_.numInputs);
  values.resize(which.size() * n);
  for (std::size_t i = 0; i < which.size(); ++i)
    std::copy_n(rows_.rows[static_cast<std::size_t>(which[i])], n, values.begin() + static_cast<std::ptrdiff_t>(i * n));
}

// ---------------------------------------------------------------------------
// Initialisation.

void InitSample(TPreparedMap& map, TTrainingRows& rows, TTrainingRandom& random) {
  const auto count = static_cast<std::uint64_t>(rows.Count());
  std::vector<long long> which(static_cast<std::size_t>(map.NumNeurons()));
  for (long long& w : which) w = static_cast<long long>(random.Below(count));
  std::vector<double> values;
  rows.Fetch(which, values);
  const std::size_t n = static_cast<std::size_t>(rows.NumInputs());
  for (int i = 0; i < map.NumNeurons(); ++i) map.SetWeights(i, values.data() + static_cast<std::size_t>(i) * n);
}

namespace {

// The rows' covariance, as a product with vectors: kept as a matrix when it
// is no larger than the map's weights (or small anyway), else computed from
// the rows at each product, so the working space stays that of the map. Every
// sum over rows is one pass in row order.
class TCovariance {
 public:
  TCovariance(TTrainingRows& rows, int neurons) : rows_(rows), n_(rows.NumInputs()) {
    const std::size_t nn = static_cast<std::size_t>(n_);
    const double count = static_cast<double>(rows.Count());
    mean_.assign(nn, 0.0);
    rows_.Pass(mean_, [n = n_](const double* const* x, long long k, double* m) {
      for (long long r = 0; r < k; ++r)
        for (int j = 0; j < n; ++j) m[j] += x[r][j];
    });
    for (double& m : mean_) m /= count;
    if (n_ > std::max(neurons, 1024)) return;
    matrix_.assign(nn * nn, 0.0);
    rows_.Pass(matrix_, [this, nn](const double* const* x, long long k, double* c) {
      std::vector<double> dev(nn);
      for (long long r = 0; r < k; ++r) {
        for (int j = 0; j < n_; ++j) dev[j] = x[r][j] - mean_[j];
        for (int a = 0; a < n_; ++a) {
          double* row = c + a * nn;
          for (int b = a; b < n_; ++b) row[b] += dev[a] * dev[b];
        }
      }
    });
    for (int a = 0; a < n_; ++a)
      for (int b = a; b < n_; ++b) matrix_[b * nn + a] = matrix_[a * nn + b] = matrix_[a * nn + b] / count;
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
    rows_.Pass(out, [this, &v, nn](const double* const* x, long long k, double* o) {
      std::vector<double> dev(nn);
      for (long long r = 0; r < k; ++r) {
        double dot = 0.0;
        for (int j = 0; j < n_; ++j) dot += (dev[j] = x[r][j] - mean_[j]) * v[j];
        for (int j = 0; j < n_; ++j) o[j] += dev[j] * dot;
      }
    });
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
  TTrainingRows& rows_;
  int n_;
  std::vector<double> mean_, matrix_;
};

}  // namespace

void InitLinear(TPreparedMap& map, TTrainingRows& rows, const TMapGrid& grid) {
  const int n = rows.NumInputs();
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
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return grid.Sizes()[a] > grid.Sizes()[b]; });
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
// Blocks in parts.

long long BlockCount(long long rows) { return (rows + kTrainingBlockRows - 1) / kTrainingBlockRows; }

TBlockRange BlocksOfPart(long long blocks, int parts, int part) {
  const long long each = blocks / parts;
  const long long more = blocks % parts;  // the first `more` parts take one block more
  const long long first = part * each + std::min<long long>(part, more);
  return {first, first + each + (part < more ? 1 : 0)};
}

void TCompactBatchSums::From(const TBatchSums& block) {
  const std::size_t n = static_cast<std::size_t>(block.numInputs);
  neurons.assign(block.touched.begin(), block.touched.end());
  counts.resize(neurons.size());
  sums.resize(neurons.size() * n);
  for (std::size_t k = 0; k < neurons.size(); ++k) {
    const int j = neurons[k];
    counts[k] = block.counts[j];
    std::copy_n(block.sums.begin() + static_cast<std::ptrdiff_t>(j * n), n,
                sums.begin() + static_cast<std::ptrdiff_t>(k * n));
  }
}

void AddBatchSums(TBatchSums& total, const TCompactBatchSums& block) {
  const std::size_t n = static_cast<std::size_t>(total.numInputs);
  for (std::size_t k = 0; k < block.neurons.size(); ++k) {
    const int j = block.neurons[k];
    if (total.counts[j] == 0) total.touched.push_back(j);
    total.counts[j] += block.counts[k];
    double* s = total.sums.data() + static_cast<std::size_t>(j) * n;
    const double* b = block.sums.data() + k * n;
    for (std::size_t i = 0; i < n; ++i) s[i] += b[i];
  }
}
