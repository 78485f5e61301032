// Waiting for a long-running action in tests.
#pragma once
#include <gtest/gtest.h>

#include "git/run_git_action.hpp"
#include "support/requests.hpp"

namespace brackwen::test {

// Polls the action until it reports done and returns that last report. Fails the test (and
// returns what was seen) when it has not ended within a minute, so a hang cannot stall a run.
inline ActionState wait_for_action(ActionId id) {
  ActionState last;
  bool known = true;
  bool ended = eventually(
      [&] {
        auto state = poll_action2(id);
        if (state) last = *state;
        known = state.has_value();
        return !known || last.done;
      },
      std::chrono::minutes(1));
  EXPECT_TRUE(known && ended) << "action " << id << (known ? " did not end" : " is not in ACTIONS");
  return last;
}

}  // namespace brackwen::test
