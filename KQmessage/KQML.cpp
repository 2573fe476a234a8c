#include "KQmessage/KQML.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <iostream>
#include <system_error>
#include <utility>

#include "FileHandler/ParseTools.h"
#include "KQmessage/Assert.h"
#include "KQmessage/NameIndex.h"

namespace {

constexpr int32_t kInitialCapacity = 16;
// Structures with more pairs than this find keywords through an index; the
// usual message of a few pairs is scanned.
constexpr int32_t kIndexAbove = 16;

// FNV-1a over the keyword in upper case, so that keywords equal without
// regard to case hash alike (the case rule of mapsmith::strcasecmp).
std::size_t KeywordHash(std::string_view keyword) {
  std::uint64_t h = 14695981039346656037ull;
  for (const char c : keyword) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 'a' && u <= 'z') u = static_cast<unsigned char>(u - ('a' - 'A'));
    h = (h ^ u) * 1099511628211ull;
  }
  return static_cast<std::size_t>(h ^ (h >> 32));
}
// Specials of the message grammar; the trailing-text check uses none.
constexpr std::string_view kMessageSpecials = "():";

[[noreturn]] void ThrowReply(std::unique_ptr<TKQstructure> reply) {
  throw TKQstructure::Error{std::shared_ptr<TKQstructure>(std::move(reply))};
}

// The blanks that formatted input skips (the C locale's white space).
bool IsBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Printable ASCII without the blank: the only characters a token holds.
bool IsTokenChar(unsigned char c) { return c >= 33 && c <= 126; }

// "%ld" into a 32-bit value: blanks, an optional sign, at least one decimal
// digit; whatever follows the digits is ignored. A number outside the 32-bit
// range does not convert (the caller would otherwise get a cut value).
bool ReadInteger(const std::string& text, int32_t& value) {
  const char* p = text.c_str();
  while (IsBlank(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  if (*p < '0' || *p > '9') return false;
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > limit) return false;
  }
  value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return true;
}

// "%lf": what strtod accepts (blanks, sign, decimal or hexadecimal forms,
// inf, nan); whatever follows the number is ignored.
bool ReadReal(const std::string& text, double& value) {
  const char* begin = text.c_str();
  char* end = nullptr;
  value = std::strtod(begin, &end);
  return end != begin;
}

// "%f": fixed notation with six decimals, as long as the number needs.
std::string FormatReal(double value) {
  std::string text(64, '\0');
  for (;;) {
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value,
                                      std::chars_format::fixed, 6);
    if (result.ec == std::errc()) {
      text.resize(static_cast<size_t>(result.ptr - text.data()));
      return text;
    }
    text.resize(text.size() * 2);
  }
}

// Reads one token at the cursor: non-printable characters are skipped; the end
// of the text gives the empty token; a special character is a token of its
// own; otherwise a word runs over printable non-special characters, and a ':'
// never ends a word once it has begun.
std::string NextToken(const char*& cursor, std::string_view specials) {
  const char* p = cursor;
  while (*p != '\0' && !IsTokenChar(static_cast<unsigned char>(*p))) ++p;
  if (*p == '\0') {
    cursor = p;
    return {};
  }
  if (specials.find(*p) != std::string_view::npos) {
    cursor = p + 1;
    return std::string(1, *p);
  }
  const char* start = p;
  while (IsTokenChar(static_cast<unsigned char>(*p)) &&
         (*p == ':' || specials.find(*p) == std::string_view::npos))
    ++p;
  cursor = p;
  return std::string(start, p);
}

[[noreturn]] void ThrowSyntaxError() { ThrowReply(TKQstructure::MakeError("syntax-error")); }

// A head, keyword or atom must be a word, never empty or a special.
std::string RequireWord(std::string token, std::ostream& err) {
  if (token.empty() || token == "(" || token == ")" || token == ":") {
    err << "special character unexpected\n";
    err.flush();
    ThrowSyntaxError();
  }
  return token;
}

}  // namespace

TKQstructure::TKQstructure() : TKQstructure("unknown") {}

TKQstructure::TKQstructure(std::string_view text) : TKQstructure(text, kInitialCapacity) {}

