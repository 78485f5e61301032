// Starting children with posix_spawnp, streaming their output and reaping them.
//
// Descriptors: every pipe this process makes is close-on-exec, but a descriptor another
// thread (or a library) opened without O_CLOEXEC would still leak into the child, and
// marking them from here would race with those threads. The child therefore closes every
// descriptor from 3 up itself (posix_spawn_file_actions_addclosefrom_np, glibc 2.34), after
// its three standard descriptors are in place.
#include "git/process.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
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

constexpr size_t SCRATCH_SIZE = size_t{1} << 20;
// A larger standard-output pipe means fewer wake-ups when git writes tens of megabytes.
// Pipe pages count against a per-user limit, so standard error keeps the default; the
// kernel may refuse the size, which only costs speed.
constexpr int PIPE_SIZE = 1 << 20;
constexpr std::chrono::milliseconds CANCEL_CHECK_INTERVAL{50};
// How often a growing output file is looked at: git writes a block every few milliseconds,
// and parsing should follow it closely.
constexpr std::chrono::milliseconds OUT_FILE_CHECK_INTERVAL{2};
// A silent child's group is sampled this many times per stall limit (11.): often enough that a
// stall ends soon after the limit, rarely enough that a long silent run costs nothing.
constexpr int SAMPLES_PER_STALL_LIMIT = 10;

using Clock = std::chrono::steady_clock;

// What a child that only reads must not see (4.): the credentials "/f/set_credentials" puts
// in the environment for the ask-pass program, and what would change the output a grammar
// reads (an external diff, the unified diff's context, pathspecs read other than literally).
constexpr std::string_view LEFT_OUT_OF_ENVIRONMENT[] = {
    "BRACKWEN_USERNAME",  "BRACKWEN_PASSWORD",    "GIT_ASKPASS",
    "GIT_EXTERNAL_DIFF",  "GIT_DIFF_OPTS",        "GIT_LITERAL_PATHSPECS",
    "GIT_GLOB_PATHSPECS", "GIT_NOGLOB_PATHSPECS", "GIT_ICASE_PATHSPECS"};

bool left_out(const char* entry) {
  std::string_view text(entry);
  std::string_view name = text.substr(0, text.find('='));
  return std::find(std::begin(LEFT_OUT_OF_ENVIRONMENT), std::end(LEFT_OUT_OF_ENVIRONMENT), name) !=
         std::end(LEFT_OUT_OF_ENVIRONMENT);
}

// The child's environment; read under the environment lock, which must be held until the
// child is made.
std::vector<char*> child_environment() {
  std::vector<char*> kept;
  for (char** entry = environ; *entry; ++entry) {
    if (!left_out(*entry)) kept.push_back(*entry);
  }
  kept.push_back(nullptr);
  return kept;
}

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
    if (large) ::fcntl(read, F_SETPIPE_SZ, PIPE_SIZE);
    return true;
  }
};

struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  bool ok = true;

  SpawnSetup(int child_in, int child_out, const Pipe& err, const std::string& cwd) {
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
    if (child_in < 0) {
      check(posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0));
    } else {
      check(posix_spawn_file_actions_adddup2(&actions, child_in, STDIN_FILENO));
    }
    check(posix_spawn_file_actions_adddup2(&actions, child_out, STDOUT_FILENO));
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

