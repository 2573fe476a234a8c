// MapsmithView: draws a map as one SVG page (U-matrix, component planes,
// hits, labels, colours). main() only forwards to RunMapsmithView, so tests
// run the whole tool in-process.
#pragma once

#include <iosfwd>

// The tool's command line; returns the exit status (0, 1 run-time failure,
// 2 usage error) and writes messages to out and err.
int RunMapsmithView(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