TKQstructure::TKQstructure(std::string_view text, int32_t room)
    : head(text),
      pairs(room > 0 ? std::make_unique<Pair[]>(static_cast<size_t>(room)) : nullptr),
      capacity(room),
      count(0) {}

TKQstructure::TKQstructure(const TKQstructure& other) : TKQstructure(other.head, 0) {
  CopyFrom(other);
}

TKQstructure& TKQstructure::operator=(const TKQstructure& other) {
  if (this == &other) return *this;
  // Copy first: the source may be one of this structure's own values.
  TKQstructure copy(other);
  std::swap(head, copy.head);
  std::swap(pairs, copy.pairs);
  std::swap(capacity, copy.capacity);
  std::swap(count, copy.count);
  std::swap(index_, copy.index_);
  return *this;  // the former contents die with `copy`
}

TKQstructure::~TKQstructure() {
  if (count == 0) return;
  // Values are taken apart one level at a time, so a deep chain costs heap,
  // not stack.
  std::vector<std::unique_ptr<TKQstructure>> pending;
  DetachValues(pending);
  while (!pending.empty()) {
    std::unique_ptr<TKQstructure> node = std::move(pending.back());
    pending.pop_back();
    node->DetachValues(pending);
  }
}

void TKQstructure::DetachValues(std::vector<std::unique_ptr<TKQstructure>>& into) {
  for (int32_t i = 0; i < count; ++i) into.push_back(std::move(pairs[i].value));
  count = 0;
  index_.reset();
}

void TKQstructure::IndexAll() {
  index_.reset();
  if (count <= kIndexAbove) return;
  index_ = std::make_unique<NameIndex>();
  for (int32_t i = 0; i < count; ++i) index_->Insert(KeywordHash(pairs[i].keyword), i);
}

// Precondition: this structure has no pairs and `source` is not inside it.
// Each copied structure gets exactly as many entries as its source uses.
void TKQstructure::CopyFrom(const TKQstructure& source) {
  std::vector<std::pair<const TKQstructure*, TKQstructure*>> work{{&source, this}};
  while (!work.empty()) {
    const auto [from, to] = work.back();
    work.pop_back();
    to->pairs = from->count > 0 ? std::make_unique<Pair[]>(static_cast<size_t>(from->count))
                                : nullptr;
    to->capacity = from->count;
    for (int32_t i = 0; i < from->count; ++i) {
      const Pair& entry = from->pairs[i];
      std::unique_ptr<TKQstructure> value(new TKQstructure(entry.value->head, 0));
      TKQstructure* target = value.get();
      to->pairs[i].keyword = entry.keyword;
      to->pairs[i].value = std::move(value);
      ++to->count;
      work.emplace_back(entry.value.get(), target);
    }
    to->IndexAll();
  }
}

int32_t TKQstructure::IndexOf(std::string_view keyword) const {
  if (index_ != nullptr) {
    // Keywords are unique without regard to case, so the one match is the
    // match of highest index.
    return index_->Find(
        keyword, KeywordHash(keyword), [this](int32_t i) -> std::string_view { return pairs[i].keyword; },
        [](std::string_view a, std::string_view b) { return mapsmith::strcasecmp(a, b) == 0; });
  }
  for (int32_t i = count - 1; i >= 0; --i)
    if (mapsmith::strcasecmp(pairs[i].keyword, keyword) == 0) return i;
  return -1;
}

void TKQstructure::Append(std::string_view keyword, std::unique_ptr<TKQstructure> value) {
  if (count == capacity) {
    const int32_t grown = std::max(capacity * 2, kInitialCapacity);
    auto larger = std::make_unique<Pair[]>(static_cast<size_t>(grown));
    for (int32_t i = 0; i < count; ++i) larger[i] = std::move(pairs[i]);
    pairs = std::move(larger);
    capacity = grown;
  }
  pairs[count].keyword = keyword;
  pairs[count].value = std::move(value);
  ++count;
  if (index_ != nullptr)
    index_->Insert(KeywordHash(pairs[count - 1].keyword), count - 1);
  else if (count > kIndexAbove)
    IndexAll();
}

