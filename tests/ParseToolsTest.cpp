#include "FileHandler/ParseTools.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <streambuf>
#include <vector>

namespace {

using mapsmith::strcasecmp;
using Limits = std::numeric_limits<double>;

TEST(StrCaseCmpTest, IgnoresCaseOfLetters) {
  EXPECT_EQ(strcasecmp("Inputs", "INPUTS"), 0);
  EXPECT_EQ(strcasecmp("inputs", "Inputs"), 0);
  EXPECT_EQ(strcasecmp("", ""), 0);
}

TEST(StrCaseCmpTest, ResultIsMinusOneZeroOrOne) {
  EXPECT_EQ(strcasecmp("abc", "abd"), -1);
  EXPECT_EQ(strcasecmp("abd", "ABC"), 1);
  EXPECT_EQ(strcasecmp("ab", "abc"), -1);
  EXPECT_EQ(strcasecmp("abc", "ab"), 1);
}

TEST(StrCaseCmpTest, ComparesUpperCaseCopiesAsUnsignedBytes) {
  // '_' (95) lies between 'Z' (90) and 'a' (97): upper-casing puts letters below it.
  EXPECT_EQ(strcasecmp("_", "a"), 1);
  EXPECT_EQ(strcasecmp("a", "_"), -1);
  // Bytes above 127 are greater than every ASCII byte.
  EXPECT_EQ(strcasecmp("\xe9", "z"), 1);
  // Only ASCII letters change case.
  EXPECT_NE(strcasecmp("\xe9", "\xc9"), 0);
}

// ---- FileTools ----

using Tag = FileTools::Tag;

std::vector<std::string> Tokens(const std::string& text) {
  FileTools tools;
  std::istringstream in(text);
  std::vector<std::string> tokens;
  for (std::string t = tools.NextToken(in); !t.empty(); t = tools.NextToken(in)) tokens.push_back(t);
  return tokens;
}

// The message of the FileTools::Error that `action` throws for `in`; checks
// the record's other fields on the way.
std::string ErrorOf(std::istream& in, const std::function<void()>& action) {
  try {
    action();
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.stream, static_cast<std::ios*>(&in));
    EXPECT_EQ(e.code, 0);
    return e.message;
  }
  return "(no error)";
}

// Reads `text` with ReadTag (no block, bracket flag clear) and returns the message.
std::string ReadError(const std::string& text, std::string_view block = {}, bool inBracket = false) {
  FileTools tools;
  std::istringstream in(text);
  return ErrorOf(in, [&] {
    for (Tag tag = tools.ReadTag(block, in, inBracket); tag.kind != FileTools::TagEnd;
         tag = tools.ReadTag(block, in, inBracket)) {
    }
  });
}

void ExpectTag(const Tag& tag, int kind, const std::string& name, const std::string& value, bool open) {
  EXPECT_EQ(tag.kind, kind);
  EXPECT_EQ(tag.name, name);
  EXPECT_EQ(tag.value, value);
  EXPECT_EQ(tag.open, open);
}

Tag ReadOne(const std::string& text, std::string_view block = {}, bool inBracket = false) {
  FileTools tools;
  std::istringstream in(text);
  return tools.ReadTag(block, in, inBracket);
}

TEST(TokenizerTest, SplitsAtSeparatorsAndSpecialCharacters) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Tokens("[Name = 1.5]"), (V{"[", "Name", "=", "1.5", "]"}));
  EXPECT_EQ(Tokens("[~Name]"), (V{"[~", "Name", "]"}));
  EXPECT_EQ(Tokens("1,2 3"), (V{"1", "2", "3"}));
  EXPECT_EQ(Tokens("a=b<c>d*e/f"), (V{"a", "=", "b", "<", "c", ">", "d", "*", "e", "/", "f"}));
  // Controls, DEL and bytes above 127 separate; '~' only joins a directly preceding '['.
  EXPECT_EQ(Tokens("a\tb\x7f" "c\xe9" "d\x01" "e [ ~x ~"), (V{"a", "b", "c", "d", "e", "[", "~x", "~"}));
  EXPECT_EQ(Tokens(" \n\t, "), V{});
  EXPECT_EQ(Tokens("/"), V{"/"});
  EXPECT_EQ(Tokens("["), V{"["});
}

