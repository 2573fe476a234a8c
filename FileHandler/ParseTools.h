// Tagged text primitives shared by every text file of the system: a tokenizer
// with nested comments, a tag reader that skips the format-version header, typed
// checks of what was read, and the writers that produce the same syntax.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ios>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>

namespace mapsmith {

// Case-insensitive comparison used for every keyword, name and type text:
// both texts are taken in upper case (ASCII letters only, so the result never
// depends on a locale) and compared byte by byte as unsigned values.
// Returns -1, 0 or 1. It lives in a namespace because the C library has a
// function of the same name with different rules (lower case, any sign).
int strcasecmp(std::string_view a, std::string_view b) noexcept;

}  // namespace mapsmith

// The reading and writing context of the tagged text files. One object serves
// one file operation; it keeps only reusable buffers, so it needs no setup.
//
// Reading works on the stream's buffer directly and never reads ahead: after
// every operation the stream stands exactly after the last character the
// syntax consumed, so `tellg`/`seekg` offsets stay exact. Meeting the end of
// input sets the stream's eofbit; a stream that is not good() reads as empty.
// Every reading failure throws a `FileTools::Error` and leaves the stream
// where the failure was found.
//
// "None" for a name or value argument is the empty text: tokens, and so names
// and values read from a file, are never empty.
//
// Writers compose each item in a buffer and hand it to the stream in one
// write; a line end is '\n' without a flush (files are flushed when closed).
// They report nothing: a failed stream simply drops the output.
class FileTools {
 public:
  // Kinds of `Tag`.
  static constexpr int TagEnd = 0;
  static constexpr int TagToken = 1;
  static constexpr int TagStart = 2;
  static constexpr int TagValue = 3;
  static constexpr int TagHeader = 5;

  // One element of a file, as read or to be written.
  struct Tag {
    int kind = TagEnd;
    std::string name;   // the tag's name, or the token itself for TagToken
    std::string value;  // the value of a TagValue, else empty
    bool open = false;  // the bracket was not closed right after name or value
  };

  // The record every reading failure throws (by value); file writers throw it
  // for their own failures too. `stream` may dangle once the error has left
  // the function that owned the stream: callers use `message`.
  struct Error {
    std::string message;
    std::ios* stream;
    int code;
    Error(std::string message, std::ios* stream) : message(std::move(message)), stream(stream), code(0) {}
  };

  // Room for FormatGeneral: its longest text has 22 characters ("-2.22507385850720e-308").
  static constexpr std::size_t GeneralNumberSize = 32;

  // ---- Reading ----

  // The next token, or the empty string at the end of input. Comments are skipped.
  std::string NextToken(std::istream& in);

  // Consumes the rest of a comment whose "/*" has been read; comments nest.
  static void SkipComment(std::istream& in);

  // The next element. `blockName` is the innermost open block (empty: none):
  // an end tag must name it, and the end of input inside it is an error.
  // `inBracket` says the caller is inside an open tag, so the next token is a
  // name without "[". The format-version header is checked and skipped.
  Tag ReadTag(std::string_view blockName, std::istream& in, bool inBracket);
  // The same, filling `tag` and reusing its strings' capacity (for hot loops).
  // `blockName` may refer to `tag.name`.
  void ReadTag(std::string_view blockName, std::istream& in, bool inBracket, Tag& tag);

  // `tag` must be a TagStart named `expected` (empty: any name). Returns its name.
  static std::string ExpectBlock(const Tag& tag, std::istream& in, std::string_view expected);
  // `tag` must be a TagEnd.
  static void ExpectEnd(const Tag& tag, std::istream& in);
  // `tag` must be a TagValue named `key`. Without `required`, returns the value;
  // with it, the value must equal it and the result is empty.
  static std::string ReadString(const Tag& tag, std::istream& in, std::string_view key,
                                std::string_view required = {});
  static int32_t ReadInteger(const Tag& tag, std::istream& in, std::string_view key);
  static double ReadNumber(const Tag& tag, std::istream& in, std::string_view key);
  // `tag` must be a TagToken; its name is converted with ParseNumber.
  static double ReadNumberToken(const Tag& tag, std::istream& in);
  // ReadTag(blockName, in, false, tag) and then ReadNumberToken, with the same
  // result, errors and stream position, for the rows of data files. A token
  // that is already buffered whole is read in place (`tag` then stays as it
  // was); anything else takes the general path.
  double ReadNumberElement(std::string_view blockName, std::istream& in, Tag& tag);

  // A leading decimal integer ("12abc" gives 12); fails unless one is there
  // and it fits 32 bits.
  static int32_t ParseInteger(std::istream& in, std::string_view text);
  // A leading number as the C library's string-to-double conversion reads it
  // (signs, exponents, hex, inf/nan, "1.5abc" gives 1.5), correctly rounded.
  static double ParseNumber(std::istream& in, std::string_view text);

  static std::string CopyString(std::string_view text) { return std::string(text); }

  // ---- Writing ----

  // Writes `tag` bracketed (one line) or as an item of an open tag. Header and
  // named end tags must be bracketed.
  void WriteTag(const Tag& tag, std::ostream& out, bool bracket);
  static void OpenBracket(std::ostream& out, bool bracket);
  static void CloseBracket(std::ostream& out, bool bracket, bool lineEnd);
  static void WriteFormatVersion(std::ostream& out);
  static void NewLine(std::ostream& out);
  void WriteName(std::ostream& out, std::string_view name, bool bracket);
  // Nothing when `name` is empty.
  void WriteEndTag(std::ostream& out, std::string_view name);
  void WriteString(std::ostream& out, std::string_view name, std::string_view value, bool bracket);
  void WriteInteger(std::ostream& out, std::string_view name, int32_t value, bool bracket);
  // The value with `precision` digits after the point (printf "%.*f"; a
  // negative precision means 6), at any magnitude.
  void WriteNumber(std::ostream& out, std::string_view name, double value, int precision, bool bracket);

  // Formats `value` exactly as an output stream in its general notation with
  // precision 15 does (printf "%.15g"). The text lives in `buffer`.
  static std::string_view FormatGeneral(double value, char (&buffer)[GeneralNumberSize]);
  // The same text written at `out`, which has room for GeneralNumberSize
  // characters (some beyond the text may be overwritten). Returns its end.
  static char* FormatGeneralTo(double value, char* out);

 private:
  class Input;
  const std::string& ReadToken(Input& src);
  static void SkipCommentBody(Input& src);
  void WriteItem(std::ostream& out, std::string_view name, std::string_view value, bool bracket);
  void PutLine(std::ostream& out);

  std::string token_;  // the tokenizer's buffer; grows to the longest token
  std::string name_;   // the name of the tag being read
  std::string value_;  // the value of the tag being read
  std::string line_;   // the item being written
  std::string number_; // the number being written
};
