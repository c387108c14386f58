#include "NeuralNets/TErrorObj.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace kartlo {
namespace {

std::unique_ptr<TKQstructure> Params(const char* text) {
  const char* cursor = text;
  return TKQstructure::FromText(cursor);
}

TEST(TErrorRMSObj, RootOfMeanSquaredDifference) {
  TErrorRMSObj err(2);
  EXPECT_EQ(err.GetError(), 0.0);  // no rows yet
  const double target[] = {1.0, 0.0};
  const double output[] = {0.0, 0.0};
  err.Accumulate(target, output);
  EXPECT_EQ(err.count, 1);
  EXPECT_EQ(err.sum, 1.0);
  EXPECT_EQ(err.GetError(), std::sqrt(0.5));

  const double t2[] = {0.5, -1.0};
  const double o2[] = {0.25, 2.0};
  err.Accumulate(t2, o2);
  EXPECT_EQ(err.sum, 1.0 + 0.0625 + 9.0);
  EXPECT_EQ(err.GetError(), std::sqrt((1.0 + 0.0625 + 9.0) / 2 / 2));

  err.Reset();
  EXPECT_EQ(err.count, 0);
  EXPECT_EQ(err.sum, 0.0);
  err.Accumulate(output, output);
  err.Accumulate(target, target);
  EXPECT_EQ(err.GetError(), 0.0);
}

TEST(TErrorRMSObj, NoOutputsGivesZero) {
  TErrorRMSObj err(0);
  err.Accumulate(nullptr, nullptr);
  EXPECT_EQ(err.count, 1);
  EXPECT_EQ(err.GetError(), 0.0);
}

TEST(TErrorRMSObj, PenaltyEntersBeforeTheRoot) {
  TErrorRMSObj err(2);
  const double target[] = {1.0, 0.0};
  const double output[] = {0.0, 0.0};
  err.Accumulate(target, output);
  const double weights[] = {1.0, -1.0};
  err.AddPenalty(2, weights, Params("(QuadPenalty :epsilon1 1 :beta 1)").get());
  EXPECT_EQ(err.sum, 2.0);
  EXPECT_EQ(err.GetError(), 1.0);
  EXPECT_EQ(err.count, 1);
}

TEST(TErrorCrossEntropyObj, TermsAndSpecialOutputs) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double target;
    double output;
    double cost;
  };
  const Case cases[] = {
      {1.0, 0.5, std::log(2.0)},
      {0.0, 0.5, std::log(2.0)},
      {0.25, 0.75, -0.25 * std::log(0.75) - 0.75 * std::log(0.25)},
      {0.0, 1.0, 1.0e6},
      {0.5, 1.0, 1.0e6},
      {1.0, 1.0, 0.0},
      {0.0, 0.0, 0.0},
      {-0.0, -0.0, 0.0},
      {1.0, 0.0, 1.0e6},
      {0.5, 0.0, 1.0e6},
      {0.0, -0.5, 1.0e6},
      {1.0, -0.5, 1.0e6},
      {1.0, 1.5, 1.0e6},
      {0.0, 2.0, 1.0e6},
      {1.0, inf, 1.0e6},
      {0.0, -inf, 1.0e6},
      {1.0, nan, 1.0e6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.target) + " / " + std::to_string(c.output));
    TErrorCrossEntropyObj err(1);
    err.Accumulate(&c.target, &c.output);
    EXPECT_EQ(err.GetError(), c.cost);
    EXPECT_EQ(err.count, 1);
  }
}

