#include "KQmessage/KQML.h"

#include "FileHandler/ParseTools.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Text(const TKQstructure& message) {
  std::ostringstream out;
  message.Print(out);
  return out.str();
}

std::vector<std::string> Keywords(const TKQstructure& message) {
  std::vector<std::string> keywords;
  for (int32_t i = 0; i < message.GetCount(); ++i) keywords.push_back(message.GetKeyword(i));
  return keywords;
}

// The printed reply of the Error that `action` throws.
template <typename Action>
std::string ReplyOf(Action action) {
  try {
    action();
  } catch (const TKQstructure::Error& e) {
    EXPECT_NE(e.reply, nullptr);
    return e.reply ? Text(*e.reply) : "";
  }
  return "no error";
}

// Parses the whole text; returns the printed result or the printed error
// reply, and in `err` what the parser wrote on its error stream.
std::string ParseAllText(const std::string& text, std::string& err) {
  std::ostringstream errStream;
  const char* cursor = text.c_str();
  const std::string result = [&] {
    try {
      return Text(*TKQstructure::ParseAll(cursor, errStream));
    } catch (const TKQstructure::Error& e) {
      return "error " + Text(*e.reply);
    }
  }();
  err = errStream.str();
  return result;
}

TEST(KQMLTest, ConstructionGivesAnEmptyPairArrayOfSixteen) {
  const TKQstructure fresh;
  EXPECT_EQ(fresh.head, "unknown");
  EXPECT_EQ(fresh.GetCount(), 0);
  EXPECT_EQ(fresh.GetCapacity(), 16);
  const TKQstructure atom("rows");
  EXPECT_EQ(atom.head, "rows");
  EXPECT_EQ(atom.GetCapacity(), 16);
  EXPECT_EQ(Text(atom), "rows");
}

TEST(KQMLTest, SetReplacesCaseInsensitivelyInPlaceAndKeepsTheFirstKeywordText) {
  TKQstructure message("tell");
  message.SetString("type", "a");
  message.SetString("rows", "3");
  message.SetString("Type", "b");
  EXPECT_EQ(message.GetCount(), 2);
  EXPECT_EQ(Text(message), "(tell :type b :rows 3)");
  EXPECT_EQ(message.Find("TYPE")->head, "b");
  EXPECT_EQ(message.Get("ROWS")->head, "3");
  EXPECT_EQ(message.Find("columns"), nullptr);
}

TEST(KQMLTest, CapacityDoublesFromSixteenAndCopiesAreTight) {
  TKQstructure message("m");
  std::vector<std::string> expected;
  for (int i = 0; i < 17; ++i) {
    expected.push_back(std::to_string(i));
    expected.back().insert(0, 1, 'k');
    message.SetInteger(expected.back(), i);
  }
  EXPECT_EQ(message.GetCapacity(), 32);
  EXPECT_EQ(Keywords(message), expected);
  EXPECT_EQ(message.GetValue(15)->head, "15");

  TKQstructure three("m");
  three.SetString("a", "1");
  three.SetString("b", "2");
  three.SetString("c", "3");
  TKQstructure copy(three);
  EXPECT_EQ(copy.GetCapacity(), 3);
  copy.SetString("d", "4");
  EXPECT_EQ(copy.GetCapacity(), 16);
  EXPECT_EQ(Text(copy), "(m :a 1 :b 2 :c 3 :d 4)");

  // An atom copies to an empty array, which still grows to sixteen.
  const TKQstructure atom("x");
  TKQstructure atomCopy(atom);
  EXPECT_EQ(atomCopy.GetCapacity(), 0);
  atomCopy.SetString("a", "1");
  EXPECT_EQ(atomCopy.GetCapacity(), 16);
}

TEST(KQMLTest, RemoveMovesTheLastEntryIntoTheGap) {
  TKQstructure message("m");
  message.SetString("a", "1");
  message.SetString("b", "2");
  message.SetString("c", "3");
  message.Remove("A");
  EXPECT_EQ(Keywords(message), (std::vector<std::string>{"c", "b"}));
  message.Remove("absent");
  EXPECT_EQ(message.GetCount(), 2);
  message.Remove("b");  // the last entry: nothing moves
  EXPECT_EQ(Text(message), "(m :c 3)");
  message.Remove("c");
  EXPECT_EQ(Text(message), "m");
  message.SetString("d", "4");  // the freed slots are usable again
  EXPECT_EQ(Text(message), "(m :d 4)");
}

