// Waiting for a long-running action in tests.
#pragma once
#include "model/action.hpp"

namespace brackwen::test {

// Polls the action until it reports done and returns that last report. Fails the test (and
// returns what was seen) when it has not ended within a minute, so a hang cannot stall a run.
ActionState wait_for_action(ActionId id);

}  // namespace brackwen::test