TEST(TokenizerTest, SkipsNestedCommentsWhereATokenMayBegin) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Tokens("x/*c*/y"), (V{"x", "y"}));
  EXPECT_EQ(Tokens("/* a /* b */ more */ x"), V{"x"});
  EXPECT_EQ(Tokens("/**/x"), V{"x"});
  EXPECT_EQ(Tokens("/*/ still inside */x"), V{"x"});
  // After a nested comment its '*' stands before the next character.
  EXPECT_EQ(Tokens("/* /* a *//b"), V{"b"});
  // Deep nesting is counted, not recursed.
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "/*";
  for (int i = 0; i < 100000; ++i) deep += "*/";
  EXPECT_EQ(Tokens(deep + "x"), V{"x"});
}

TEST(TokenizerTest, EndOfInputInsideACommentFails) {
  for (const std::string text : {"/*", "/* abc *", "/* /* */", "a /*/"}) {
    FileTools tools;
    std::istringstream in(text);
    EXPECT_EQ(ErrorOf(in,
                      [&] {
                        while (!tools.NextToken(in).empty()) {
                        }
                      }),
              "Unexpected end of file during comment")
        << text;
  }
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "/*";
  FileTools tools;
  std::istringstream in(deep);
  EXPECT_EQ(ErrorOf(in, [&] { tools.NextToken(in); }), "Unexpected end of file during comment");
}

TEST(TokenizerTest, LongTokensAreKeptWhole) {
  const std::string longName(100000, 'n');
  FileTools tools;
  std::istringstream in("[" + longName + " = " + longName + "1]");
  const Tag tag = tools.ReadTag({}, in, false);
  ExpectTag(tag, FileTools::TagValue, longName, longName + "1", false);
}

TEST(TokenizerTest, LeavesTheStreamRightAfterWhatWasConsumed) {
  FileTools tools;
  std::istringstream in("abc[x] def  [A = 1]rest");
  EXPECT_EQ(tools.NextToken(in), "abc");
  EXPECT_EQ(in.tellg(), 3);  // the '[' that ended the token is not taken
  EXPECT_EQ(tools.ReadTag({}, in, false).name, "x");
  EXPECT_EQ(in.tellg(), 6);
  EXPECT_EQ(tools.NextToken(in), "def");
  EXPECT_EQ(in.tellg(), 11);  // the separator that ended the token is taken
  EXPECT_EQ(tools.ReadTag({}, in, false).value, "1");
  EXPECT_EQ(in.tellg(), 19);
  EXPECT_TRUE(in.good());
  EXPECT_EQ(tools.NextToken(in), "rest");
  EXPECT_TRUE(in.eof());
}

// A stream buffer that hands out one character per refill, so every read
// crosses a buffer boundary.
class TrickleBuffer : public std::streambuf {
 public:
  explicit TrickleBuffer(std::string text) : text_(std::move(text)) {}

 protected:
  int_type underflow() override {
    if (pos_ >= text_.size()) return traits_type::eof();
    ch_ = text_[pos_++];
    setg(&ch_, &ch_, &ch_ + 1);
    return traits_type::to_int_type(ch_);
  }

 private:
  std::string text_;
  size_t pos_ = 0;
  char ch_ = 0;
};

TEST(ReadTagTest, ReadsAlikeThroughAnyStreamBuffer) {
  const std::string text =
      "[FormatVersion = 1.0]\n\n[Net]\n[Size = 4]\n[From=3 To=7 ]\n/* c /* n */ */ 1.5 -2 [x  ]\n[~Net]\n";
  FileTools tools;
  std::istringstream whole(text);
  TrickleBuffer trickle(text);
  std::istream slow(&trickle);
  for (;;) {
    const Tag a = tools.ReadTag("Net", whole, false);
    const Tag b = tools.ReadTag("Net", slow, false);
    ExpectTag(b, a.kind, a.name, a.value, a.open);
    if (a.kind == FileTools::TagEnd) break;
    if (a.open) {  // the items of an open tag
      Tag item;
      do {
        item = tools.ReadTag({}, whole, true);
        const Tag other = tools.ReadTag({}, slow, true);
        ExpectTag(other, item.kind, item.name, item.value, item.open);
      } while (item.open);
    }
  }
}

