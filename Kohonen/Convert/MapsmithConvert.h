// The MapsmithConvert tool: converts data sets between data set files, CSV
// and SOM_PAK data files, and maps between network files and SOM_PAK
// codebooks, optionally rescaling the data's input columns. main() only
// forwards to RunMapsmithConvert, so tests drive the whole tool in-process.
#pragma once

#include <iosfwd>

// Runs the tool on a command line; returns the exit status (0 success, 1 a
// failure at run time, 2 a wrong command line).
int RunMapsmithConvert(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