// Many pairs go through the keyword index: every rule of the short scan
// (case-insensitive replacement in place, first keyword text kept, removal
// moving the last entry into the gap, tight copies) still holds.
TEST(KQMLTest, ManyPairsKeepEveryRuleOfTheFewPairCase) {
  constexpr int kPairs = 3000;
  TKQstructure message("big");
  for (int i = 0; i < kPairs; ++i) message.SetInteger("Key" + std::to_string(i), i);
  for (int i = 0; i < kPairs; i += 3) message.SetInteger("KEY" + std::to_string(i), -i);
  ASSERT_EQ(message.GetCount(), kPairs);
  for (int i = 0; i < kPairs; ++i) {
    EXPECT_EQ(message.GetKeyword(i), "Key" + std::to_string(i));
    const TKQstructure* value = message.Find("kEy" + std::to_string(i));
    ASSERT_NE(value, nullptr) << i;
    EXPECT_EQ(value->head, std::to_string(i % 3 == 0 ? -i : i));
  }
  EXPECT_EQ(message.Find("Key" + std::to_string(kPairs)), nullptr);

  // Remove every other pair, first ones first: the last entry fills each gap.
  std::vector<std::string> expected = Keywords(message);
  for (int i = 0; i < kPairs; i += 2) {
    const std::string gone = "KEY" + std::to_string(i);
    message.Remove(gone);
    for (size_t k = 0; k < expected.size(); ++k) {
      if (mapsmith::strcasecmp(expected[k], gone) != 0) continue;
      expected[k] = expected.back();
      expected.pop_back();
      break;
    }
  }
  EXPECT_EQ(Keywords(message), expected);
  for (int i = 0; i < kPairs; ++i) EXPECT_EQ(message.Find("key" + std::to_string(i)) != nullptr, i % 2 == 1) << i;

  TKQstructure copy(message);
  EXPECT_EQ(copy.GetCapacity(), kPairs / 2);
  EXPECT_EQ(Text(copy), Text(message));
  copy.SetString("key1", "changed");
  copy.SetString("new", "x");
  EXPECT_EQ(copy.GetCount(), kPairs / 2 + 1);
  EXPECT_EQ(copy.Find("KEY1")->head, "changed");
  EXPECT_EQ(message.Find("KEY1")->head, "1");
  TKQstructure assigned;
  assigned = copy;
  EXPECT_EQ(assigned.Find("NEW")->head, "x");
  EXPECT_EQ(assigned.Find("key2"), nullptr);
}

TEST(KQMLTest, CopiesAndAssignmentsAreDeepAndIndependent) {
  const char* text = "(tell :content (data :rows 3 :inputs (list :a 1)) :sender me)";
  auto source = TKQstructure::ParseAll(text);
  TKQstructure copy(*source);
  source->Get("content")->SetString("rows", "99");
  EXPECT_EQ(Text(copy), "(tell :content (data :rows 3 :inputs (list :a 1)) :sender me)");

  TKQstructure assigned("x");
  assigned.SetString("old", "1");
  assigned = copy;
  EXPECT_EQ(Text(assigned), Text(copy));
  EXPECT_EQ(assigned.GetCapacity(), 2);
  const TKQstructure& alias = assigned;
  assigned = alias;
  EXPECT_EQ(Text(assigned), Text(copy));
  // Assigning one of its own values to a structure.
  assigned = *assigned.Get("content");
  EXPECT_EQ(Text(assigned), "(data :rows 3 :inputs (list :a 1))");
}

TEST(KQMLTest, TypedSettersWriteTheFormattedForms) {
  TKQstructure message("m");
  message.SetReal("half", 0.5);
  message.SetInteger("low", std::numeric_limits<int32_t>::min());
  message.SetBoolean("yes", true);
  message.SetBoolean("no", false);
  EXPECT_EQ(Text(message), "(m :half 0.500000 :low -2147483648 :yes true :no false)");
}

TEST(KQMLTest, SetRealMatchesFixedFormattingForEveryMagnitude) {
  // Including numbers whose fixed form is hundreds of characters long.
  const double values[] = {0.0,     -0.0,    1.0 / 3.0, -2.5,     1e-7, 0.0000005, 123456789.987654321,
                           1e22,    1e300,   -1.7976931348623157e308, 5e-324,
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()};
  for (const double value : values) {
    char expected[400];
    std::snprintf(expected, sizeof expected, "%f", value);
    TKQstructure message("m");
    message.SetReal("v", value);
    EXPECT_EQ(message.Find("v")->head, expected) << value;
  }
}