void TKQstructure::Set(std::string_view keyword, std::unique_ptr<TKQstructure> newval) {
  MAPSMITH_ASSERT(newval != NULL);
  const int32_t index = IndexOf(keyword);
  if (index >= 0) {
    pairs[index].value = std::move(newval);
    return;
  }
  Append(keyword, std::move(newval));
}

void TKQstructure::SetString(std::string_view keyword, std::string_view text) {
  Set(keyword, std::make_unique<TKQstructure>(text));
}

void TKQstructure::SetInteger(std::string_view keyword, int32_t value) {
  char text[16];
  const auto result = std::to_chars(text, text + sizeof text, value);
  SetString(keyword, std::string_view(text, static_cast<size_t>(result.ptr - text)));
}

void TKQstructure::SetReal(std::string_view keyword, double value) {
  SetString(keyword, FormatReal(value));
}

void TKQstructure::SetBoolean(std::string_view keyword, bool flag) {
  SetString(keyword, flag ? "true" : "false");
}

TKQstructure* TKQstructure::Find(std::string_view keyword) {
  const int32_t index = IndexOf(keyword);
  return index >= 0 ? pairs[index].value.get() : nullptr;
}

const TKQstructure* TKQstructure::Find(std::string_view keyword) const {
  const int32_t index = IndexOf(keyword);
  return index >= 0 ? pairs[index].value.get() : nullptr;
}

TKQstructure* TKQstructure::Get(std::string_view keyword) {
  TKQstructure* value = Find(keyword);
  MAPSMITH_ASSERT(value != NULL);
  return value;
}

TKQstructure* TKQstructure::GetRequired(std::string_view keyword) {
  TKQstructure* value = Find(keyword);
  if (value == nullptr) {
    auto reply = MakeError("invalid-message");
    reply->SetString("expected", keyword);
    ThrowReply(std::move(reply));
  }
  return value;
}

void TKQstructure::Expect(std::string_view keyword, std::string_view value) const {
  const TKQstructure* stored = Find(keyword);
  if (stored == nullptr) {
    auto reply = MakeError("invalid-message");
    reply->SetString("expected", keyword);
    ThrowReply(std::move(reply));
  }
  if (value.empty() || mapsmith::strcasecmp(stored->head, value) == 0) return;
  auto reply = MakeError("invalid-message");
  reply->SetString("tag", keyword);
  reply->SetString("expected-value", value);
  ThrowReply(std::move(reply));
}

void TKQstructure::Remove(std::string_view keyword) {
  // Keywords are unique without regard to case: the one match is the entry
  // of lowest index.
  const int32_t i = IndexOf(keyword);
  if (i < 0) return;
  std::unique_ptr<TKQstructure> removed = std::move(pairs[i].value);
  --count;
  if (index_ != nullptr) {
    index_->Erase(KeywordHash(pairs[i].keyword), i);
    if (i != count) index_->Move(KeywordHash(pairs[count].keyword), count, i);
  }
  if (i != count) pairs[i] = std::move(pairs[count]);
  pairs[count] = Pair{};
  // `removed` dies after the structure is consistent again
}

const std::string& TKQstructure::GetKeyword(int32_t index) const {
  MAPSMITH_ASSERT(index >= 0 && index < count);
  return pairs[index].keyword;
}

TKQstructure* TKQstructure::GetValue(int32_t index) {
  MAPSMITH_ASSERT(index >= 0 && index < count);
  return pairs[index].value.get();
}

const TKQstructure* TKQstructure::GetValue(int32_t index) const {
  MAPSMITH_ASSERT(index >= 0 && index < count);
  return pairs[index].value.get();
}

int32_t TKQstructure::ParseInteger(const std::string& text) {
  int32_t value = 0;
  if (!ReadInteger(text, value)) {
    auto reply = MakeError("invalid-message");
    reply->SetString("integer-expected", text);
    ThrowReply(std::move(reply));
  }
  return value;
}

double TKQstructure::ParseReal(const std::string& text) {
  double value = 0.0;
  if (!ReadReal(text, value)) {
    auto reply = MakeError("invalid-message");
    reply->SetString("number-expected", text);
    ThrowReply(std::move(reply));
  }
  return value;
}

