// MapsmithMap: runs a data set through a Kohonen map and writes each row with
// its winner (grid coordinates, neuron number or weight vector), and prints
// the map's quality measures on request. main() only forwards to
// RunMapsmithMap, so tests drive the whole tool in-process.
#pragma once

#include <iosfwd>

// The whole tool. Returns the exit status: 0 success, 1 a failure at run time,
// 2 a wrong command line.
int RunMapsmithMap(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
