// Runs a check in a fresh copy of the test program (gtest's threadsafe death-test style
// re-executes the binary), where no process-wide store has been touched yet.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>

namespace brackwen::test {

inline void in_fresh_process(void (*check)()) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        check();
        std::exit(testing::Test::HasFailure() ? 1 : 0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace brackwen::test
