// Starting children with posix_spawnp and collecting their output.
//
// Descriptors: every pipe this process makes is close-on-exec, but a descriptor another
// thread (or a library) opened without O_CLOEXEC would still leak into the child, and
// marking them from here would race with those threads. The child therefore closes every
// descriptor from 3 up itself (posix_spawn_file_actions_addclosefrom_np, glibc 2.34), after
// its three standard descriptors are in place.
#include "git/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <utility>

#include "stores/environment.hpp"

extern char** environ;

#if !defined(__GLIBC__) || !__GLIBC_PREREQ(2, 34)
#error "posix_spawn_file_actions_addclosefrom_np (glibc 2.34) is needed to close inherited fds"
#endif

namespace brackwen {
namespace {

constexpr size_t kScratchSize = size_t{1} << 20;
// A larger standard-output pipe means fewer wake-ups when git writes tens of megabytes.
// Pipe pages count against a per-user limit, so standard error keeps the default; the
// kernel may refuse the size, which only costs speed.
constexpr int kPipeSize = 1 << 20;

bool has_nul(std::string_view s) {
  return s.find('\0') != std::string_view::npos;
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

struct Pipe {
  int read = -1;
  int write = -1;
  ~Pipe() {
    close_fd(read);
    close_fd(write);
  }
  bool open(bool large) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read = fds[0];
    write = fds[1];
    if (large) ::fcntl(read, F_SETPIPE_SZ, kPipeSize);
    return true;
  }
};

struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  bool ok = true;

  SpawnSetup(const Pipe& out, const Pipe& err, const std::string& cwd) {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    sigset_t defaults, mask;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&mask);
    // The child must die of a closed pipe like any command-line program, and must not
    // inherit a signal mask from whichever thread spawned it.
    check(posix_spawnattr_setsigdefault(&attr, &defaults));
    check(posix_spawnattr_setsigmask(&attr, &mask));
    // A new session has no controlling terminal, so ssh (run by git) cannot stop to ask on
    // the terminal the server was started from: it fails and the failure is reported.
    check(posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSID));
    check(posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0));
    check(posix_spawn_file_actions_adddup2(&actions, out.write, STDOUT_FILENO));
    check(posix_spawn_file_actions_adddup2(&actions, err.write, STDERR_FILENO));
    check(posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1));
    check(posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str()));
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  void check(int rc) { ok = ok && rc == 0; }
};

// Reads what is available through `scratch` (uninitialised, so no zero-filling of the
// growing output) and appends it to `out`. Returns the byte count, 0 at the end of the
// stream, -1 on an error other than EINTR.
ssize_t read_some(int fd, std::string& out, char* scratch, size_t scratch_size) {
  while (true) {
    ssize_t n = ::read(fd, scratch, scratch_size);
    if (n > 0) out.append(scratch, static_cast<size_t>(n));
    if (n >= 0) return n;
    if (errno != EINTR) return -1;
  }
}

int exit_status(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

// Closes the pipes and reaps the child on every way out, exceptions included; a child still
// writing then dies of SIGPIPE instead of blocking the wait.
struct ChildGuard {
  Child child;
  ~ChildGuard() {
    close_fd(child.out_fd);
    close_fd(child.err_fd);
    if (child.pid > 0) wait_child(child.pid);
  }
};

}  // namespace

std::optional<Child> spawn_process(const std::vector<std::string>& argv, const std::string& cwd) {
  if (argv.empty() || has_nul(cwd)) return std::nullopt;
  if (std::any_of(argv.begin(), argv.end(), [](const std::string& a) { return has_nul(a); }))
    return std::nullopt;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  Pipe out, err;
  if (!out.open(true) || !err.open(false)) return std::nullopt;
  SpawnSetup setup(out, err, cwd);
  if (!setup.ok) return std::nullopt;
  pid_t pid = -1;
  int rc;
  {
    // posix_spawnp reads PATH and environ while the child is being made.
    auto guard = environment_lock();
    rc = ::posix_spawnp(&pid, args[0], &setup.actions, &setup.attr, args.data(), environ);
  }
  if (rc != 0) {
    errno = rc;  // callers name the reason in their messages
    return std::nullopt;
  }
  Child child{pid, std::exchange(out.read, -1), std::exchange(err.read, -1)};
  return child;
}

int wait_child(pid_t pid) {
  int raw = 0;
  while (::waitpid(pid, &raw, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return exit_status(raw);
}

bool read_to_end(int fd, std::string& out) {
  auto scratch = std::make_unique_for_overwrite<char[]>(kScratchSize);
  ssize_t n;
  while ((n = read_some(fd, out, scratch.get(), kScratchSize)) > 0) {
  }
  ::close(fd);
  return n == 0;
}

std::optional<ProcessOutput> run_process(const std::vector<std::string>& argv,
                                         const std::string& cwd) {
  auto spawned = spawn_process(argv, cwd);
  if (!spawned) return std::nullopt;
  ChildGuard guard{*spawned};
  ProcessOutput result;
  auto scratch = std::make_unique_for_overwrite<char[]>(kScratchSize);
  // A read error ends that stream like its end would; what was read is kept.
  auto drain = [&](int& fd, short revents, std::string& out) {
    // POLLHUP without POLLIN still needs a read to see the end of the stream.
    if (fd >= 0 && revents != 0 && read_some(fd, out, scratch.get(), kScratchSize) <= 0)
      close_fd(fd);
  };
  int& out_fd = guard.child.out_fd;
  int& err_fd = guard.child.err_fd;
  while (out_fd >= 0 || err_fd >= 0) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;  // the guard still closes the pipes and reaps the child
    }
    drain(out_fd, fds[0].revents, result.out);
    drain(err_fd, fds[1].revents, result.err);
  }
  result.status = wait_child(std::exchange(guard.child.pid, -1));
  if (result.status < 0) return std::nullopt;
  return result;
}

}  // namespace brackwen