TEST(KQMLTest, IntegerConversionReadsLikeLongFormattedInput) {
  EXPECT_EQ(TKQstructure::ParseInteger("42"), 42);
  EXPECT_EQ(TKQstructure::ParseInteger(" \t\n-17rows"), -17);
  EXPECT_EQ(TKQstructure::ParseInteger("+8"), 8);
  EXPECT_EQ(TKQstructure::ParseInteger("2147483647"), 2147483647);
  EXPECT_EQ(TKQstructure::ParseInteger("-2147483648"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(TKQstructure::ToInteger("007.5"), 7);
  // No digits, a sign without digits, and numbers beyond 32 bits are refused.
  for (const char* bad : {"", "rows", "- 5", "+-5", "2147483648", "-2147483649",
                          "99999999999999999999"}) {
    EXPECT_EQ(ReplyOf([&] { TKQstructure::ParseInteger(bad); }),
              std::string("(error :type invalid-message :integer-expected ") + bad + ")");
  }
}

TEST(KQMLTest, RealConversionReadsLikeDoubleFormattedInput) {
  EXPECT_EQ(TKQstructure::ParseReal("0.25"), 0.25);
  EXPECT_EQ(TKQstructure::ParseReal("  -1.5e3units"), -1500.0);
  EXPECT_EQ(TKQstructure::ParseReal("0x1p4"), 16.0);
  EXPECT_EQ(TKQstructure::ParseReal("INF"), std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(TKQstructure::ParseReal("nan")));
  EXPECT_EQ(TKQstructure::ToReal(".5"), 0.5);
  EXPECT_EQ(ReplyOf([] { TKQstructure::ParseReal("epsilon"); }),
            "(error :type invalid-message :number-expected epsilon)");
  EXPECT_EQ(ReplyOf([] { TKQstructure::ParseReal(" "); }),
            "(error :type invalid-message :number-expected  )");
}

TEST(KQMLTest, BooleanConversionAcceptsBothWordsInAnyCase) {
  EXPECT_TRUE(TKQstructure::ParseBoolean("TrUe"));
  EXPECT_FALSE(TKQstructure::ParseBoolean("false"));
  EXPECT_EQ(ReplyOf([] { TKQstructure::ParseBoolean("yes"); }),
            "(error :type type-error :expected boolean)");
}

TEST(KQMLTest, GettersThrowTheirErrorReplies) {
  TKQstructure message("m");
  message.SetString("kind", "Kohonen");
  EXPECT_EQ(message.GetRequired("KIND")->head, "Kohonen");
  EXPECT_EQ(ReplyOf([&] { message.GetRequired("rows"); }),
            "(error :type invalid-message :expected rows)");

  message.Expect("kind", "kohonen");
  message.Expect("kind", "");  // any stored value will do
  EXPECT_EQ(ReplyOf([&] { message.Expect("rows", ""); }),
            "(error :type invalid-message :expected rows)");
  EXPECT_EQ(ReplyOf([&] { message.Expect("kind", "Basic"); }),
            "(error :type invalid-message :tag kind :expected-value Basic)");
  EXPECT_EQ(Text(*TKQstructure::MakeError("file-read-error")), "(error :type file-read-error)");
}

TEST(KQMLTest, ErrorRecordsShareTheirReply) {
  TKQstructure::Error copy;
  try {
    TKQstructure("m").GetRequired("x");
  } catch (const TKQstructure::Error& e) {
    copy = e;
  }
  ASSERT_NE(copy.reply, nullptr);
  EXPECT_EQ(copy.reply.use_count(), 1);  // the in-flight record is gone
  EXPECT_EQ(Text(*copy.reply), "(error :type invalid-message :expected x)");
}

TEST(KQMLDeathTest, BrokenPreconditionsAreInternalErrors) {
  TKQstructure message("m");
  EXPECT_DEATH(message.Set("k", nullptr), "Assertion failed: newval != NULL");
  EXPECT_DEATH(message.Get("k"), "Assertion failed: value != NULL");
  EXPECT_DEATH(TKQstructure::ToInteger("x"), "Assertion failed: err == 1");
  EXPECT_DEATH(TKQstructure::ToReal("x"), "Assertion failed: err == 1");
}

TEST(KQMLTest, PrintAndParseRoundTripNestedMessages) {
  for (const std::string text : {
           "(error :type invalid-message :expected rows)",
           "(tell :content (data :rows 3 :labels (list :a (x :y z))) :sender me)",
           "atom",
           "(a:b :k:x y: :z (w :v u))",  // colons inside words
       }) {
    std::string err;
    EXPECT_EQ(ParseAllText(text, err), text);
    EXPECT_EQ(err, "");
  }
  std::ostringstream line;
  const char* cursor = "(m :k v)";
  TKQstructure::ParseAll(cursor)->PrintLine(line);
  EXPECT_EQ(line.str(), "(m :k v)\n");
}

TEST(KQMLTest, ParseNormalisesWhatPrintingCannotReproduce) {
  std::string err;
  // A list without pairs is a bare word; a repeated keyword replaces its value.
  EXPECT_EQ(ParseAllText("(word)", err), "word");
  EXPECT_EQ(ParseAllText("(m :type a :TYPE (b) :c d)", err), "(m :type b :c d)");
  // Blanks, control characters and bytes above 126 separate tokens or vanish.
  EXPECT_EQ(ParseAllText("\t( m\x01:k\x80v \x7f)\r\n", err), "(m :k v)");
  EXPECT_EQ(ParseAllText("(m :k(x :y z))", err), "(m :k (x :y z))");
  EXPECT_EQ(err, "");
}

TEST(KQMLTest, ParseAdvancesTheCursorPastOneMessage) {
  const char* cursor = "a (b :c d)  ";
  EXPECT_EQ(Text(*TKQstructure::Parse(cursor)), "a");
  EXPECT_STREQ(cursor, " (b :c d)  ");
  EXPECT_EQ(Text(*TKQstructure::ParseAll(cursor)), "(b :c d)");
  EXPECT_STREQ(cursor, "");
}

TEST(KQMLTest, AbandonedParsesThrowASyntaxError) {
  const std::string special = "special character unexpected\n";
  struct Case {
    const char* text;
    std::string err;
  };
  const Case cases[] = {
      {"", special},         {"   ", special},        {")", special},
      {":", special},        {"(", special},         {"((m))", special},
      {"(m :", special},     {"(m :)", special},      {"(m :k )", special},
      {"(m :k :", special},  {"(m :: v)", special},  {"(m :k", special},
      {"(m", ""},            {"(m x)", ""},           {"(m :k v", ""},
      {"(m :k v w)", ""},    {"(m :k v))", ""},       {"a b", ""},
      {"(m :k v) (n)", ""},
  };
  for (const Case& c : cases) {
    std::string err;
    EXPECT_EQ(ParseAllText(c.text, err), "error (error :type syntax-error)") << c.text;
    EXPECT_EQ(err, c.err) << c.text;
  }
}

TEST(KQMLTest, DeepMessagesCostHeapNotStack) {
  // Far deeper than a recursive walk could go on the call stack.
  const int depth = 100000;
  std::string text;
  for (int i = 0; i < depth; ++i) text += "(m :k ";
  text += "x";
  text.append(depth, ')');
  const char* cursor = text.c_str();
  auto message = TKQstructure::ParseAll(cursor);
  TKQstructure copy(*message);
  message.reset();
  EXPECT_EQ(Text(copy), text);
  copy = TKQstructure("done");

  const std::string open(1000000, '(');
  std::string err;
  EXPECT_EQ(ParseAllText(open, err), "error (error :type syntax-error)");
  EXPECT_EQ(err, "special character unexpected\n");
  // Unclosed lists are released as the parse is abandoned.
  text.resize(text.size() - 1);
  EXPECT_EQ(ParseAllText(text, err), "error (error :type syntax-error)");
}

TEST(KQMLTest, JoinArgumentsEndsEveryArgumentWithABlank) {
  const char* argv[] = {"tool", "(m", ":k", "v)"};
  EXPECT_EQ(TKQstructure::JoinArguments(4, argv), "(m :k v) ");
  EXPECT_EQ(TKQstructure::JoinArguments(1, argv), "");
  const std::string joined = TKQstructure::JoinArguments(4, argv);
  const char* cursor = joined.c_str();
  EXPECT_EQ(Text(*TKQstructure::ParseAll(cursor)), "(m :k v)");
}

}  // namespace