TEST(ReadTagTest, ReadsEveryKindOfElement) {
  for (const std::string text : {"[Name]", "[ Name ]", "[\tName\n]", "[/* c */Name]"})
    ExpectTag(ReadOne(text), FileTools::TagStart, "Name", "", false);
  ExpectTag(ReadOne("[name]"), FileTools::TagStart, "name", "", false);
  ExpectTag(ReadOne("[Name = Value]"), FileTools::TagValue, "Name", "Value", false);
  ExpectTag(ReadOne("[Name=Value]"), FileTools::TagValue, "Name", "Value", false);
  ExpectTag(ReadOne("[Name = Value ]"), FileTools::TagValue, "Name", "Value", false);
  // Exactly one character after the value's separator is examined.
  ExpectTag(ReadOne("[Name = Value  ]"), FileTools::TagValue, "Name", "Value", true);
  ExpectTag(ReadOne("[Name"), FileTools::TagStart, "Name", "", true);
  ExpectTag(ReadOne("[Name = Value"), FileTools::TagValue, "Name", "Value", true);
  ExpectTag(ReadOne("1.5e3 x"), FileTools::TagToken, "1.5e3", "", false);
  ExpectTag(ReadOne("= x"), FileTools::TagToken, "=", "", false);
  ExpectTag(ReadOne(""), FileTools::TagEnd, "", "", false);
  ExpectTag(ReadOne(" /* only a comment */ "), FileTools::TagEnd, "", "", false);
}

TEST(ReadTagTest, ReadsTheItemsOfAnOpenTag) {
  FileTools tools;
  std::istringstream in("[Neuron 3 Gain=0.5 Bias]\n[From=3 To=7 ]");
  Tag tag;
  tools.ReadTag({}, in, false, tag);
  ExpectTag(tag, FileTools::TagStart, "Neuron", "", true);
  tools.ReadTag({}, in, true, tag);
  ExpectTag(tag, FileTools::TagStart, "3", "", true);
  tools.ReadTag({}, in, true, tag);
  ExpectTag(tag, FileTools::TagValue, "Gain", "0.5", true);
  tools.ReadTag({}, in, true, tag);
  ExpectTag(tag, FileTools::TagStart, "Bias", "", false);
  tools.ReadTag({}, in, false, tag);
  ExpectTag(tag, FileTools::TagValue, "From", "3", true);
  tools.ReadTag({}, in, true, tag);
  ExpectTag(tag, FileTools::TagValue, "To", "7", false);
  tools.ReadTag({}, in, false, tag);
  EXPECT_EQ(tag.kind, FileTools::TagEnd);
}

TEST(ReadTagTest, EndTagsCloseTheNamedBlock) {
  FileTools tools;
  std::istringstream in("[~net] [~ Net ]");
  Tag tag;
  tools.ReadTag("Net", in, false, tag);
  ExpectTag(tag, FileTools::TagEnd, "", "", false);
  // The block name may be the caller's tag itself.
  tag.name = "NET";
  tools.ReadTag(tag.name, in, false, tag);
  ExpectTag(tag, FileTools::TagEnd, "", "", false);
  EXPECT_EQ(ReadError("[~Other]", "Net"), "Unexpected End Tag");
  EXPECT_EQ(ReadError("[~Net]"), "Unexpected End Tag");  // no block is open
  EXPECT_EQ(ReadError("[~", "Net"), "Unexpected End Tag");
  EXPECT_EQ(ReadError("[~Net x]", "Net"), "Expected ']'");
  EXPECT_EQ(ReadError("[~Net", "Net"), "Expected ']'");
}

TEST(ReadTagTest, ReportsMalformedElements) {
  EXPECT_EQ(ReadError("[A]", "Net"), "Unexpected end of file");
  EXPECT_EQ(ReadError("["), "Unexpected end of file");
  EXPECT_EQ(ReadError("[ /* c */"), "Unexpected end of file");
  EXPECT_EQ(ReadError("[Name ="), "Unexpected end of file");
  EXPECT_EQ(ReadError("[Name = /* c */ "), "Unexpected end of file");
  EXPECT_EQ(ReadError("[=]"), "Unexpected special character");
  EXPECT_EQ(ReadError("[[~x]"), "Unexpected special character");
  EXPECT_EQ(ReadError("[Name = <x>]"), "Unexpected special character");
  EXPECT_EQ(ReadError("[Name = [x]"), "Unexpected special character");
  EXPECT_EQ(ReadError("= x", {}, true), "Unexpected special character");
  EXPECT_EQ(ReadError("[~x", {}, true), "Unexpected special character");
  EXPECT_EQ(ReadError("]"), "Unexpected ']'");
  EXPECT_EQ(ReadError("]", {}, true), "Unexpected ']'");
  EXPECT_EQ(ReadError("[Name = Value  ] x"), "Unexpected ']'");
  EXPECT_EQ(ReadError("/* open"), "Unexpected end of file during comment");
}

