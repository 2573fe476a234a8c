// Arbitrary bytes as a parameter file, through the tool's own entry. The
// creation run is replaced by a check of what validation let through.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "Kohonen/Create/Mapsmith.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::ostringstream out, err;
  const int status = RunParameterText(in, out, err,
                                      [](const MapParameters& p, std::ostream&, std::ostream&) {
                                        // Validation guarantees a buildable map.
                                        if (p.inputs < 1 || p.dimensions < 1 ||
                                            p.mapSizes.size() != static_cast<size_t>(p.dimensions) ||
                                            p.fileName.empty() || !(p.minWeight <= p.maxWeight))
                                          std::abort();
                                        int64_t weights = p.inputs;
                                        for (int32_t s : p.mapSizes) {
                                          if (s < 1) std::abort();
                                          weights *= s;
                                          if (weights > INT32_MAX) std::abort();
                                        }
                                        return 0;
                                      });
  // A refusal is exactly one line on the error stream; success prints nothing.
  const std::string e = err.str();
  if (status == 1 && (e.empty() || e.find('\n') != e.size() - 1)) std::abort();
  if (status == 0 && !e.empty()) std::abort();
  if (!out.str().empty()) std::abort();
  return 0;
}