TEST(TErrorCrossEntropyObj, SumsRowsAndOutputsWithoutAveraging) {
  TErrorCrossEntropyObj err(2);
  const double target[] = {1.0, 0.0};
  const double output[] = {0.5, 0.25};
  err.Accumulate(target, output);
  const double once = err.GetError();
  EXPECT_EQ(once, -1.0 * std::log(0.5) - 0.0 * std::log(0.5) +
                      (-0.0 * std::log(0.25) - 1.0 * std::log(0.75)));
  err.Accumulate(target, output);
  EXPECT_EQ(err.GetError(), 2 * once);
  EXPECT_EQ(err.count, 2);

  const double weights[] = {2.0};
  err.AddPenalty(1, weights, Params("(lwf :learningrate 0.5 :forgettingrate 0.5)").get());
  EXPECT_EQ(err.GetError(), 2 * once + 0.5);

  err.Reset();
  EXPECT_EQ(err.count, 0);
  EXPECT_EQ(err.GetError(), 0.0);
}

TEST(TErrorObj, Penalties) {
  struct Case {
    const char* params;  // null: no parameter structure
    std::vector<double> weights;
    double scale;
    double penalty;
  };
  const Case cases[] = {
      {nullptr, {1.0, 2.0}, 1.0, 0.0},
      {"none", {1.0, 2.0}, 1.0, 0.0},
      {"(NoNe :epsilon1 5)", {1.0}, 1.0, 0.0},
      {"(QUADPENALTY :EPSILON1 1 :BETA 1 :EPSILON2 0)", {1.0, -1.0}, 1.0, 1.0},
      {"(quadpenalty :epsilon1 1)", {1.0, -1.0}, 1.0, 1.0},  // BETA defaults to 1
      {"quadpenalty", {1.0, -3.0}, 1.0, 0.0},
      {"(QuadPenalty :Epsilon2 0.5)", {2.0, -3.0}, 1.0, 0.5 * 4.0 + 0.5 * 9.0},
      {"(quadpenalty :epsilon1 2 :epsilon2 0.25 :beta 3)", {0.5}, 2.0,
       2.0 * ((2.0 * 3.0 * 0.25) / (3.0 * 0.25 + 1) + 0.25 * 0.25)},
      {"(quadpenalty :epsilon1 1)", {}, 1.0, 0.0},
      {"(LWF :LEARNINGRATE 0.1 :FORGETTINGRATE 0.5)", {1.0, -2.0}, 1.0, 0.1 * 0.5 * 3.0},
      {"(lwf :forgettingrate 0.1 :learningrate 0.5)", {1.0, -2.0}, 7.0, 0.5 * 0.1 * 3.0},
      {"(lwf :learningrate 0.1)", {1.0, -2.0}, 1.0, 0.0},
      {"lwf", {1.0}, 1.0, 0.0},
  };
  TErrorRMSObj err(1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params ? c.params : "null");
    const auto params = c.params ? Params(c.params) : nullptr;
    EXPECT_EQ(err.Penalty(static_cast<int>(c.weights.size()), c.weights.data(), params.get(),
                          c.scale),
              c.penalty);
  }
}

TEST(TErrorObj, NonNumericPenaltyParameterThrows) {
  TErrorRMSObj err(1);
  const double weights[] = {1.0};
  try {
    err.AddPenalty(1, weights, Params("(lwf :learningrate abc :forgettingrate 1)").get());
    FAIL() << "no error thrown";
  } catch (const TKQstructure::Error& e) {
    EXPECT_EQ(e.message->ToText(), "(error :type invalid-message :number-expected abc)");
  }
  EXPECT_EQ(err.sum, 0.0);
}

TEST(TErrorObjDeathTest, UnknownPenaltyFailsAssertion) {
  TErrorRMSObj err(1);
  const double weights[] = {1.0};
  const auto params = Params("(decay :rate 1)");
  EXPECT_DEATH(err.AddPenalty(1, weights, params.get()), "Assertion failed: false,");
}

TEST(TErrorObj, DeletedThroughBasePointer) {
  std::unique_ptr<TErrorObj> err = std::make_unique<TErrorCrossEntropyObj>(3);
  EXPECT_EQ(err->numOutputs, 3);
  EXPECT_EQ(err->count, 0);
  err = std::make_unique<TErrorRMSObj>(2);
  EXPECT_EQ(err->GetError(), 0.0);
}

}  // namespace
}  // namespace kartlo
