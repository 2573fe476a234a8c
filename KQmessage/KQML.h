// KQML-style messages: a head word (the performative) with keyword/value pairs
// whose values are messages again. A structure without pairs is an atom and
// stands for its head word alone. Messages print themselves as text and parse
// the same text back; the typed getters report failures as error replies.
//
// Ownership: a structure owns its head, its keywords and its values,
// recursively; values are never shared. Everything handed out to own
// (Parse, ParseAll, MakeError) comes as std::unique_ptr; pointers returned by
// Find/Get/GetRequired/GetValue stay owned by the structure.
//
// Size: structures with many pairs find keywords through a hash index beside
// the pair array, so building a message of n pairs costs O(n), not O(n^2).
//
// Depth: copying, printing, parsing and destroying walk the structure with an
// explicit work list instead of recursion, so arbitrarily deep messages (from
// a hostile text, for instance) cannot exhaust the call stack.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class NameIndex;

class TKQstructure {
 public:
  // Thrown by the typed getters and by an abandoned parse. The reply is shared
  // between copies of the record (exceptions are copied in flight); the last
  // copy frees it.
  struct Error {
    std::shared_ptr<TKQstructure> reply;
  };

  TKQstructure();                               // head "unknown", no pairs
  explicit TKQstructure(std::string_view text);  // an atom with this head
  TKQstructure(const TKQstructure& other);       // deep; capacity = other's count
  TKQstructure& operator=(const TKQstructure& other);
  ~TKQstructure();

  // Pairs. Keywords are matched without regard to case; storing under an
  // existing keyword replaces its value in place and keeps the keyword text
  // as first stored. `newval` must not be null; the structure takes it over.
  void Set(std::string_view keyword, std::unique_ptr<TKQstructure> newval);
  void SetString(std::string_view keyword, std::string_view text);
  void SetInteger(std::string_view keyword, int32_t value);  // "%ld" form
  void SetReal(std::string_view keyword, double value);      // "%f" form, any length
  void SetBoolean(std::string_view keyword, bool flag);      // "true" / "false"

  // The value under the keyword, or null.
  TKQstructure* Find(std::string_view keyword);
  const TKQstructure* Find(std::string_view keyword) const;
  // As Find; the keyword must be present.
  TKQstructure* Get(std::string_view keyword);
  // As Find; an absent keyword throws Error with an "invalid-message" reply.
  TKQstructure* GetRequired(std::string_view keyword);
  // Throws Error unless the keyword is present and, when `value` is not
  // empty, its value's head equals `value` without regard to case.
  void Expect(std::string_view keyword, std::string_view value) const;
  // Removes the first entry under the keyword; the last entry takes its place.
  void Remove(std::string_view keyword);

  int32_t GetCount() const { return count; }
  int32_t GetCapacity() const { return capacity; }
  // 0 <= index < GetCount().
  const std::string& GetKeyword(int32_t index) const;
  TKQstructure* GetValue(int32_t index);
  const TKQstructure* GetValue(int32_t index) const;

  // Conversions of atom texts. Integers read as "%ld" into 32 bits (a value
  // outside that range is not a number here); reals read as "%lf". Leading
  // blanks are skipped and text after the number is ignored. The Parse forms
  // throw Error; the To forms require text that converts.
  static int32_t ParseInteger(const std::string& text);
  static double ParseReal(const std::string& text);
  static bool ParseBoolean(const std::string& text);
  static int32_t ToInteger(const std::string& text);
  static double ToReal(const std::string& text);

  // A new reply: head "error" with the pair "type" = `type`.
  static std::unique_ptr<TKQstructure> MakeError(std::string_view type);

  // The text form, written unquoted; PrintLine adds a line end.
  void Print() const;  // on standard output
  void Print(std::ostream& out) const;
  void PrintLine() const;
  void PrintLine(std::ostream& out) const;

  // Reads one message at `cursor` (a zero-terminated text) and advances the
  // cursor past it. ParseAll also requires that only blanks follow. A text
  // that is not a message throws Error with a "syntax-error" reply; where a
  // word was required, "special character unexpected" is first written on
  // `err`. Nothing parsed so far reaches the caller then.
  static std::unique_ptr<TKQstructure> Parse(const char*& cursor, std::ostream& err);
  static std::unique_ptr<TKQstructure> Parse(const char*& cursor);
  static std::unique_ptr<TKQstructure> ParseAll(const char*& cursor, std::ostream& err);
  static std::unique_ptr<TKQstructure> ParseAll(const char*& cursor);

  // Arguments 1 to argc-1, each followed by one blank, as text for ParseAll.
  static std::string JoinArguments(int argc, const char* const* argv);

  std::string head;

 private:
  struct Pair {
    std::string keyword;
    std::unique_ptr<TKQstructure> value;
  };

  // An empty structure with room for `room` pairs (used by copying).
  TKQstructure(std::string_view text, int32_t room);
  int32_t IndexOf(std::string_view keyword) const;  // last match first, or -1
  void Append(std::string_view keyword, std::unique_ptr<TKQstructure> value);
  void CopyFrom(const TKQstructure& source);
  void DetachValues(std::vector<std::unique_ptr<TKQstructure>>& into);
  void IndexAll();

  std::unique_ptr<Pair[]> pairs;
  int32_t capacity;
  int32_t count;
  std::unique_ptr<NameIndex> index_;  // keywords by position; none for few pairs
};