// One read (EINTR retried): the byte count, 0 at the end of the stream, -1 on an error.
ssize_t read_some(int fd, char* buffer, size_t size) {
  while (true) {
    ssize_t n = ::read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

int exit_status(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

// The status as in ProcessOutput; -1 when waitpid fails.
int wait_child(pid_t pid) {
  int raw = 0;
  while (::waitpid(pid, &raw, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return exit_status(raw);
}

struct Child {
  pid_t pid = -1;
  int out_fd = -1;  // read end of the child's standard output, or the file it writes
  int err_fd = -1;  // read end of the child's standard error
  int in_fd = -1;   // write end of the child's standard input, when it is given input
};

std::optional<Child> spawn_child(const std::vector<std::string>& argv, const std::string& cwd,
                                 const StreamHandlers& handlers) {
  bool out_to_file = handlers.out_to_file;
  if (argv.empty() || has_nul(cwd)) return std::nullopt;
  if (std::any_of(argv.begin(), argv.end(), [](const std::string& a) { return has_nul(a); }))
    return std::nullopt;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  Pipe in, out, err;
  OwnedFd out_file;
  bool has_input = !handlers.input.empty() && !out_to_file;
  // Written without blocking, between reads, so that a child that answers as it reads
  // never waits on a full output pipe while this side waits on its full input pipe.
  if (has_input && (!in.open(false) || ::fcntl(in.write, F_SETFL, O_NONBLOCK) != 0)) {
    return std::nullopt;
  }
  if (out_to_file) {
    out_file.fd = ::memfd_create("output", MFD_CLOEXEC);
    if (out_file.fd < 0) return std::nullopt;
  } else if (!out.open(true)) {
    return std::nullopt;
  }
  if (!err.open(false)) return std::nullopt;
  SpawnSetup setup(has_input ? in.read : -1, out_to_file ? out_file.fd : out.write, err, cwd);
  if (!setup.ok) return std::nullopt;
  pid_t pid = -1;
  int rc;
  {
    // posix_spawnp reads PATH and environ while the child is being made.
    auto guard = environment_lock();
    std::vector<char*> env;
    if (!handlers.whole_environment) env = child_environment();
    rc = ::posix_spawnp(&pid, args[0], &setup.actions, &setup.attr, args.data(),
                        handlers.whole_environment ? environ : env.data());
  }
  if (rc != 0) {
    errno = rc;  // callers name the reason in their messages
    return std::nullopt;
  }
  int out_fd = out_to_file ? std::exchange(out_file.fd, -1) : std::exchange(out.read, -1);
  return Child{pid, out_fd, std::exchange(err.read, -1), std::exchange(in.write, -1)};
}

// Closes the pipes and reaps the child on every way out; one that has not reaped it yet is
// killed first with its group (8.), since nobody reads its pipes any more and it might never
// end by itself. Until the child is reaped its pid cannot name another group. errno is kept
// for the caller, who names the reason of the way out.
struct ChildGuard {
  Child child;
  ~ChildGuard() {
    int reason = errno;
    close_fd(child.in_fd);
    close_fd(child.out_fd);
    close_fd(child.err_fd);
    if (child.pid > 0) {
      ::kill(-child.pid, SIGKILL);
      wait_child(child.pid);
    }
    errno = reason;
  }
  int reap() { return wait_child(std::exchange(child.pid, -1)); }
};

// The unsigned number `text` starts with, as /proc writes its counters.
std::optional<uint64_t> leading_number(std::string_view text) {
  uint64_t value = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc()) return std::nullopt;
  return value;
}

// The number after `key` in a table of /proc (io, status).
std::optional<uint64_t> number_after(std::string_view table, std::string_view key) {
  size_t at = table.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  table.remove_prefix(at + key.size());
  table.remove_prefix(std::min(table.size(), table.find_first_not_of(" \t")));
  return leading_number(table);
}

// The start of a file of /proc, up to `size` bytes: a small one whole (a stat line, a status or
// io table); empty when it is gone.
std::string proc_file(const std::string& path, size_t size = 4096) {
  std::string text(size, '\0');
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ssize_t n = fd < 0 ? -1 : read_some(fd, text.data(), text.size());
  close_fd(fd);
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

// What a process group has done so far (11.): CPU clock ticks of its processes and of the
// children they reaped, and the bytes they read or wrote.
struct Activity {
  uint64_t ticks = 0;
  uint64_t bytes = 0;
  bool operator==(const Activity&) const = default;
};

// Fields of a /proc/<pid>/stat line, counted from the one after the command name (state,
// ppid, pgrp, ...): utime, stime, cutime and cstime follow one another.
constexpr size_t STAT_PGRP = 2;
constexpr size_t STAT_UTIME = 11;
constexpr size_t STAT_FIELDS = STAT_UTIME + 4;

// The fields after the command name, which may hold spaces and parentheses itself; fewer than
// STAT_FIELDS when the line is cut short.
std::vector<std::string_view> stat_fields(std::string_view stat) {
  std::vector<std::string_view> fields;
  size_t name_end = stat.rfind(')');
  if (name_end == std::string_view::npos) return fields;
  std::string_view rest = stat.substr(name_end + 1);
  while (fields.size() < STAT_FIELDS) {
    rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(' ')));
    if (rest.empty()) break;
    size_t end = std::min(rest.size(), rest.find(' '));
    fields.push_back(rest.substr(0, end));
    rest.remove_prefix(end);
  }
  return fields;
}

// Adds the process `pid` to `sum` when it belongs to `group`; one that is gone adds nothing.
void add_member(Activity& sum, std::string_view pid, pid_t group) {
  std::string base = "/proc/" + std::string(pid);
  std::string stat = proc_file(base + "/stat");
  std::vector<std::string_view> fields = stat_fields(stat);
  if (fields.size() < STAT_FIELDS) return;
  if (leading_number(fields[STAT_PGRP]) != static_cast<uint64_t>(group)) return;
  for (size_t i = STAT_UTIME; i < STAT_FIELDS; ++i)
    sum.ticks += leading_number(fields[i]).value_or(0);
  // Another user's process (a setuid helper) keeps its io table closed: its CPU time counts.
  std::string io = proc_file(base + "/io");
  sum.bytes += number_after(io, "rchar:").value_or(0) + number_after(io, "wchar:").value_or(0);
}

// Absent when /proc cannot be listed: nothing is then known to have stopped.
std::optional<Activity> group_activity(pid_t group) {
  std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
  if (!proc) return std::nullopt;
  Activity sum;
  while (const dirent* entry = ::readdir(proc.get())) {
    if (std::isdigit(static_cast<unsigned char>(entry->d_name[0])))
      add_member(sum, entry->d_name, group);
  }
  return sum;
}

// The stall limit (11.) of one child: when it was last heard from, and its group's activity at
// the last sample of this silence.
struct StallWatch {
  Clock::duration limit;  // zero: no limit
  pid_t group;
  Clock::time_point quiet_since = Clock::now();
  Clock::time_point next_sample = quiet_since + limit / SAMPLES_PER_STALL_LIMIT;
  bool sampled = false;  // in this silence
  Activity last{};
};

// Output, or input taken: a new silence starts, with no sample yet.
void heard_from(StallWatch& watch) {
  if (watch.limit == Clock::duration::zero()) return;
  watch.quiet_since = Clock::now();
  watch.next_sample = watch.quiet_since + watch.limit / SAMPLES_PER_STALL_LIMIT;
  watch.sampled = false;
}

// How long a wait may last before the next sample is due.
Clock::duration until_sample(const StallWatch& watch) {
  if (watch.limit == Clock::duration::zero()) return Clock::duration::max();
  return std::max(watch.next_sample - Clock::now(), Clock::duration::zero());
}

// Samples the group when a sample is due: true once it has done nothing for the limit.
bool stalled(StallWatch& watch) {
  if (watch.limit == Clock::duration::zero()) return false;
  Clock::time_point now = Clock::now();
  if (now < watch.next_sample) return false;
  std::optional<Activity> seen = group_activity(watch.group);
  if (!seen || !watch.sampled || *seen != watch.last) watch.quiet_since = now;
  watch.sampled = seen.has_value();
  watch.last = seen.value_or(Activity{});
  watch.next_sample = now + watch.limit / SAMPLES_PER_STALL_LIMIT;
  return now - watch.quiet_since >= watch.limit;
}

// The start of the first line of a maps table of /proc: the lowest mapping of an address space,
// which tells one program's from another's. The kernel writes the table a line at a time as it
// is read, so that reading little costs little.
std::string first_mapping(const std::string& path) {
  std::string maps = proc_file(path, 256);
  return maps.substr(0, maps.find('\n'));
}

// Holds the child to its data limit (12.) from now on: false when the limit cannot be set or
// the child already holds more. posix_spawn returns as soon as the child starts replacing its
// memory, which it shared with this process, and the new program's own mappings may be under
// way. Reading the child's maps waits for both: the exchange of memories holds a lock that the
// read takes, and a mapping that passed the check before the limit was set, but is not counted
// yet, holds the memory's own lock. A child whose maps are still this process's has mapped
// nothing of its own: all of that comes under the limit. An ended child (a zombie) shows no
// VmData and holds nothing.
bool limit_data(pid_t pid, uint64_t bytes) {
  if (bytes == 0) return true;
  rlimit limit{bytes, bytes};
  if (::prlimit(pid, RLIMIT_DATA, &limit, nullptr) != 0) return false;
  static const std::string own = first_mapping("/proc/self/maps");
  std::string proc = "/proc/" + std::to_string(pid);
  if (first_mapping(proc + "/maps") == own) return true;
  std::string status = proc_file(proc + "/status");
  if (status.empty()) return false;
  return number_after(status, "VmData:").value_or(0) * 1024 <= bytes;
}

// Readable once the child has ended, so that a pause of standard error ends early. Without
// pidfds (kernels before 5.3) a pause lasts its full length.
struct EndWatch {
  bool watching = false;  // false before the pause starts and once the child has ended
  int fd = -1;
  EndWatch() = default;
  ~EndWatch() { close_fd(fd); }
  EndWatch(const EndWatch&) = delete;
  EndWatch& operator=(const EndWatch&) = delete;
  void start(pid_t pid) {
    watching = true;
    fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  }
  void stop() {
    watching = false;
    close_fd(fd);
  }
};

// A stream being read: its descriptor (-1 once ended) and the callback of its bytes.
struct Stream {
  int& fd;
  const std::function<void(std::string_view)>& deliver;
  int error = 0;
};

// One read handed to the callback; a failed read ends the stream as its end would.
void read_into(Stream& stream, char* scratch) {
  ssize_t n = read_some(stream.fd, scratch, SCRATCH_SIZE);
  if (n < 0) stream.error = errno;
  if (n <= 0) {
    close_fd(stream.fd);
    return;
  }
  if (stream.deliver) stream.deliver(std::string_view(scratch, static_cast<size_t>(n)));
}

// Milliseconds for poll, rounded up so that a wait never ends just short of its time and
// spins; -1 (no limit) for the largest duration.
int poll_timeout(Clock::duration limit) {
  if (limit == Clock::duration::max()) return -1;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(limit).count());
}

// Standard error's pause while the child runs (StreamHandlers::err_pause).
struct ErrPause {
  std::chrono::milliseconds length;
  EndWatch child_end;  // stopped once the child has ended: no more pauses
  Clock::time_point due;
};

// How long standard error must still wait before its next read.
Clock::duration err_wait(const ErrPause& pause, const Stream& err) {
  if (!pause.child_end.watching || err.fd < 0) return Clock::duration::zero();
  return std::max(pause.due - Clock::now(), Clock::duration::zero());
}

// The input still to be written to the child's standard input (-1 once all is written, or
// once the child has closed its end).
struct Input {
  int& fd;
  std::string_view rest;
};

// A child that stops reading must not end this process, whatever the process does with
// SIGPIPE: it is held back for this thread while writing, and one the write raised is taken.
ssize_t write_without_sigpipe(int fd, std::string_view bytes) {
  sigset_t pipe_only, old;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &old);
  ssize_t n = ::write(fd, bytes.data(), bytes.size());
  int saved = errno;
  if (n < 0 && saved == EPIPE) {
    timespec zero{};
    while (sigtimedwait(&pipe_only, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  errno = saved;
  return n;
}

// Writes what the pipe takes now; closes it when all is written or the child stopped reading.
void write_some(Input& input) {
  while (!input.rest.empty()) {
    ssize_t n = write_without_sigpipe(input.fd, input.rest);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    if (n <= 0) break;
    input.rest.remove_prefix(static_cast<size_t>(n));
  }
  close_fd(input.fd);
}

// Waits until a stream can be read, input can be written, the child ends while standard
// error waits, its pause is over, or `most` has passed. False when poll fails.
bool wait_ready(pollfd (&fds)[4], const Stream& out, const Stream& err, const Input& input,
                const ErrPause& pause, Clock::duration most) {
  Clock::duration wait = err_wait(pause, err);
  bool err_waits = wait > Clock::duration::zero();
  // poll skips negative descriptors.
  fds[0] = {out.fd, POLLIN, 0};
  fds[1] = {err_waits ? -1 : err.fd, POLLIN, 0};
  fds[2] = {err_waits ? pause.child_end.fd : -1, POLLIN, 0};
  fds[3] = {input.fd, POLLOUT, 0};
  Clock::duration limit = std::min(err_waits ? wait : Clock::duration::max(), most);
  while (::poll(fds, 4, poll_timeout(limit)) < 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// Whether the run must end before the child does: cancelled (7.) or stalled (11.), with errno
// telling which.
bool must_stop(const StreamHandlers& handlers, StallWatch& stall) {
  if (handlers.cancelled && handlers.cancelled()) {
    errno = ECANCELED;
    return true;
  }
  if (!stalled(stall)) return false;
  errno = ETIMEDOUT;
  return true;
}

// The longest wait before the next check for cancelling or the next sample of a silence.
Clock::duration next_check(const StreamHandlers& handlers, const StallWatch& stall) {
  Clock::duration most = until_sample(stall);
  if (handlers.cancelled) most = std::min<Clock::duration>(most, CANCEL_CHECK_INTERVAL);
  return most;
}

// Both streams to their ends: false when cancelled, stalled or poll failed.
bool drain(pid_t pid, const StreamHandlers& handlers, Stream& out, Stream& err, Input& input) {
  auto scratch = std::make_unique_for_overwrite<char[]>(SCRATCH_SIZE);
  if (input.fd >= 0) write_some(input);
  ErrPause pause{handlers.err_pause, {}, Clock::now() + handlers.err_pause};
  if (handlers.err_pause > std::chrono::milliseconds::zero()) pause.child_end.start(pid);
  StallWatch stall{handlers.limits.stall, pid};
  while (out.fd >= 0 || err.fd >= 0) {
    if (must_stop(handlers, stall)) return false;
    pollfd fds[4];
    if (!wait_ready(fds, out, err, input, pause, next_check(handlers, stall))) return false;
    if (fds[0].revents != 0 || fds[1].revents != 0 || fds[3].revents != 0) heard_from(stall);
    if (fds[3].revents != 0) write_some(input);
    // POLLHUP without POLLIN still needs a read to see the end of the stream.
    if (fds[0].revents != 0) read_into(out, scratch.get());
    if (fds[1].revents != 0) {
      read_into(err, scratch.get());
      pause.due = Clock::now() + pause.length;
    }
    if (fds[2].revents != 0) pause.child_end.stop();
  }
  return true;
}

// Standard output written to a file: read from where the last read ended up to the file's
// present end, with pread, since the child shares the file's offset.
struct OutFile {
  int fd = -1;
  off_t offset = 0;
  bool done = false;  // the child has ended and the file was read to its end
  int error = 0;
};

void read_growth(OutFile& file, const std::function<void(std::string_view)>& deliver,
                 char* scratch) {
  for (;;) {
    ssize_t n = ::pread(file.fd, scratch, SCRATCH_SIZE, file.offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      file.error = errno;
      file.done = true;
    }
    if (n <= 0) return;
    file.offset += n;
    if (deliver) deliver(std::string_view(scratch, static_cast<size_t>(n)));
  }
}

// Whether the child has ended, without reaping it. An error counts as ended, so that a
// failed check cannot keep the loop alive for ever.
bool child_has_ended(pid_t pid) {
  siginfo_t info{};
  while (::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    if (errno != EINTR) return true;
  }
  return info.si_pid == pid;
}

// The output file to its end and standard error to its end: false when cancelled, stalled or
// poll failed. The file is looked at every few milliseconds while the child runs, and once
// more as soon as the child's end wakes the wait.
bool drain_to_file(pid_t pid, const StreamHandlers& handlers, OutFile& out, Stream& err) {
  auto scratch = std::make_unique_for_overwrite<char[]>(SCRATCH_SIZE);
  EndWatch child_end;
  child_end.start(pid);
  StallWatch stall{handlers.limits.stall, pid};
  while (!out.done || err.fd >= 0) {
    if (must_stop(handlers, stall)) return false;
    pollfd fds[2] = {{err.fd, POLLIN, 0}, {out.done ? -1 : child_end.fd, POLLIN, 0}};
    Clock::duration limit = out.done ? Clock::duration::max() : OUT_FILE_CHECK_INTERVAL;
    limit = std::min(limit, next_check(handlers, stall));
    while (::poll(fds, 2, poll_timeout(limit)) < 0) {
      if (errno != EINTR) return false;
    }
    off_t read_before = out.offset;
    if (fds[0].revents != 0) read_into(err, scratch.get());
    if (!out.done) {
      bool ended = child_has_ended(pid);
      read_growth(out, handlers.on_out, scratch.get());
      if (ended) out.done = true;
    }
    if (fds[0].revents != 0 || out.offset != read_before) heard_from(stall);
  }
  return true;
}

}  // namespace

bool read_to_end(int fd, std::string& out) {
  auto scratch = std::make_unique_for_overwrite<char[]>(SCRATCH_SIZE);
  ssize_t n;
  while ((n = read_some(fd, scratch.get(), SCRATCH_SIZE)) > 0) {
    out.append(scratch.get(), static_cast<size_t>(n));
  }
  close_fd(fd);
  return n == 0;
}

OwnedFd& OwnedFd::operator=(OwnedFd&& other) noexcept {
  if (this != &other) {
    close_fd(fd);
    fd = std::exchange(other.fd, -1);
  }
  return *this;
}

OwnedFd::~OwnedFd() {
  close_fd(fd);
}

std::optional<std::string> read_whole_file(int fd) {
  std::string text;
  OutFile file{fd};
  auto scratch = std::make_unique_for_overwrite<char[]>(SCRATCH_SIZE);
  read_growth(
      file, [&](std::string_view bytes) { text.append(bytes); }, scratch.get());
  if (file.error != 0) return std::nullopt;
  return text;
}

std::optional<StreamEnd> stream_process(const std::vector<std::string>& argv,
                                        const std::string& cwd, const StreamHandlers& handlers) {
  std::optional<Child> spawned = spawn_child(argv, cwd, handlers);
  if (!spawned) return std::nullopt;
  ChildGuard guard{*spawned};
  if (!limit_data(guard.child.pid, handlers.limits.data_bytes)) {
    errno = ENOMEM;
    return std::nullopt;
  }
  Stream err{guard.child.err_fd, handlers.on_err};
  if (handlers.out_to_file) {
    OwnedFd file(std::exchange(guard.child.out_fd, -1));
    OutFile out{file.fd};
    if (!drain_to_file(guard.child.pid, handlers, out, err)) return std::nullopt;
    StreamEnd end{guard.reap(), out.error, std::move(file)};
    if (end.status < 0) return std::nullopt;
    return end;
  }
  Stream out{guard.child.out_fd, handlers.on_out};
  Input input{guard.child.in_fd, handlers.input};
  // On a way out before the child's end the guard kills it, then reaps it.
  if (!drain(guard.child.pid, handlers, out, err, input)) return std::nullopt;
  StreamEnd end{guard.reap(), out.error, {}};
  if (end.status < 0) return std::nullopt;
  return end;
}

std::optional<ProcessOutput> run_process(const std::vector<std::string>& argv,
                                         const std::string& cwd, std::string_view input,
                                         const ProcessLimits& limits) {
  ProcessOutput result;
  StreamHandlers handlers;
  handlers.input = input;
  handlers.limits = limits;
  handlers.on_out = [&](std::string_view bytes) { result.out.append(bytes); };
  handlers.on_err = [&](std::string_view bytes) { result.err.append(bytes); };
  std::optional<StreamEnd> end = stream_process(argv, cwd, handlers);
  if (!end) return std::nullopt;
  result.status = end->status;
  return result;
}

}  // namespace brackwen
