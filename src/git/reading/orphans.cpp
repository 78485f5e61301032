// The registry of the protocol's children and the sweep of adopted orphans.
//
// An orphan comes back to the first live thread of this process, the main one, and shows in
// its "children" file of /proc. Which run it came from is read from its environment: a reading
// run's mark is inherited by everything the run starts, and the user's own commands carry none,
// so what they leave (an ssh master that a push started) lives on and is only reaped.
#include "git/reading/orphans.hpp"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "git/reading/child_limits.hpp"
#include "stores/threads.hpp"

namespace brackwen {
namespace {

constexpr std::string_view MARK_NAME = "BRACKWEN_READ_RUN=";
// A mark is looked for this far into an environment; the protocol's children get one of a few
// kilobytes.
constexpr size_t ENVIRONMENT_READ_LIMIT = size_t{1} << 20;

struct Registry {
  std::mutex mutex;
  std::unordered_set<pid_t> children;  // started by the protocol, not yet reaped by it
  std::unordered_set<uint64_t> runs;   // reading runs under way
};

Registry& REGISTRY() {
  static Registry registry;
  return registry;
}

const std::string& main_thread_children() {
  static const std::string path = "/proc/self/task/" + std::to_string(::getpid()) + "/children";
  return path;
}

// The run whose mark the process's environment carries; absent when it carries none or cannot
// be read (a process already ended, or another user's).
std::optional<uint64_t> mark_of(pid_t pid) {
  std::string environment =
      read_proc_file("/proc/" + std::to_string(pid) + "/environ", ENVIRONMENT_READ_LIMIT);
  std::string_view rest(environment);
  while (!rest.empty()) {
    size_t end = rest.find('\0');
    std::string_view entry = rest.substr(0, end);
    if (entry.starts_with(MARK_NAME)) {
      entry.remove_prefix(MARK_NAME.size());
      uint64_t run = 0;
      auto parsed = std::from_chars(entry.data(), entry.data() + entry.size(), run);
      if (parsed.ec != std::errc()) return std::nullopt;
      return run;
    }
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return std::nullopt;
}

// With the registry's lock held: every adopted process that has ended is reaped, and every one
// that carries the mark of a run no longer under way is killed with its group (it is reaped
// once it has ended). Until an adopted process is reaped its pid names nobody else.
void sweep(const Registry& registry) {
  for (pid_t pid : listed_children(main_thread_children())) {
    if (registry.children.contains(pid)) continue;
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) != 0) continue;
    std::optional<uint64_t> run = mark_of(pid);
    if (!run || registry.runs.contains(*run)) continue;
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
  }
}

void reap_orphans_forever() {
  sigset_t child_ended;
  sigemptyset(&child_ended);
  sigaddset(&child_ended, SIGCHLD);
  for (;;) {
    if (::sigwaitinfo(&child_ended, nullptr) < 0) continue;
    Registry& registry = REGISTRY();
    std::lock_guard lock(registry.mutex);
    sweep(registry);
  }
}

}  // namespace

void adopt_orphans() {
  sigset_t child_ended;
  sigemptyset(&child_ended);
  sigaddset(&child_ended, SIGCHLD);
  ::pthread_sigmask(SIG_BLOCK, &child_ended, nullptr);
  if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) return;
  // Without the thread, orphans are still reaped, at the end of the next reading run.
  start_background_thread("Reaping orphans", reap_orphans_forever);
}

uint64_t next_reading_run() {
  static std::atomic<uint64_t> last{0};
  return ++last;
}

std::string reading_run_mark(uint64_t run) {
  return std::string(MARK_NAME) + std::to_string(run);
}

pid_t spawn_registered(const std::function<pid_t()>& spawn, uint64_t run) {
  Registry& registry = REGISTRY();
  std::lock_guard lock(registry.mutex);
  pid_t pid = spawn();
  if (pid <= 0) return pid;
  registry.children.insert(pid);
  if (run != 0) registry.runs.insert(run);
  return pid;
}

void forget_child(pid_t pid, uint64_t run) {
  Registry& registry = REGISTRY();
  std::lock_guard lock(registry.mutex);
  registry.children.erase(pid);
  if (run == 0) return;
  registry.runs.erase(run);
  sweep(registry);
}

std::vector<pid_t> adopted_of(uint64_t run, pid_t leader) {
  std::vector<pid_t> found;
  for (pid_t pid : listed_children(main_thread_children())) {
    if (pid != leader && mark_of(pid) == run) found.push_back(pid);
  }
  return found;
}

}  // namespace brackwen
