#include "NeuralNets/TErrorObj.h"

#include <cmath>

#include "FileHandler/ParseTools.h"

// Intermediate results are kept in extended precision and rounded to double
// when stored, as the rest of the library computes.

namespace {

// The number under `keyword`, or `absent` when the keyword is not there.
double Coefficient(const TKQstructure& params, const char* keyword, double absent) {
  const TKQstructure* value = params.Find(keyword);
  return value == nullptr ? absent : TKQstructure::ParseReal(value->head);
}

}  // namespace

double Penalty(int n, const double* weights, const TKQstructure* params) {
  if (params == nullptr || mapsmith::strcasecmp(params->head, "NONE") == 0) return 0.0;
  if (mapsmith::strcasecmp(params->head, "QUADPENALTY") == 0) {
    const long double e1 = Coefficient(*params, "EPSILON1", 0.0);
    const long double e2 = Coefficient(*params, "EPSILON2", 0.0);
    const long double b = Coefficient(*params, "BETA", 1.0);
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
      const double s = weights[i] * weights[i];
      sum = static_cast<double>(sum + (e1 * b * s / (b * s + 1) + e2 * s));
    }
    return sum;
  }
  if (mapsmith::strcasecmp(params->head, "LWF") == 0) {
    const long double rate = Coefficient(*params, "LEARNINGRATE", 0.0);
    const long double forget = Coefficient(*params, "FORGETTINGRATE", 0.0);
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += std::fabs(weights[i]);
    return static_cast<double>(rate * forget * sum);
  }
  return 0.0;
}

// ---------------------------------------------------------------- RMS

void TErrorRMSObj::Reset() {
  count = 0;
  sum = 0.0;
}

void TErrorRMSObj::Accumulate(const double* targets, const double* outputs) {
  for (int i = 0; i < numOutputs; ++i) {
    const long double e = static_cast<long double>(targets[i]) - outputs[i];
    sum = static_cast<double>(e * e + sum);
  }
  count += 1;
}

double TErrorRMSObj::GetError() {
  return static_cast<double>(std::sqrt((static_cast<long double>(sum) / numOutputs) / count));
}

void TErrorRMSObj::AddPenalty(int n, const double* weights, const TKQstructure* params) {
  sum += Penalty(n, weights, params);
}

// ---------------------------------------------------------------- cross-entropy

void TErrorCrossEntropyObj::Reset() {
  count = 0;
  sum = 0.0;
}

void TErrorCrossEntropyObj::Accumulate(const double* targets, const double* outputs) {
  for (int i = 0; i < numOutputs; ++i) {
    const long double t = targets[i];
    const double y = outputs[i];
    if (y == 1.0) {
      sum += t == 1.0L ? 0.0 : 1.0e6;
    } else {
      const long double term = (-t * std::log(y)) - (1 - t) * std::log(1.0 - y);
      sum = static_cast<double>(sum + term);
    }
  }
  count += 1;
}

double TErrorCrossEntropyObj::GetError() { return sum; }

void TErrorCrossEntropyObj::AddPenalty(int n, const double* weights, const TKQstructure* params) {
  sum += Penalty(n, weights, params);
}
