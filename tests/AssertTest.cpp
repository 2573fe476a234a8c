#include "KQmessage/Assert.h"

#include <gtest/gtest.h>

namespace {

void CheckLayer(int LayerNum, int numLayers) { MAPSMITH_ASSERT(LayerNum<numLayers); }

TEST(AssertDeathTest, WritesTheConventionalTextAndAborts) {
  // The whole line: condition text, file and line of the check.
  const std::string expected = std::string("^Assertion failed: LayerNum<numLayers, file ") +
                               __FILE__ + ", line 7\n$";
  EXPECT_DEATH(CheckLayer(3, 3), expected);
}

TEST(AssertTest, PassingConditionDoesNothing) { CheckLayer(2, 3); }

}  // namespace