TEST(ReadTagTest, SkipsTheHeaderWhereverATagMayStand) {
  FileTools tools;
  std::istringstream in(
      "[FormatVersion = 1.0]\n\n[A] [formatversion=1] [B = 2] [FORMATVERSION = 0.5] x [FormatVersion = 1e-3]");
  EXPECT_EQ(tools.ReadTag({}, in, false).name, "A");
  EXPECT_EQ(tools.ReadTag({}, in, false).name, "B");
  EXPECT_EQ(tools.ReadTag({}, in, false).name, "x");
  EXPECT_EQ(tools.ReadTag({}, in, false).kind, FileTools::TagEnd);

  // Inside a bracket FormatVersion is an ordinary item.
  ExpectTag(ReadOne("FormatVersion = 2]", {}, true), FileTools::TagValue, "FormatVersion", "2", false);
  ExpectTag(ReadOne("[FormatVersion]"), FileTools::TagStart, "FormatVersion", "", false);
  ExpectTag(ReadOne("[FormatVersion = 1.0] [~Net]", "Net"), FileTools::TagEnd, "", "", false);
  EXPECT_EQ(ReadError("[FormatVersion = 1.0]", "Net"), "Unexpected end of file");

  EXPECT_EQ(ReadError("[FormatVersion = 2]"), "Illegal Format Version");
  EXPECT_EQ(ReadError("[FormatVersion = 1.0000000001]"), "Illegal Format Version");
  EXPECT_EQ(ReadError("[FormatVersion = 1.0 x]"), "Illegal Format of FormatVersion");
  EXPECT_EQ(ReadError("[FormatVersion = 1.0  ]"), "Illegal Format of FormatVersion");
  EXPECT_EQ(ReadError("[FormatVersion = 1.0"), "Illegal Format of FormatVersion");
  EXPECT_EQ(ReadError("[FormatVersion = one]"), "number-expected");
}

TEST(ReadTagTest, AStreamThatIsNotGoodReadsAsEmpty) {
  FileTools tools;
  std::istringstream in("[A]");
  in.setstate(std::ios::failbit);
  EXPECT_EQ(tools.ReadTag({}, in, false).kind, FileTools::TagEnd);
  EXPECT_EQ(ErrorOf(in, [&] { tools.ReadTag("Net", in, false); }), "Unexpected end of file");
}

TEST(ExpectTest, ChecksTheKindAndNameOfATag) {
  std::istringstream in;
  const Tag start{FileTools::TagStart, "DataSet", "", true};
  const Tag value{FileTools::TagValue, "Rows", "12", false};
  const Tag end{FileTools::TagEnd, "", "", false};
  const Tag token{FileTools::TagToken, "abc", "", false};

  EXPECT_EQ(FileTools::ExpectBlock(start, in, "DATASET"), "DataSet");
  EXPECT_EQ(FileTools::ExpectBlock(start, in, {}), "DataSet");
  EXPECT_EQ(ErrorOf(in, [&] { FileTools::ExpectBlock(start, in, "Data"); }), "[Data] expected");
  EXPECT_EQ(ErrorOf(in, [&] { FileTools::ExpectBlock(value, in, "Rows"); }), "[Rows] expected");
  EXPECT_EQ(ErrorOf(in, [&] { FileTools::ExpectBlock(end, in, {}); }), "start of block expected");

  FileTools::ExpectEnd(end, in);
  EXPECT_EQ(ErrorOf(in, [&] { FileTools::ExpectEnd(start, in); }), "End Tag expected");

  EXPECT_EQ(FileTools::ReadString(value, in, "rows"), "12");
  EXPECT_EQ(FileTools::ReadString(value, in, "Rows", "12"), "");
  EXPECT_EQ(ErrorOf(in, [&] { FileTools::ReadString(value, in, "Rows", "Labels"); }), "[Rows = Labels] expected");
  EXPECT_EQ(ErrorOf(in, [&] { FileTools::ReadString(value, in, "Type"); }), "[Type = <string>] expectedRows");
  EXPECT_EQ(ErrorOf(in, [&] { FileTools::ReadString(token, in, "Type"); }), "[Type = <string>] expectedabc");
  EXPECT_EQ(ErrorOf(in, [&] { FileTools::ReadString(end, in, "Type"); }), "[Type = <string>] expected");

  EXPECT_EQ(FileTools::ReadInteger(value, in, "ROWS"), 12);
  EXPECT_EQ(ErrorOf(in, [&] { FileTools::ReadInteger(start, in, "DataSet"); }), "[DataSet = <integer>] expected");
  EXPECT_EQ(FileTools::ReadNumber(value, in, "Rows"), 12.0);
  EXPECT_EQ(ErrorOf(in, [&] { FileTools::ReadNumber(value, in, "Gain"); }), "[Gain = <number>] expected");
  EXPECT_EQ(ErrorOf(in, [&] { FileTools::ReadInteger(Tag{FileTools::TagValue, "N", "x", false}, in, "N"); }),
            "integer-expected");

  EXPECT_EQ(FileTools::ReadNumberToken(Tag{FileTools::TagToken, "-0.25", "", false}, in), -0.25);
  EXPECT_EQ(ErrorOf(in, [&] { FileTools::ReadNumberToken(value, in); }), "Token (number) expected");
  EXPECT_EQ(ErrorOf(in, [&] { FileTools::ReadNumberToken(token, in); }), "number-expected");
}

