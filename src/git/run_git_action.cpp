// Long-running git actions: the action table's updates, the action thread and its gits' output.
#include "git/run_git_action.hpp"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>

#include "git/process.hpp"
#include "git/run_git.hpp"
#include "parser/diagnostics.hpp"
#include "parser/utf8.hpp"
#include "stores/stores.hpp"
#include "stores/threads.hpp"

namespace brackwen {
namespace {

constexpr std::chrono::milliseconds STDERR_PAUSE{50};

// git's own wording when a login is refused or cannot be asked for.
constexpr std::array<std::string_view, 3> CREDENTIAL_TEXTS = {
    "could not read Username", "Invalid username or password", "Authentication failed for"};

ActionError io_error(std::string message) {
  return ActionError{ActionError::Kind::IO, std::move(message)};
}

// The system's wording, when the failing call left one in errno.
std::string with_reason(std::string message, int error) {
  if (error != 0) message += std::string(": ") + std::strerror(error);
  return message;
}

// The front end shows the system's own wording; `fallback` when the call left none.
std::string system_text(int error, std::string fallback) {
  return error != 0 ? std::string(std::strerror(error)) : std::move(fallback);
}

template <class F>
void update_action(ActionId id, std::string_view who, F&& change) {
  bool found = false;
  ACTIONS().update([&](std::unordered_map<ActionId, ActionState>& all) {
    auto it = all.find(id);
    if (it == all.end()) return;
    change(it->second);
    found = true;
  });
  if (!found) {
    write_stderr(std::string(who) + ": Didn't find action id " + std::to_string(id) + "\n");
  }
}

ActionId allocate_action_id() {
  ActionId id = 0;
  LAST_ACTION_ID().update([&](uint32_t& last) {
    id = last + 1;
    last = id;
  });
  return id;
}

// Git's standard error, a burst at a time. Once one cannot be stored (out of memory), that is
// said on standard error and the rest is dropped; git runs on, judged by its exit status.
struct StderrBursts {
  ActionId id;
  bool dropping = false;
};

void store_stderr_burst(StderrBursts& bursts, std::string_view burst) {
  if (bursts.dropping) return;
  bursts.dropping = !run_reported("Storing git's standard error", [&] {
    std::string text = decode_utf8_lossy(burst);
    if (!text.empty()) add_stderr_log(bursts.id, std::move(text));
  });
}

void store_stdout_line(ActionId id, std::string& line) {
  if (!is_valid_utf8(line)) return;
  if (!line.empty() && line.back() == '\n') {
    line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
  add_stdout_log(id, std::move(line));
}

// Git's standard output, stored a line at a time as each is complete.
struct StdoutLines {
  ActionId id;
  std::string pending;  // the start of a line not complete yet
  std::optional<std::string> failure;
};

void store_complete_lines(StdoutLines& lines, std::string_view bytes) {
  for (size_t end; (end = bytes.find('\n')) != std::string_view::npos;) {
    lines.pending.append(bytes.substr(0, end + 1));
    bytes.remove_prefix(end + 1);
    store_stdout_line(lines.id, lines.pending);
    lines.pending.clear();
  }
  lines.pending.append(bytes);
}

// Storing can fail (out of memory). The rest of the output is then dropped but git runs on:
// stopping a push or a rebase half way would leave a state nobody asked for, and its exit
// status is judged before this failure.
template <class F>
void store_guarded(StdoutLines& lines, F&& store) {
  if (lines.failure) return;
  try {
    store();
  } catch (const std::exception& e) {
    lines.failure = std::string("Failed to store git's standard output: ") + e.what();
  }
}

ActionError classify_recorded_failure(ActionId id) {
  auto error = ACTIONS().read([&](const std::unordered_map<ActionId, ActionState>& all) {
    auto it = all.find(id);
    return it == all.end() ? std::optional<ActionError>()
                           : classify_failure(it->second.stderr_lines);
  });
  if (error && *error) return **error;
  return io_error("Failed to load action " + std::to_string(id) + " from ACTIONS");
}

// An action that throws still ends, or its polls would show it running for ever; the
// exception passes on to the thread's report.
void run_guarded(ActionId id, const std::function<void(ActionId)>& body) {
  try {
    body(id);
  } catch (const std::exception& e) {
    set_action_error(id, io_error(std::string("Action failed: ") + e.what()));
    throw;
  } catch (...) {
    set_action_error(id, io_error("Action failed"));
    throw;
  }
}

}  // namespace

ActionError classify_failure(const std::vector<std::string>& stderr_bursts) {
  // Bursts are arbitrary cuts of one stream, so they are joined without a separator: a
  // message cut in two by a read must still be found.
  std::string all;
  for (const auto& burst : stderr_bursts) all += burst;
  for (auto text : CREDENTIAL_TEXTS) {
    if (all.find(text) != std::string::npos) return ActionError{ActionError::Kind::Credential, {}};
  }
  return ActionError{ActionError::Kind::Git, {}};
}

void add_stdout_log(ActionId id, std::string line) {
  update_action(id, "add_stdout_log",
                [&](ActionState& s) { s.stdout_lines.push_back(std::move(line)); });
}

void add_stderr_log(ActionId id, std::string text) {
  update_action(id, "add_stderr_log",
                [&](ActionState& s) { s.stderr_lines.push_back(std::move(text)); });
}

void set_action_error(ActionId id, ActionError error) {
  update_action(id, "set_action_error", [&](ActionState& s) {
    s.error = std::move(error);
    s.done = true;
  });
}

void set_action_done(ActionId id) {
  update_action(id, "set_action_done", [](ActionState& s) { s.done = true; });
}

void set_action(ActionId id, ActionState state) {
  ACTIONS().update([&](auto& all) { all[id] = std::move(state); });
}

std::optional<ActionState> get_action(ActionId id) {
  auto found = ACTIONS().read([&](const auto& all) -> std::optional<ActionState> {
    auto it = all.find(id);
    if (it == all.end()) return std::nullopt;
    return it->second;
  });
  return found ? *found : std::nullopt;
}

std::optional<ActionState> poll_action2(ActionId id) {
  if (id == 0) {
    write_stderr("poll_action2: Requested action id of 0\n");
    return std::nullopt;
  }
  std::optional<ActionState> copy;
  ACTIONS().update([&](std::unordered_map<ActionId, ActionState>& all) {
    auto it = all.find(id);
    if (it == all.end()) return;
    copy = it->second;
    if (copy->done) all.erase(it);
  });
  return copy;
}

ActionId start_action(std::function<void(ActionId)> body) {
  ActionId id = allocate_action_id();
  set_action(id, ActionState{});
  bool started = start_background_thread("Action " + std::to_string(id),
                                         [id, body = std::move(body)] { run_guarded(id, body); });
  if (!started) {
    set_action_error(id, io_error(with_reason("Failed to start the action thread", errno)));
  }
  return id;
}

ActionId start_git_actions(const std::string& repo_path, std::vector<GitCommand> commands) {
  return start_action([repo_path, commands = std::move(commands)](ActionId id) {
    run_action_commands(repo_path, commands, id);
  });
}

ActionId start_git_action(const std::string& repo_path, GitCommand args) {
  std::vector<GitCommand> commands;
  commands.push_back(std::move(args));
  return start_git_actions(repo_path, std::move(commands));
}

void run_action_commands(const std::string& repo_path, const std::vector<GitCommand>& commands,
                         ActionId id) {
  for (const auto& args : commands) {
    if (auto error = run_action_command(repo_path, args, id)) {
      set_action_error(id, std::move(*error));
      return;
    }
  }
  set_action_done(id);
}

std::optional<ActionError> run_action_command(const std::string& repo_path, const GitCommand& args,
                                              ActionId id) {
  GitCommand argv{GIT_PROGRAM()};
  argv.insert(argv.end(), args.begin(), args.end());
  StdoutLines lines{id, {}, std::nullopt};
  StreamHandlers handlers;
  handlers.on_out = [&](std::string_view bytes) {
    store_guarded(lines, [&] { store_complete_lines(lines, bytes); });
  };
  StderrBursts bursts{id};
  handlers.on_err = [&](std::string_view burst) { store_stderr_burst(bursts, burst); };
  handlers.err_pause = STDERR_PAUSE;
  // The user's own command: git as it runs from a shell, credentials and all.
  handlers.whole_environment = true;
  errno = 0;
  std::optional<StreamEnd> end = stream_process(argv, repo_path, handlers);
  if (!end) return io_error(system_text(errno, "Failed to start git"));
  if (end->out_error == 0 && !lines.pending.empty()) {
    store_guarded(lines, [&] { store_stdout_line(id, lines.pending); });
  }
  if (end->status != 0) return classify_recorded_failure(id);
  if (end->out_error != 0) {
    return io_error(with_reason("Failed to read git's standard output", end->out_error));
  }
  if (lines.failure) return io_error(std::move(*lines.failure));
  return std::nullopt;
}

}  // namespace brackwen
