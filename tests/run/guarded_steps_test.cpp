#include "run/guarded_steps.h"

#include <gtest/gtest.h>

namespace kestrine {
namespace {

TEST(GuardedSteps, FailedStepIsAbandonedAndTheNextOneRuns) {
  std::vector<Failure> sink;
  GuardedSteps step(&sink);
  int value = 1;
  EXPECT_FALSE(step("first", [&] {
    throw PlatformError(19, "refused");
    value = 2;
  }));
  EXPECT_EQ(value, 1);
  EXPECT_TRUE(step("second", [&] { value = 3; }));
  EXPECT_EQ(value, 3);
  // The error number of the last failure stays readable until cleared.
  EXPECT_EQ(step.errorNumber(), 19);
  EXPECT_EQ(step.lastFailure().step, "first");
  step.clear();
  EXPECT_EQ(step.errorNumber(), 0);
  ASSERT_EQ(sink.size(), 1u);
  EXPECT_EQ(sink[0].reason, "refused");
}

TEST(GuardedSteps, AnyExceptionIsAFailureAndACodeOfZeroStillCounts) {
  GuardedSteps step;
  EXPECT_FALSE(step("std", [] { throw std::out_of_range("column 9"); }));
  EXPECT_EQ(step.errorNumber(), -1);
  EXPECT_FALSE(step("zero", [] { throw PlatformError(0, "odd"); }));
  EXPECT_NE(step.errorNumber(), 0);
  EXPECT_EQ(step.lastFailure().code, 0);
}

}  // namespace
}  // namespace kestrine