TEST(ParseTest, IntegersAreLeadingDecimalsThatFit32Bits) {
  std::istringstream in;
  EXPECT_EQ(FileTools::ParseInteger(in, "12abc"), 12);
  EXPECT_EQ(FileTools::ParseInteger(in, "-3"), -3);
  EXPECT_EQ(FileTools::ParseInteger(in, "+7"), 7);
  EXPECT_EQ(FileTools::ParseInteger(in, " \t5"), 5);
  EXPECT_EQ(FileTools::ParseInteger(in, "0x10"), 0);
  EXPECT_EQ(FileTools::ParseInteger(in, "1.9"), 1);
  EXPECT_EQ(FileTools::ParseInteger(in, "2147483647"), INT32_MAX);
  EXPECT_EQ(FileTools::ParseInteger(in, "-2147483648"), INT32_MIN);
  EXPECT_EQ(FileTools::ParseInteger(in, "-000000000000000000000000042"), -42);
  for (const char* bad : {"abc", "", "-", "+-1", "- 1", "2147483648", "-2147483649", "99999999999999999999999"})
    EXPECT_EQ(ErrorOf(in, [&] { FileTools::ParseInteger(in, bad); }), "integer-expected") << bad;
}

TEST(ParseTest, NumbersFollowTheCLibraryConversion) {
  std::istringstream in;
  EXPECT_EQ(FileTools::ParseNumber(in, "1.5"), 1.5);
  EXPECT_EQ(FileTools::ParseNumber(in, "12abc"), 12.0);
  EXPECT_EQ(FileTools::ParseNumber(in, "+2.5"), 2.5);
  EXPECT_EQ(FileTools::ParseNumber(in, " -4e1"), -40.0);
  EXPECT_EQ(FileTools::ParseNumber(in, "0x1p3"), 8.0);
  EXPECT_EQ(FileTools::ParseNumber(in, "1e"), 1.0);
  EXPECT_EQ(FileTools::ParseNumber(in, "INF"), Limits::infinity());
  EXPECT_EQ(FileTools::ParseNumber(in, "-infinity"), -Limits::infinity());
  EXPECT_TRUE(std::isnan(FileTools::ParseNumber(in, "nan")));
  EXPECT_EQ(FileTools::ParseNumber(in, "1e400"), Limits::infinity());
  EXPECT_EQ(FileTools::ParseNumber(in, "4.9406564584124654e-324"), Limits::denorm_min());
  EXPECT_EQ(FileTools::ParseNumber(in, "1e-400"), 0.0);
  EXPECT_TRUE(std::signbit(FileTools::ParseNumber(in, "-0")));
  for (const char* bad : {"abc", "", "-", ".", "e5", "+", "x1"})
    EXPECT_EQ(ErrorOf(in, [&] { FileTools::ParseNumber(in, bad); }), "number-expected") << bad;

  // Correct rounding on both paths: every double survives 17 significant digits.
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    const uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    EXPECT_EQ(FileTools::ParseNumber(in, text), value) << text;
    std::snprintf(text, sizeof text, "%.17gz", value);  // the prefix path
    EXPECT_EQ(FileTools::ParseNumber(in, text), value) << text;
  }
}

