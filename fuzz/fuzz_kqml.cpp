// Arbitrary bytes as message text: whatever parses must print, parse again
// and print the same text; whatever does not parse must end in a syntax-error
// reply, never a crash, a leak or a deep recursion.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "KQmessage/KQML.h"

namespace {

std::string Text(const TKQstructure& message) {
  std::ostringstream out;
  message.Print(out);
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The parser reads a zero-terminated text: it ends at the first zero byte.
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::ostringstream err;
  const char* cursor = input.c_str();
  std::string first;
  try {
    auto message = TKQstructure::ParseAll(cursor, err);
    first = Text(*message);
    // A copy prints the same text.
    if (Text(TKQstructure(*message)) != first) std::abort();
  } catch (const TKQstructure::Error& e) {
    if (!e.reply || Text(*e.reply) != "(error :type syntax-error)") std::abort();
    const std::string written = err.str();
    if (!written.empty() && written != "special character unexpected\n") std::abort();
    return 0;
  }
  if (!err.str().empty()) std::abort();

  std::ostringstream err2;
  const char* again = first.c_str();
  std::string second;
  try {
    second = Text(*TKQstructure::ParseAll(again, err2));
  } catch (const TKQstructure::Error&) {
    std::abort();  // printed text always parses
  }
  if (second != first) std::abort();
  return 0;
}
