// Distance kernels of the Kohonen winner search. Each distance is the sum, in
// ascending input order, of (x[j] - row[j]) squared, each difference and
// square rounded to double: bit for bit what a plain one-neuron loop gives.
// Speed comes from working on several neurons at once, one lane each.
#pragma once

namespace winnerdistances {

// Distances of `count` (at most 8) rows to x into d. xx holds every input
// twice in a row (x[0], x[0], x[1], x[1], ...), 2 n values.
void Narrow(const double* const* rows, int count, const double* x, const double* xx, int n,
            double* d);

// Distances of exactly 8 rows to x into d on four-lane registers. Call only
// when HasWideRegisters() is true.
void Wide8(const double* const* rows, const double* x, int n, double* d);

// Whether the processor (and system) support the four-lane registers.
bool HasWideRegisters();

}  // namespace winnerdistances