TEST(ParseTest, PlainDecimalsOfAnyLengthConvertAsTheCLibraryDoes) {
  // Short plain decimals take an exact path of their own; around its limits
  // (19 digits, 2^53, 22 decimals) and past them every result must be the C
  // library's, bit for bit.
  std::vector<std::string> texts = {"0", "-0", "1.", "-1.", ".5", "-.5", "007", "0.000", "9007199254740992",
                                    "9007199254740993", "-9007199254740993", "900719925474099.3",
                                    "0.0000000000000000000001", "0.00000000000000000000001", "1234567890123456789",
                                    "12345678901234567890", "0.1234567890123456789", "0.12345678901234567891",
                                    "12345678.12345678", "1.2345678901234567", "99999999.99999999"};
  std::mt19937_64 random(11);
  for (int i = 0; i < 100000; ++i) {
    std::string text = random() % 2 ? "-" : "";
    const int digits = 1 + static_cast<int>(random() % 24);
    const int point = static_cast<int>(random() % (digits + 2));  // digits + 1: no point
    for (int d = 0; d < digits; ++d) {
      if (d == point) text += '.';
      text += static_cast<char>('0' + (d == 0 && random() % 3 == 0 ? 0 : random() % 10));
    }
    if (point == digits) text += '.';
    texts.push_back(text);
  }
  std::istringstream in;
  for (const std::string& text : texts) {
    const double expected = std::strtod(text.c_str(), nullptr);
    const double value = FileTools::ParseNumber(in, text);
    ASSERT_EQ(std::memcmp(&value, &expected, sizeof value), 0) << text;
  }
}

TEST(ReadTagTest, NumberElementsReadAsATagAndItsNumberWould) {
  // Random texts of numbers and other pieces, with and without separators
  // between them (so tokens run together), read by ReadNumberElement and by
  // ReadTag + ReadNumberToken: the same values, errors and stream positions,
  // whole and through a one-character buffer.
  const std::vector<std::string> pieces = {"1.5", "-0.25", "12345678901234567", "0.123456789012345", "1e5", "+3",
                                           "0x1p3", "1.5abc", "nan", "-inf", "[", "]", "/* c */", "[~Data]", "7",
                                           "1.2.3", "99999999999999999999", "-", ".", "12345678.123", "0.5,",
                                           "[Rows = 2]"};
  const std::vector<std::string> separators = {"", " ", "\n", ",", "\t", "  "};
  struct Step {
    std::string what;  // the value's bits, or the error
    std::streampos position;
  };
  auto read = [](std::istream& in, bool element) {
    FileTools tools;
    FileTools::Tag tag;
    std::vector<Step> steps;
    for (int i = 0; i < 12; ++i) {
      try {
        const double value = element ? tools.ReadNumberElement("Data", in, tag)
                                     : (tools.ReadTag("Data", in, false, tag), FileTools::ReadNumberToken(tag, in));
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        steps.push_back({std::to_string(bits), in.tellg()});
      } catch (const FileTools::Error& e) {
        steps.push_back({e.message, in.tellg()});
        break;
      }
    }
    return steps;
  };
  std::mt19937 random(5);
  for (int t = 0; t < 20000; ++t) {
    std::string text;
    const int count = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < count; ++i)
      text += pieces[random() % pieces.size()] + separators[random() % separators.size()];
    std::istringstream a(text), b(text);
    const std::vector<Step> expected = read(a, false);
    const std::vector<Step> got = read(b, true);
    ASSERT_EQ(got.size(), expected.size()) << text;
    for (size_t i = 0; i < got.size(); ++i) {
      ASSERT_EQ(got[i].what, expected[i].what) << text << " element " << i;
      ASSERT_EQ(got[i].position, expected[i].position) << text << " element " << i;
    }
    TrickleBuffer trickle(text);
    std::istream slow(&trickle);
    const std::vector<Step> slowSteps = read(slow, true);
    ASSERT_EQ(slowSteps.size(), expected.size()) << text;
    for (size_t i = 0; i < slowSteps.size(); ++i) ASSERT_EQ(slowSteps[i].what, expected[i].what) << text;
  }
}

std::string Written(const std::function<void(FileTools&, std::ostream&)>& write) {
  FileTools tools;
  std::ostringstream out;
  write(tools, out);
  return out.str();
}

