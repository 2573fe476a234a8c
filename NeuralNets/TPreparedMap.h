// A Kohonen map's weights laid out once for many winner searches: a run over a
// data set prepares the map and then finds the winners of its rows a few rows
// at a time. Winners and distances are bit for bit those of the plain search
// (each neuron's squared differences summed in ascending input order, each
// difference, square and partial sum rounded to double; ties go to the lower
// neuron number).
#pragma once

#include <cstddef>
#include <vector>

class TKohonenNetwork;

// A copy of the input-to-map weights in lane-interleaved groups: group g holds
// neurons g*L .. g*L+L-1, and for each input j their L weights side by side, so
// that one vector register serves L neurons, each lane summing its own neuron's
// terms. L is chosen at run time from what the processor offers. The copy does
// not follow later changes of the network's weights.
class TPreparedMap {
 public:
  // Rows whose winners FindWinners computes in one pass over the weights.
  static constexpr int kBlockRows = 4;

  // Copies the weights of `net` (its input layer's and map layer's current
  // neuron counts). `lanes` 0 picks the widest kernel the processor supports;
  // 1, 2, 4 or 8 ask for that kernel and fall back to narrower ones when the
  // processor lacks it (1 is the plain one-neuron-at-a-time loop).
  explicit TPreparedMap(TKohonenNetwork& net, int lanes = 0);

  int NumInputs() const { return numInputs; }
  int NumNeurons() const { return numNeurons; }
  int Lanes() const { return lanes; }
  // Whether the processor can run the kernel of `lanes` lanes.
  static bool Supports(int lanes);

  // Winners of `count` input vectors (0 <= count <= kBlockRows), each of
  // NumInputs() values, into winners[0..count-1]. Precondition: the map has
  // neurons (condition text "bestsofar >= 0").
  void FindWinners(const double* const* inputs, int count, int* winners);

  // Distance rows are Stride() values apart: NumNeurons() distances, then
  // padding lanes that belong to no neuron.
  std::size_t Stride() const { return static_cast<std::size_t>(groups) * lanes; }
  // The squared distances of `count` input vectors (any count >= 0) to every
  // neuron: row r's into d + r * Stride(). Reads the prepared weights only, so
  // several threads may call it at once, each with its own d.
  void BlockDistances(const double* const* inputs, int count, double* d) const;
  // The squared distances of one input vector to every neuron, into d
  // (NumNeurons() values).
  void Distances(const double* input, double* d);
  // Neuron `neuron`'s weight vector (NumInputs() values) into out.
  void CopyWeights(int neuron, double* out) const;

  // Training works on the prepared weights and writes them back at the end.
  // Groups are numbered from 0 to Groups() - 1; group g holds neurons
  // g * Lanes() to g * Lanes() + Lanes() - 1 (lanes past the last neuron are
  // padding and stay 0.0).
  int Groups() const { return groups; }
  // BlockDistances for the groups firstGroup .. firstGroup + groupCount - 1
  // only: row r's distances to their neurons go to d + r * stride.
  void GroupDistances(int firstGroup, int groupCount, const double* const* inputs, int count,
                      double* d, std::size_t stride) const;
  // Moves the neurons of group `group` towards x (NumInputs() values): in each
  // lane k whose coefficient c[k] is not 0, every weight w becomes
  // w + c[k] * (x[j] - w); lanes with c[k] == 0 keep their weights. c holds
  // Lanes() values.
  void UpdateGroup(int group, const double* x, const double* c);
  // The winner among one row's distances d (as BlockDistances gives them):
  // the first neuron holds until a later one is strictly nearer.
  int Winner(const double* d) const { return Winner(d, numNeurons); }
  // The same among the first `count` distances (count >= 1).
  int Winner(const double* d, int count) const;
  // acc[k] = acc[k] + h * s[k] for k < n, on this map's kernel width (each
  // element exactly as the plain expression gives it).
  void AddScaled(double* acc, double h, const double* s, int n) const;
  // One online step on groups firstGroup .. firstGroup + groupCount - 1:
  // UpdateGroup for each (c holds groupCount * Lanes() coefficients), and,
  // when y is not null, y's squared distances to the updated neurons into d
  // (groupCount * Lanes() values), computed in the same pass over the weights.
  void UpdateAndDistances(int firstGroup, int groupCount, const double* x, const double* c,
                          const double* y, double* d);
  // Screening (TWinnerScreen): single-precision dot products on the widest
  // kernel, for up to kScreenRows rows at a time, with ScreenLanes() neurons
  // side by side per group (the caller packs them like the prepared weights).
  static constexpr int kScreenRows = 8;
  static int ScreenLanes();
  // For `rows` rows: bias[i] plus the row's dot product with neuron i, row
  // r's into d + r * stride (groups * ScreenLanes() values).
  static void ScreenDots(const float* packed, int groups, int n, const float* const* xs, int rows,
                         const float* bias, float* d, std::size_t stride);
  // The largest and second largest of v[0 .. u-1] (-infinity when missing);
  // false when one of the values is not finite.
  static bool ScreenTop(const float* v, int u, float& largest, float& next);
  // The i < u with v[i] >= bound, ascending, into out; limit + 1 when there
  // are more than `limit`.
  static int ScreenCandidates(const float* v, int u, float bound, int* out, int limit);
  // The squared distances of x to `count` neurons, exactly as the distance
  // kernels give them.
  void Distances(const int* neurons, int count, const double* x, double* out) const;
  // One neuron's squared distance to x, exactly as the distance kernels give it.
  double Distance(int neuron, const double* x) const;

  // y[i] = TrainingExp(x[i]) for i < n, bit for bit, on the widest kernel.
  static void ExpMany(const double* x, double* y, int n);
  // Replaces neuron `neuron`'s weight vector by in (NumInputs() values).
  void SetWeights(int neuron, const double* in);
  // Copies the prepared weights into the network's input-to-map set.
  void WriteBack(TKohonenNetwork& net) const;

  // The winner search's choice over distances offered in ascending neuron
  // order: the first neuron holds until a later one is strictly nearer (a
  // distance replaces the best unless it is >= the best), so ties keep the
  // lower number. The runner-up is the nearest of the other neurons by the
  // same rule; it stays -1 until two neurons have been offered.
  struct Nearest {
    int best = -1;
    int second = -1;
    double bestDistance = 0.0;
    double secondDistance = 0.0;
    void Offer(int i, double d) {
      if (best < 0 || !(d >= bestDistance)) {
        second = best;
        secondDistance = bestDistance;
        best = i;
        bestDistance = d;
      } else if (second < 0 || !(d >= secondDistance)) {
        second = i;
        secondDistance = d;
      }
    }
  };

 private:
  int numInputs;
  int numNeurons;
  int lanes;
  int groups;                   // numNeurons rounded up to whole groups of `lanes`
  std::vector<double> storage;  // the groups, plus room to align them
  double* packed;               // 64-byte aligned start of the groups in storage
  std::vector<double> scratch;  // distances of one block of rows
};
