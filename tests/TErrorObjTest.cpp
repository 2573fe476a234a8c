#include "NeuralNets/TErrorObj.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>

namespace {

std::unique_ptr<TKQstructure> Params(const char* head,
                                     std::initializer_list<std::pair<const char*, const char*>> pairs) {
  auto p = std::make_unique<TKQstructure>(head);
  for (const auto& [keyword, value] : pairs) p->SetString(keyword, value);
  return p;
}

std::string ReplyText(const TKQstructure::Error& e) {
  std::ostringstream out;
  e.reply->Print(out);
  return out.str();
}

TEST(TErrorObjTest, RootMeanSquareAveragesOverOutputsAndPatterns) {
  TErrorRMSObj err(2);
  const double targets[] = {1, 0}, outputs[] = {0, 0};
  err.Accumulate(targets, outputs);
  EXPECT_DOUBLE_EQ(err.GetError(), std::sqrt(0.5));
  err.Accumulate(targets, outputs);
  EXPECT_EQ(err.count, 2);
  EXPECT_DOUBLE_EQ(err.GetError(), std::sqrt(0.5));
  const double exact[] = {1, 0};
  err.Accumulate(targets, exact);
  EXPECT_DOUBLE_EQ(err.GetError(), std::sqrt(1.0 / 3.0));
  err.Reset();
  EXPECT_EQ(err.count, 0);
  EXPECT_EQ(err.sum, 0.0);
  err.Accumulate(targets, exact);
  EXPECT_EQ(err.GetError(), 0.0);
}

TEST(TErrorObjTest, CrossEntropySumsAndTreatsAnOutputOfOneApart) {
  TErrorCrossEntropyObj err(1);
  const double one = 1, zero = 0, half = 0.5;
  err.Accumulate(&one, &half);
  EXPECT_DOUBLE_EQ(err.GetError(), std::log(2.0));
  err.Reset();
  err.Accumulate(&zero, &one);
  EXPECT_EQ(err.GetError(), 1.0e6);
  err.Accumulate(&one, &one);
  EXPECT_EQ(err.GetError(), 1.0e6);
  EXPECT_EQ(err.count, 2);

  TErrorCrossEntropyObj two(2);
  const double t[] = {0.25, 1}, y[] = {0.5, 0.75};
  two.Accumulate(t, y);
  EXPECT_DOUBLE_EQ(two.GetError(), -0.25 * std::log(0.5) - 0.75 * std::log(0.5) - std::log(0.75));
}

TEST(TErrorObjTest, NoPenaltyWithoutParamsOrUnderNoneOrAnUnknownHead) {
  const double w[] = {3, -4};
  EXPECT_EQ(Penalty(2, w, nullptr), 0.0);
  EXPECT_EQ(Penalty(2, w, Params("NoNe", {{"EPSILON2", "1"}}).get()), 0.0);
  EXPECT_EQ(Penalty(2, w, Params("decay", {{"EPSILON2", "1"}}).get()), 0.0);
}

TEST(TErrorObjTest, QuadraticPenaltyReadsItsCoefficients) {
  const double w12[] = {1, 2}, w1[] = {1};
  EXPECT_EQ(Penalty(2, w12, Params("QUADPENALTY", {}).get()), 0.0);
  EXPECT_EQ(Penalty(2, w12, Params("quadpenalty", {{"epsilon2", "0.5"}}).get()), 2.5);
  EXPECT_EQ(Penalty(1, w1, Params("QuadPenalty", {{"EPSILON1", "1"}}).get()), 0.5);
  // e1 b s / (b s + 1) + e2 s, per weight: 2 * 3 * 4 / 13 + 0.5 * 4 for w = 2.
  const double w2[] = {2};
  EXPECT_DOUBLE_EQ(
      Penalty(1, w2, Params("QUADPENALTY", {{"EPSILON1", "2"}, {"BETA", "3"}, {"EPSILON2", "0.5"}}).get()),
      24.0 / 13.0 + 2.0);
  EXPECT_EQ(Penalty(0, nullptr, Params("QUADPENALTY", {{"EPSILON2", "1"}}).get()), 0.0);
}

TEST(TErrorObjTest, LearningWithForgettingPenaltyWithAMissingRateIsZero) {
  const double w[] = {-2, 3};
  EXPECT_NEAR(Penalty(2, w, Params("LWF", {{"LEARNINGRATE", "0.1"}, {"FORGETTINGRATE", "0.01"}}).get()),
              0.005, 1e-17);
  EXPECT_EQ(Penalty(2, w, Params("lwf", {{"LEARNINGRATE", "0.1"}}).get()), 0.0);
  EXPECT_EQ(Penalty(2, w, Params("LWF", {{"FORGETTINGRATE", "0.1"}}).get()), 0.0);
}

TEST(TErrorObjTest, PenaltyAddsToTheSumOfEitherMeasure) {
  const double w[] = {1, 2};
  auto params = Params("QUADPENALTY", {{"EPSILON2", "0.5"}});
  TErrorCrossEntropyObj ce(1);
  const double one = 1, half = 0.5;
  ce.Accumulate(&one, &half);
  const double before = ce.GetError();
  ce.AddPenalty(2, w, params.get());
  EXPECT_EQ(ce.GetError(), before + 2.5);
  EXPECT_EQ(ce.count, 1);

  // In the root mean square the penalty lies inside the root.
  TErrorRMSObj rms(2);
  const double t[] = {1, 0}, y[] = {0, 0};
  rms.Accumulate(t, y);
  rms.AddPenalty(2, w, params.get());
  EXPECT_DOUBLE_EQ(rms.GetError(), std::sqrt(3.5 / 2));
}

TEST(TErrorObjTest, ABadCoefficientIsRefusedAndLeavesTheMeasureAsItWas) {
  const double w[] = {1, 2};
  struct Case {
    const char* head;
    const char* keyword;
  } cases[] = {{"QUADPENALTY", "EPSILON1"}, {"QUADPENALTY", "EPSILON2"}, {"QUADPENALTY", "BETA"},
               {"LWF", "LEARNINGRATE"},     {"LWF", "FORGETTINGRATE"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keyword);
    auto params = Params(c.head, {{c.keyword, "abc"}});
    TErrorRMSObj rms(2);
    const double t[] = {1, 0}, y[] = {0, 0};
    rms.Accumulate(t, y);
    TErrorCrossEntropyObj ce(1);
    try {
      rms.AddPenalty(2, w, params.get());
      ADD_FAILURE() << "not refused";
    } catch (const TKQstructure::Error& e) {
      EXPECT_EQ(ReplyText(e), "(error :type invalid-message :number-expected abc)");
    }
    EXPECT_THROW(ce.AddPenalty(2, w, params.get()), TKQstructure::Error);
    EXPECT_EQ(rms.sum, 1.0);
    EXPECT_EQ(rms.count, 1);
    EXPECT_EQ(ce.sum, 0.0);
  }
}

}  // namespace