TEST(WriterTest, WritesEveryKindBracketedAndAsItems) {
  const Tag value{FileTools::TagValue, "Size", "4", false};
  EXPECT_EQ(Written([&](FileTools& t, std::ostream& o) { t.WriteTag(value, o, true); }), "[Size = 4]\n");
  EXPECT_EQ(Written([&](FileTools& t, std::ostream& o) { t.WriteTag(value, o, false); }), "Size=4 ");
  const Tag start{FileTools::TagStart, "Data", "", false};
  EXPECT_EQ(Written([&](FileTools& t, std::ostream& o) { t.WriteTag(start, o, true); }), "[Data]\n");
  EXPECT_EQ(Written([&](FileTools& t, std::ostream& o) { t.WriteTag(start, o, false); }), "Data ");
  const Tag token{FileTools::TagToken, "0.5", "", false};
  EXPECT_EQ(Written([&](FileTools& t, std::ostream& o) { t.WriteTag(token, o, true); }), "0.5 ");
  EXPECT_EQ(Written([&](FileTools& t, std::ostream& o) { t.WriteTag(token, o, false); }), "0.5 ");
  const Tag end{FileTools::TagEnd, "Data", "", false};
  EXPECT_EQ(Written([&](FileTools& t, std::ostream& o) { t.WriteTag(end, o, true); }), "[~Data]\n");
  const Tag noName{FileTools::TagEnd, "", "", false};
  EXPECT_EQ(Written([&](FileTools& t, std::ostream& o) {
              t.WriteTag(noName, o, true);
              t.WriteTag(noName, o, false);
              t.WriteEndTag(o, {});
            }),
            "");
  const Tag header{FileTools::TagHeader, "", "", false};
  EXPECT_EQ(Written([&](FileTools& t, std::ostream& o) { t.WriteTag(header, o, true); }),
            "[FormatVersion = 1.0]\n\n");
}

TEST(WriterTest, ComposesLinesFromTheOperations) {
  EXPECT_EQ(Written([](FileTools& t, std::ostream& o) {
              t.WriteFormatVersion(o);
              t.WriteName(o, "NeuralNetwork", true);
              t.WriteString(o, "NetworkType", "Kohonen", true);
              t.NewLine(o);
              t.OpenBracket(o, true);
              t.WriteInteger(o, "From", 3, false);
              t.WriteInteger(o, "To", -3, false);
              t.WriteName(o, "Trainable", false);
              t.CloseBracket(o, true, true);
              t.OpenBracket(o, true);
              t.WriteName(o, "All", false);
              t.WriteNumber(o, "Gain", 0.5, 4, false);
              t.WriteString(o, "ActivationFunction", "linear", false);
              t.CloseBracket(o, true, false);
              t.NewLine(o);
              t.OpenBracket(o, false);
              t.CloseBracket(o, false, true);
              t.WriteInteger(o, "Rows", INT32_MIN, true);
              t.WriteNumber(o, "Weight", -0.123456789012345678, 15, true);
              t.WriteEndTag(o, "NeuralNetwork");
            }),
            "[FormatVersion = 1.0]\n\n[NeuralNetwork]\n[NetworkType = Kohonen]\n\n"
            "[From=3 To=-3 Trainable ]\n[All Gain=0.5000 ActivationFunction=linear ]\n"
            "[Rows = -2147483648]\n[Weight = -0.123456789012346]\n[~NeuralNetwork]\n");
}

TEST(WriterTest, NumbersMatchPrintfFixedAtAnyLength) {
  std::mt19937_64 random(11);
  std::vector<double> values = {0.0, -0.0, 0.5, 1e300, -1.7976931348623157e308, 5e-324, 0.00049999999,
                                999.9999999999999999, 1e22, 123456789.125,
                                Limits::infinity(), -Limits::infinity()};
  for (int i = 0; i < 2000; ++i) {
    const uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isnan(value)) values.push_back(value);
  }
  FileTools tools;
  for (const int precision : {0, 1, 4, 9, 15, 40}) {
    for (const double value : values) {
      std::vector<char> expected(static_cast<size_t>(std::snprintf(nullptr, 0, "%.*f", precision, value)) + 1);
      std::snprintf(expected.data(), expected.size(), "%.*f", precision, value);
      std::ostringstream out;
      tools.WriteNumber(out, "W", value, precision, false);
      ASSERT_EQ(out.str(), "W=" + std::string(expected.data()) + " ") << precision;
    }
  }
  std::ostringstream out;
  tools.WriteNumber(out, "W", 0.5, -1, false);
  EXPECT_EQ(out.str(), "W=0.500000 ");
}

