// MapsmithLabel: labels a Kohonen map from a labelled data set (each neuron
// gets the labels of the rows it wins), or labels new rows with the labels of
// their winners. main() only forwards to RunMapsmithLabel, so tests drive the
// whole tool in-process.
#pragma once

#include <iosfwd>

// The whole tool. Returns the exit status: 0 success, 1 a failure at run time,
// 2 a wrong command line.
int RunMapsmithLabel(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
