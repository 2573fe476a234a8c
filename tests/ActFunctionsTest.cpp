#include "NeuralNets/ActFunctions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "NeuralNets/TBasicNetwork.h"

namespace {

void Unregistered(TBasicNeuron&, double) {}

double Apply(TActFunction fn, double x, double gain = 1.0) {
  double out = -123.0;
  TGainNeuron n;
  n.gain = gain;
  n.value = &out;
  fn(n, x);
  return out;
}

TEST(ActFunctionsTest, SaturatedLinearClampsToUnitInterval) {
  EXPECT_EQ(Apply(ActSaturatedLinear, -3), 0.0);
  EXPECT_EQ(Apply(ActSaturatedLinear, 0), 0.0);
  EXPECT_EQ(Apply(ActSaturatedLinear, 0.25), 0.25);
  EXPECT_EQ(Apply(ActSaturatedLinear, 1), 1.0);
  EXPECT_EQ(Apply(ActSaturatedLinear, 7), 1.0);
  EXPECT_EQ(Apply(ActSaturatedLinear, std::numeric_limits<double>::quiet_NaN()), 0.0);
}

TEST(ActFunctionsTest, SigmoidHasAFloorBelowMinus500) {
  EXPECT_EQ(Apply(ActSigmoid, -500), 1.0 / (1.0 + std::exp(500.0)));
  EXPECT_EQ(Apply(ActSigmoid, -500.5), 1e-300);
  EXPECT_EQ(Apply(ActSigmoid, 0), 0.5);
  // The gain variant has no floor.
  EXPECT_EQ(Apply(ActSigmoidGain, -800, 1.0), 0.0);
}

TEST(ActFunctionsTest, BiasLinearTanhAndGains) {
  EXPECT_EQ(Apply(ActBias, 0), 1.0);
  EXPECT_EQ(Apply(ActBias, std::numeric_limits<double>::quiet_NaN()), 1.0);
  EXPECT_EQ(Apply(ActLinear, -2.5), -2.5);
  EXPECT_EQ(Apply(ActTanh, 0.5), std::tanh(0.5));
  EXPECT_EQ(Apply(ActLinearGain, 4, 2.5), 10.0);
  EXPECT_EQ(Apply(ActTanhGain, 0.25, 2.0), std::tanh(0.5));
  EXPECT_EQ(Apply(ActSigmoidGain, 1.0, 2.0), 1.0 / (1.0 + std::exp(-2.0)));
}

TEST(ActFunctionsDeathTest, ErrorAndNullMustNotBeEvaluated) {
  EXPECT_DEATH(Apply(ActError, 1.0), "Assertion failed: false");
  EXPECT_DEATH(Apply(ActNull, 1.0), "Assertion failed: false");
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { reg.RegisterStandardFunctions(); }
  TFnRegistry reg;
};

TEST_F(RegistryTest, NamesAreFoundWithoutRegardToCase) {
  EXPECT_EQ(reg.count, 10);
  EXPECT_EQ(reg.capacity, 16);
  EXPECT_EQ(reg.GetFunction("SIGMOID"), &ActSigmoid);
  EXPECT_EQ(reg.GetFunction("Sigmoid"), &ActSigmoid);
  EXPECT_EQ(reg.GetFunction("Saturated-Linear"), &ActSaturatedLinear);
  EXPECT_EQ(reg.GetFunction("softmax"), &ActError);
  EXPECT_STREQ(reg.GetFunctionName(ActTanhGain), "tanh-gain");
  EXPECT_STREQ(reg.GetFunctionName(ActError), "error");
}

TEST_F(RegistryTest, NewestNameOfAFunctionWins) {
  reg.AddFunction(ActLinear, "identity");
  EXPECT_STREQ(reg.GetFunctionName(ActLinear), "identity");
  EXPECT_EQ(reg.GetFunction("linear"), &ActLinear);
}

TEST_F(RegistryTest, GrowsByDoublingPastSixteenEntries) {
  for (int i = 0; i < 7; ++i) reg.AddFunction(ActTanh, ("extra" + std::to_string(i)).c_str());
  EXPECT_EQ(reg.count, 17);
  EXPECT_EQ(reg.capacity, 32);
  EXPECT_EQ(reg.GetFunction("error"), &ActError);
  EXPECT_EQ(reg.GetFunction("tanh-gain"), &ActTanhGain);
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(reg.GetFunction(("EXTRA" + std::to_string(i)).c_str()), &ActTanh);
  EXPECT_STREQ(reg.GetFunctionName(ActTanh), "extra6");
}

TEST_F(RegistryTest, FunctionSlotFindsOrAppends) {
  EXPECT_EQ(&reg.FunctionSlot("LINEAR"), &reg.entries[3].fn);
  TActFunction& slot = reg.FunctionSlot("custom");
  EXPECT_EQ(reg.count, 11);
  EXPECT_EQ(slot, nullptr);
  slot = ActSigmoid;
  EXPECT_EQ(reg.GetFunction("Custom"), &ActSigmoid);
}

TEST_F(RegistryTest, DuplicateNameIsAnInternalError) {
  EXPECT_DEATH(reg.AddFunction(ActSigmoid, "LINEAR"),
               "Assertion failed: strcasecmp\\(p,pp->name\\)!=0");
  EXPECT_DEATH(reg.GetFunctionName(Unregistered), "Assertion failed: false");
}

}  // namespace
