#include "FileHandler/ParseTools.h"

#include <gtest/gtest.h>

namespace {

using mapsmith::strcasecmp;

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

}  // namespace