bool TKQstructure::ParseBoolean(const std::string& text) {
  if (mapsmith::strcasecmp(text, "TRUE") == 0) return true;
  if (mapsmith::strcasecmp(text, "FALSE") == 0) return false;
  auto reply = MakeError("type-error");
  reply->SetString("expected", "boolean");
  ThrowReply(std::move(reply));
}

int32_t TKQstructure::ToInteger(const std::string& text) {
  int32_t value = 0;
  const int err = ReadInteger(text, value) ? 1 : 0;
  MAPSMITH_ASSERT(err == 1);
  return value;
}

double TKQstructure::ToReal(const std::string& text) {
  double value = 0.0;
  const int err = ReadReal(text, value) ? 1 : 0;
  MAPSMITH_ASSERT(err == 1);
  return value;
}

std::unique_ptr<TKQstructure> TKQstructure::MakeError(std::string_view type) {
  auto reply = std::make_unique<TKQstructure>("error");
  reply->SetString("type", type);
  return reply;
}

void TKQstructure::Print() const { Print(std::cout); }

void TKQstructure::Print(std::ostream& out) const {
  // Each open list remembers the next entry to write.
  struct OpenList {
    const TKQstructure* node;
    int32_t next;
  };
  std::vector<OpenList> open;
  const TKQstructure* node = this;
  while (node != nullptr) {
    if (node->count == 0) {
      out << node->head;
    } else {
      out << '(' << node->head;
      open.push_back({node, 0});
    }
    node = nullptr;
    while (!open.empty() && node == nullptr) {
      OpenList& top = open.back();
      if (top.next == top.node->count) {
        out << ')';
        open.pop_back();
        continue;
      }
      const Pair& entry = top.node->pairs[top.next++];
      out << " :" << entry.keyword << ' ';
      node = entry.value.get();
    }
  }
}

void TKQstructure::PrintLine() const { PrintLine(std::cout); }

void TKQstructure::PrintLine(std::ostream& out) const {
  Print(out);
  out << '\n';
}

std::unique_ptr<TKQstructure> TKQstructure::Parse(const char*& cursor) {
  return Parse(cursor, std::cerr);
}

std::unique_ptr<TKQstructure> TKQstructure::Parse(const char*& cursor, std::ostream& err) {
  // Lists still open, innermost last, each with the keyword whose value is
  // being read. Nesting costs heap, not stack.
  struct OpenList {
    std::unique_ptr<TKQstructure> node;
    std::string keyword;
  };
  std::vector<OpenList> open;
  for (;;) {
    // A value: an atom, or the start of a list.
    std::unique_ptr<TKQstructure> value;
    std::string token = NextToken(cursor, kMessageSpecials);
    if (token == "(") {
      open.push_back({std::make_unique<TKQstructure>(
                          RequireWord(NextToken(cursor, kMessageSpecials), err)),
                      {}});
    } else {
      value = std::make_unique<TKQstructure>(RequireWord(std::move(token), err));
    }
    // Store finished values and close lists until another value is due.
    for (;;) {
      if (value) {
        if (open.empty()) return value;
        open.back().node->Set(open.back().keyword, std::move(value));
      }
      token = NextToken(cursor, kMessageSpecials);
      if (token == ")") {
        value = std::move(open.back().node);
        open.pop_back();
      } else if (token == ":") {
        open.back().keyword = RequireWord(NextToken(cursor, kMessageSpecials), err);
        break;
      } else {
        ThrowSyntaxError();
      }
    }
  }
}

std::unique_ptr<TKQstructure> TKQstructure::ParseAll(const char*& cursor) {
  return ParseAll(cursor, std::cerr);
}

std::unique_ptr<TKQstructure> TKQstructure::ParseAll(const char*& cursor, std::ostream& err) {
  std::unique_ptr<TKQstructure> message = Parse(cursor, err);
  if (!NextToken(cursor, {}).empty()) ThrowSyntaxError();
  return message;
}

std::string TKQstructure::JoinArguments(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    text += argv[i];
    text += ' ';
  }
  return text;
}
