#include "support/actions.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "git/run_git_action.hpp"

namespace brackwen::test {

ActionState wait_for_action(ActionId id) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  ActionState last;
  while (std::chrono::steady_clock::now() < deadline) {
    auto state = poll_action2(id);
    if (!state) {
      ADD_FAILURE() << "action " << id << " is not in ACTIONS";
      return last;
    }
    last = *state;
    if (last.done) return last;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ADD_FAILURE() << "action " << id << " did not end";
  return last;
}

}  // namespace brackwen::test
