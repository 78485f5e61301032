// Long-running git actions: commands run one after another on a background thread, their
// output streamed into the action's record in ACTIONS, which the front end polls.
//
// The action's thread runs the commands one after another and streams each git's output
// (git/process.hpp): standard output stored a line at a time as each is complete, standard
// error in bursts at most every 50 ms while git runs. Standard error is read to its end, even
// after git has exited, so the last words of a failing git (often the reason it failed) are
// never lost. Every update of a record is one read-modify-write under the store's lock.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/action.hpp"

namespace brackwen {

using GitCommand = std::vector<std::string>;  // git's arguments, without the program name

// Allocates the next id (0 when the counter is unreadable), records an empty state and runs
// `body` on a detached thread. The body ends the action with set_action_done or
// set_action_error; one that throws ends it with an IO error. When no thread can be started
// the action ends at once with an IO error.
ActionId start_action(std::function<void(ActionId)> body);

// Runs `commands` in `repo_path`, stopping at the first that fails.
ActionId start_git_actions(const std::string& repo_path, std::vector<GitCommand> commands);
ActionId start_git_action(const std::string& repo_path, GitCommand args);

// The body of a command-list action.
void run_action_commands(const std::string& repo_path, const std::vector<GitCommand>& commands,
                         ActionId id);

// Runs one git command of action `id`, appending its output to the record. Nothing when git
// exited with status 0, otherwise the error that ends the action.
std::optional<ActionError> run_action_command(const std::string& repo_path, const GitCommand& args,
                                              ActionId id);

// The four updates of one record; each prints a line on standard error when the id has none.
void add_stdout_log(ActionId id, std::string line);
void add_stderr_log(ActionId id, std::string text);
void set_action_error(ActionId id, ActionError error);
void set_action_done(ActionId id);

void set_action(ActionId id, ActionState state);
std::optional<ActionState> get_action(ActionId id);

// A copy of the record; a record that is done is forgotten once reported. Id 0 is refused.
std::optional<ActionState> poll_action2(ActionId id);

// Credential when standard error (the concatenated bursts) shows a refused login, else Git.
ActionError classify_failure(const std::vector<std::string>& stderr_bursts);

}  // namespace brackwen