TEST(WriterTest, AFailedStreamDropsTheOutput) {
  FileTools tools;
  std::ostringstream out;
  out.setstate(std::ios::badbit);
  tools.WriteString(out, "A", "b", true);
  tools.WriteFormatVersion(out);
  tools.NewLine(out);
  out.clear();
  EXPECT_EQ(out.str(), "");
}

TEST(WriterTest, WhatIsWrittenReadsBack) {
  std::ostringstream out;
  FileTools tools;
  tools.WriteFormatVersion(out);
  tools.WriteName(out, "Net", true);
  tools.WriteNumber(out, "Gain", 2.5, 15, true);
  tools.OpenBracket(out, true);
  tools.WriteInteger(out, "From", 3, false);
  tools.WriteInteger(out, "To", 7, false);
  tools.CloseBracket(out, true, true);
  tools.WriteEndTag(out, "Net");

  std::istringstream in(out.str());
  Tag tag = tools.ReadTag({}, in, false);
  const std::string block = FileTools::ExpectBlock(tag, in, "NET");
  EXPECT_EQ(FileTools::ReadNumber(tools.ReadTag(block, in, false), in, "gain"), 2.5);
  tag = tools.ReadTag(block, in, false);
  EXPECT_EQ(FileTools::ReadInteger(tag, in, "From"), 3);
  EXPECT_TRUE(tag.open);
  tag = tools.ReadTag({}, in, true);
  EXPECT_EQ(FileTools::ReadInteger(tag, in, "To"), 7);
  EXPECT_FALSE(tag.open);
  FileTools::ExpectEnd(tools.ReadTag(block, in, false), in);
  FileTools::ExpectEnd(tools.ReadTag({}, in, false), in);
}

TEST(FormatGeneralTest, MatchesTheStreamAtPrecision15) {
  std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 0.25, -0.123456789012345678, 1e300, -1e300, 1e-300,
      Limits::denorm_min(), -Limits::denorm_min(),
      Limits::min(), -Limits::min(),
      Limits::max(), -Limits::max(), 2.2250738585072009e-308,
      9.99999999999999e14, 9.999999999999995e14, 9.9999999999999999e14, 999999999999999.5, 1e15, 1e16,
      123456789012345.0, 1234567890123456.0, 0.0001, 0.00009999999999999999, 0.000099999999999999995, 0.00001,
      9.9999999999999995e-5, 0.1, 1.0 / 3.0, 100.0, 1e21, Limits::infinity(),
      -Limits::infinity(), Limits::quiet_NaN(),
      -Limits::quiet_NaN()};
  for (int e = -320; e <= 308; ++e) {
    values.push_back(std::pow(10.0, e));
    values.push_back(std::nextafter(std::pow(10.0, e), 0.0));
    values.push_back(-9.999999999999999 * std::pow(10.0, e));
  }
  for (int64_t i = -1000; i <= 1000; ++i) values.push_back(static_cast<double>(i));
  std::mt19937_64 random(3);
  for (int i = 0; i < 200000; ++i) {
    const uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    values.push_back(value);
    values.push_back(static_cast<double>(bits % 2000001) / 1000.0 - 1000.0);  // ordinary weights
  }
  std::ostringstream stream;
  stream.precision(15);
  char buffer[FileTools::GeneralNumberSize];
  for (const double value : values) {
    stream.str("");
    stream << value;
    ASSERT_EQ(FileTools::FormatGeneral(value, buffer), stream.str());
  }
}

TEST(WriterDeathTest, PreconditionsAreAsserted) {
  FileTools tools;
  std::ostringstream out;
  EXPECT_DEATH(tools.WriteTag(Tag{FileTools::TagHeader, "", "", false}, out, false),
               "^Assertion failed: bracket, file .*ParseTools.cpp, line [0-9]+\n$");
  EXPECT_DEATH(tools.WriteTag(Tag{FileTools::TagEnd, "Net", "", false}, out, false),
               "^Assertion failed: bracket, file ");
  EXPECT_DEATH(tools.WriteTag(Tag{4, "x", "", false}, out, true), "^Assertion failed: 0, file ");
}

}  // namespace
