// Arbitrary bytes read as tagged text with ReadTag, the way the file readers
// walk a file: blocks opened by closed start tags, the items of open tags read
// in-bracket, until the end or an error. The same bytes are read a second time
// through a stream buffer that delivers one character per refill; both reads
// must agree element by element and stand at the same offset. Every element
// read is written back with the writers and must read again as itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "FileHandler/ParseTools.h"
#include "fuzz/TrickleBuffer.h"

namespace {

const std::set<std::string> kMessages = {
    "Unexpected end of file during comment", "Unexpected end of file", "Unexpected special character",
    "Illegal Format Version", "Illegal Format of FormatVersion", "Unexpected End Tag", "Expected ']'",
    "Unexpected ']'", "number-expected"};

bool IsSpecial(char c) { return std::string_view("[]/*=<>").find(c) != std::string_view::npos; }

bool Same(const FileTools::Tag& a, const FileTools::Tag& b) {
  return a.kind == b.kind && a.name == b.name && a.value == b.value && a.open == b.open;
}

void CheckShape(const FileTools::Tag& tag) {
  switch (tag.kind) {
    case FileTools::TagEnd:
      if (!tag.name.empty() || !tag.value.empty() || tag.open) std::abort();
      break;
    case FileTools::TagToken:
      if (tag.name.empty() || tag.name == "]" || !tag.value.empty() || tag.open) std::abort();
      break;
    case FileTools::TagStart:
    case FileTools::TagValue:
      if (tag.name.empty() || IsSpecial(tag.name[0])) std::abort();
      if ((tag.kind == FileTools::TagValue) == tag.value.empty()) std::abort();
      if (!tag.value.empty() && IsSpecial(tag.value[0])) std::abort();
      break;
    default:
      std::abort();
  }
}

// Writes a complete element bracketed (a token as itself) and reads it again.
void CheckRoundTrip(const FileTools::Tag& tag) {
  if (tag.kind == FileTools::TagEnd) return;
  if (tag.kind == FileTools::TagToken && (tag.name == "[" || tag.name == "[~")) return;
  if (tag.kind == FileTools::TagValue && mapsmith::strcasecmp(tag.name, "FormatVersion") == 0) return;
  // "[" then "~Name" reads as a start tag, but written back it is "[~Name]", an end tag.
  if (tag.kind != FileTools::TagToken && tag.name[0] == '~') return;
  FileTools writer;
  std::ostringstream out;
  writer.WriteTag(tag, out, true);
  std::istringstream in(out.str());
  FileTools reader;
  FileTools::Tag again = reader.ReadTag({}, in, false);
  if (again.kind != tag.kind || again.name != tag.name || again.value != tag.value || again.open) std::abort();
  if (reader.ReadTag({}, in, false).kind != FileTools::TagEnd) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream whole(text);
  TrickleBuffer trickle(text);
  std::istream slow(&trickle);
  FileTools fast, careful;
  FileTools::Tag a, b;
  std::vector<std::string> blocks;
  bool inBracket = false;
  for (size_t steps = 0; steps <= size + 1; ++steps) {
    const std::string block = blocks.empty() ? std::string() : blocks.back();
    std::string errorA, errorB;
    try {
      fast.ReadTag(block, whole, inBracket, a);
    } catch (const FileTools::Error& e) {
      if (e.stream != &whole || e.code != 0 || !kMessages.count(e.message)) std::abort();
      errorA = e.message;
    }
    try {
      careful.ReadTag(block, slow, inBracket, b);
    } catch (const FileTools::Error& e) {
      errorB = e.message;
    }
    if (errorA != errorB) std::abort();
    if (!errorA.empty()) return 0;
    if (!Same(a, b)) std::abort();
    if (!whole.eof() && static_cast<size_t>(whole.tellg()) != trickle.consumed()) std::abort();
    CheckShape(a);
    CheckRoundTrip(a);

    if (a.kind == FileTools::TagValue) {
      try {
        FileTools::ParseInteger(whole, a.value);
      } catch (const FileTools::Error& e) {
        if (e.message != "integer-expected") std::abort();
      }
      try {
        FileTools::ParseNumber(whole, a.value);
      } catch (const FileTools::Error& e) {
        if (e.message != "number-expected") std::abort();
      }
    }
    if (a.kind == FileTools::TagEnd) {
      if (blocks.empty()) return 0;
      blocks.pop_back();
    } else if (a.kind == FileTools::TagStart && !a.open && !inBracket) {
      blocks.push_back(a.name);
    }
    inBracket = a.open;
  }
  std::abort();  // every element but the last consumes input, so the loop ends first
}
