// Error measures: accumulate, over a run of patterns, how far a network's
// outputs lie from the desired outputs, plus an optional penalty on the size
// of the weights chosen by a parameter message.
#pragma once

#include "KQmessage/KQML.h"

// The interface of every error measure. A training pass calls Reset, then
// Accumulate once per pattern and possibly AddPenalty, then reads GetError.
class TErrorObj {
 public:
  explicit TErrorObj(int outputs) : numOutputs(outputs) {}
  virtual ~TErrorObj() = default;

  // Forgets every pattern and penalty accumulated so far.
  virtual void Reset() = 0;
  // Adds one pattern: numOutputs desired values and numOutputs actual outputs.
  virtual void Accumulate(const double* targets, const double* outputs) = 0;
  virtual double GetError() = 0;
  // Adds Penalty(n, weights, params). A coefficient that is not a number
  // throws TKQstructure::Error and leaves the measure as it was.
  virtual void AddPenalty(int n, const double* weights, const TKQstructure* params) = 0;

  int numOutputs;  // values per pattern, fixed at construction
  int count = 0;   // patterns since construction or the last Reset
};

// Root mean square error: the root of the summed squared differences divided
// by numOutputs and by the number of patterns. A penalty lies inside the root.
// GetError needs numOutputs >= 1 and at least one pattern since Reset.
class TErrorRMSObj : public TErrorObj {
 public:
  explicit TErrorRMSObj(int outputs) : TErrorObj(outputs) {}
  void Reset() override;
  void Accumulate(const double* targets, const double* outputs) override;
  double GetError() override;
  void AddPenalty(int n, const double* weights, const TKQstructure* params) override;

  double sum = 0.0;
};

// Cross-entropy error, summed over all patterns and outputs (not averaged).
// An output of exactly 1.0 costs nothing for a target of 1.0 and a fixed
// 1.0e6 otherwise; every other output goes to the logarithm as it is.
class TErrorCrossEntropyObj : public TErrorObj {
 public:
  explicit TErrorCrossEntropyObj(int outputs) : TErrorObj(outputs) {}
  void Reset() override;
  void Accumulate(const double* targets, const double* outputs) override;
  double GetError() override;
  void AddPenalty(int n, const double* weights, const TKQstructure* params) override;

  double sum = 0.0;
};

// The weight penalty for the n weights at `weights`, chosen by the head of
// `params` (compared without regard to case):
//   absent or "NONE": 0.0;
//   "QUADPENALTY": the sum over the weights of e1 b s / (b s + 1) + e2 s with
//     s = w w, e1 = "EPSILON1" (0.0 when absent), e2 = "EPSILON2" (0.0 when
//     absent), b = "BETA" (1.0 when absent);
//   "LWF": ("LEARNINGRATE" x "FORGETTINGRATE") x the sum of |w|, a missing
//     rate counting as 0.0;
//   any other head: 0.0.
// A coefficient whose text is not a number throws TKQstructure::Error with the
// "number-expected" reply.
double Penalty(int n, const double* weights, const TKQstructure* params);
