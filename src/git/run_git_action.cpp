// Long-running git actions: the action table's updates, the action and stderr-reader threads.
#include "git/run_git_action.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

#include "git/process.hpp"
#include "git/run_git.hpp"
#include "parser/diagnostics.hpp"
#include "stores/stores.hpp"

namespace brackwen {
namespace {

constexpr size_t kStdoutBuffer = 8192;
constexpr size_t kStderrRead = 100;
constexpr auto kStderrPause = std::chrono::milliseconds(50);

// git's own wording when a login is refused or cannot be asked for.
constexpr std::array<std::string_view, 3> kCredentialTexts = {
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

void close_fd(int fd) {
  if (fd >= 0) ::close(fd);
}

// Reads what is left so nobody blocks writing into a pipe no one listens to any more.
void discard_rest(int fd) noexcept {
  std::array<char, 4096> buf;
  while (true) {
    ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
  }
}

int status_code(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return -1;
}

enum class ChildCheck { Running, Ended, Failed };

ChildCheck check_child(pid_t pid, int& status) {
  while (true) {
    int wait_status = 0;
    pid_t r = ::waitpid(pid, &wait_status, WNOHANG);
    if (r == 0) return ChildCheck::Running;
    if (r == pid) {
      status = status_code(wait_status);
      return ChildCheck::Ended;
    }
    if (errno != EINTR) return ChildCheck::Failed;
  }
}

// One burst: 100-byte reads while each fills up. True when the stream has ended (or failed).
bool read_stderr_burst(int fd, std::string& burst) {
  std::array<char, kStderrRead> buf;
  while (true) {
    ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
    burst.append(buf.data(), static_cast<size_t>(n));
    if (static_cast<size_t>(n) < buf.size()) return false;
  }
}

bool store_stderr_burst(int fd, ActionId id) {
  std::string burst;
  bool ended = read_stderr_burst(fd, burst);
  std::string text = decode_utf8_lossy(burst);
  if (!text.empty()) add_stderr_log(id, std::move(text));
  return ended;
}

// The reader's pause between bursts, cut short when the child ends, so that a quick git
// costs no fixed 50 ms. Without a pidfd (old kernels) it is a plain sleep.
struct ChildEndWait {
  int pidfd;
  explicit ChildEndWait(pid_t pid) : pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))) {}
  ~ChildEndWait() { close_fd(pidfd); }
  ChildEndWait(const ChildEndWait&) = delete;
  ChildEndWait& operator=(const ChildEndWait&) = delete;

  void pause() const {
    if (pidfd < 0) {
      std::this_thread::sleep_for(kStderrPause);
      return;
    }
    pollfd watch{pidfd, POLLIN, 0};
    ::poll(&watch, 1, static_cast<int>(kStderrPause.count()));
  }
};

struct ReaderResult {
  std::optional<int> status;  // set the moment the reader reaps the child
};

// The stderr reader. It reaps the child when it sees it end, and reads standard error to its
// end either way: a credential failure is often git's very last line.
void poll_action_stderr(pid_t pid, int fd, ActionId id, ReaderResult& result) {
  ChildEndWait end_wait(pid);
  bool ended = false;
  while (true) {
    int status = -1;
    ChildCheck check = check_child(pid, status);
    if (check == ChildCheck::Ended) result.status = status;
    if (check != ChildCheck::Running) break;
    end_wait.pause();
    if (!ended) ended = store_stderr_burst(fd, id);
  }
  while (!ended) ended = store_stderr_burst(fd, id);
}

void run_stderr_reader(pid_t pid, int fd, ActionId id, ReaderResult& result) noexcept {
  try {
    poll_action_stderr(pid, fd, id, result);
  } catch (...) {
    // The action thread still waits for the child and judges its exit status.
    discard_rest(fd);
  }
  close_fd(fd);
}

void store_stdout_line(ActionId id, std::string& line) {
  if (!is_valid_utf8(line)) return;
  if (!line.empty() && line.back() == '\n') {
    line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
  add_stdout_log(id, std::move(line));
}

// Reads standard output to its end, storing each line as it is complete. Closes the pipe.
// The text of the failure when the output could not be read or stored.
std::optional<std::string> read_stdout_lines(int fd, ActionId id) noexcept {
  std::optional<std::string> failure;
  try {
    std::array<char, kStdoutBuffer> buf;
    std::string pending;
    while (true) {
      ssize_t n = ::read(fd, buf.data(), buf.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        failure = with_reason("Failed to read git's standard output", errno);
        break;
      }
      if (n == 0) break;
      std::string_view chunk(buf.data(), static_cast<size_t>(n));
      for (size_t end; (end = chunk.find('\n')) != std::string_view::npos;) {
        pending.append(chunk.substr(0, end + 1));
        chunk.remove_prefix(end + 1);
        store_stdout_line(id, pending);
        pending.clear();
      }
      pending.append(chunk);
    }
    if (!failure && !pending.empty()) store_stdout_line(id, pending);
  } catch (const std::exception& e) {
    failure = std::string("Failed to store git's standard output: ") + e.what();
    discard_rest(fd);
  } catch (...) {
    failure = "Failed to store git's standard output";
    discard_rest(fd);
  }
  close_fd(fd);
  return failure;
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

void run_guarded(ActionId id, const std::function<void(ActionId)>& body) noexcept {
  try {
    body(id);
    return;
  } catch (const std::exception& e) {
    try {
      set_action_error(id, io_error(std::string("Action failed: ") + e.what()));
    } catch (...) {
    }
  } catch (...) {
    try {
      set_action_error(id, io_error("Action failed"));
    } catch (...) {
    }
  }
}

}  // namespace

ActionError classify_failure(const std::vector<std::string>& stderr_bursts) {
  // Bursts are arbitrary cuts of one stream, so they are joined without a separator: a
  // message cut in two by a read must still be found.
  std::string all;
  for (const auto& burst : stderr_bursts) all += burst;
  for (auto text : kCredentialTexts) {
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
  try {
    std::thread([id, body = std::move(body)] { run_guarded(id, body); }).detach();
  } catch (const std::exception& e) {
    set_action_error(id, io_error(std::string("Failed to start the action thread: ") + e.what()));
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
  errno = 0;
  auto child = spawn_process(argv, repo_path);
  if (!child) return io_error(system_text(errno, "Failed to start git"));

  ReaderResult reader_result;
  std::thread reader;
  try {
    reader = std::thread(run_stderr_reader, child->pid, child->err_fd, id, std::ref(reader_result));
  } catch (const std::exception& e) {
    ::kill(child->pid, SIGKILL);
    close_fd(child->out_fd);
    close_fd(child->err_fd);
    wait_child(child->pid);
    return io_error(std::string("Failed to start the stderr reader: ") + e.what());
  }
  auto stdout_failure = read_stdout_lines(child->out_fd, id);
  reader.join();

  int status = 0;
  if (reader_result.status) {
    status = *reader_result.status;
  } else {
    errno = 0;
    status = wait_child(child->pid);
    if (status < 0) return io_error(system_text(errno, "Failed to wait for git"));
  }
  if (status != 0) return classify_recorded_failure(id);
  if (stdout_failure) return io_error(std::move(*stdout_failure));
  return std::nullopt;
}

}  // namespace brackwen
