// Arbitrary bytes read as the numbers of data rows two ways: by
// ReadNumberElement (which reads buffered tokens in place) and by ReadTag and
// ReadNumberToken. Both must give the same values bit for bit, the same errors
// and the same stream positions, and ReadNumberElement the same through a
// stream buffer that hands out one character at a time.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "FileHandler/ParseTools.h"
#include "fuzz/TrickleBuffer.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

struct Step {
  std::string what;  // the value's bits, or the error message
  std::streamoff position;
};

std::vector<Step> Read(std::istream& in, bool element, bool positions) {
  FileTools tools;
  FileTools::Tag tag;
  std::vector<Step> steps;
  for (int i = 0; i < 64; ++i) {
    try {
      const double value = element ? tools.ReadNumberElement("Data", in, tag)
                                   : (tools.ReadTag("Data", in, false, tag), FileTools::ReadNumberToken(tag, in));
      char bits[sizeof value];
      std::memcpy(bits, &value, sizeof value);
      steps.push_back({std::string(bits, sizeof bits), positions ? std::streamoff(in.tellg()) : 0});
    } catch (const FileTools::Error& e) {
      steps.push_back({"error: " + e.message, positions ? std::streamoff(in.tellg()) : 0});
      break;
    }
  }
  return steps;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream a(text), b(text);
  const std::vector<Step> expected = Read(a, false, true);
  const std::vector<Step> got = Read(b, true, true);
  Check(got.size() == expected.size());
  for (size_t i = 0; i < got.size(); ++i)
    Check(got[i].what == expected[i].what && got[i].position == expected[i].position);
  TrickleBuffer trickle(text);
  std::istream slow(&trickle);
  const std::vector<Step> slowSteps = Read(slow, true, false);
  Check(slowSteps.size() == expected.size());
  for (size_t i = 0; i < slowSteps.size(); ++i) Check(slowSteps[i].what == expected[i].what);
  return 0;
}
