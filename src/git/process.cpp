// Starting children with posix_spawnp, streaming their output and reaping them.
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
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <utility>

#include "git/reading/child_limits.hpp"
#include "git/reading/orphans.hpp"
#include "git/reading/request_budget.hpp"
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
// errno of a start ended to make room for its request's older runs (12.): never seen outside,
// since the run starts again.
constexpr int ENDED_FOR_ROOM = EAGAIN;
// How often a growing output file is looked at: git writes a block every few milliseconds,
// and parsing should follow it closely.
constexpr std::chrono::milliseconds OUT_FILE_CHECK_INTERVAL{2};

using Clock = std::chrono::steady_clock;

// What a child that only reads must not see (4.): the credentials "/f/set_credentials" puts
// in the environment for the ask-pass program, what would change the output a grammar reads
// (an external diff, the unified diff's context, pathspecs read other than literally), and
// the user's protocol list, which outranks every setting and so would outrank the refusals a
// repository's settings call for (the reading argv carries it as settings instead), and a
// reading run's mark (14.), which only the run itself gives.
constexpr std::string_view LEFT_OUT_OF_ENVIRONMENT[] = {
    "BRACKWEN_READ_RUN",    "BRACKWEN_USERNAME",   "BRACKWEN_PASSWORD",     "GIT_ASKPASS",
    "GIT_EXTERNAL_DIFF",    "GIT_DIFF_OPTS",       "GIT_LITERAL_PATHSPECS", "GIT_GLOB_PATHSPECS",
    "GIT_NOGLOB_PATHSPECS", "GIT_ICASE_PATHSPECS", "GIT_ALLOW_PROTOCOL"};

bool left_out(const char* entry) {
  std::string_view text(entry);
  std::string_view name = text.substr(0, text.find('='));
  return std::find(std::begin(LEFT_OUT_OF_ENVIRONMENT), std::end(LEFT_OUT_OF_ENVIRONMENT), name) !=
         std::end(LEFT_OUT_OF_ENVIRONMENT);
}

// The child's environment, with a reading run's `mark` when there is one; read under the
// environment lock, which must be held until the child is made.
std::vector<char*> child_environment(bool whole, std::string& mark) {
  std::vector<char*> kept;
  for (char** entry = environ; *entry; ++entry) {
    if (whole || !left_out(*entry)) kept.push_back(*entry);
  }
  if (!mark.empty()) kept.push_back(mark.data());
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
  uint64_t run = 0;  // a reading run's number (14.), 0 for a child whose descendants may outlive it
  int out_fd = -1;   // read end of the child's standard output, or the file it writes
  int err_fd = -1;   // read end of the child's standard error
  int in_fd = -1;    // write end of the child's standard input, when it is given input
};

std::optional<Child> spawn_child(const std::vector<std::string>& argv, const std::string& cwd,
                                 const StreamHandlers& handlers) {
  uint64_t run = handlers.limits.outlived_by_nothing ? next_reading_run() : 0;
  std::string mark = run != 0 ? reading_run_mark(run) : "";
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
  int rc = 0;
  pid_t pid;
  {
    // posix_spawnp reads PATH and environ while the child is being made.
    auto guard = environment_lock();
    std::vector<char*> env = child_environment(handlers.whole_environment, mark);
    pid = spawn_registered(
        [&] {
          pid_t made = -1;
          rc = ::posix_spawnp(&made, args[0], &setup.actions, &setup.attr, args.data(), env.data());
          return rc == 0 ? made : -1;
        },
        run);
  }
  if (rc != 0) {
    errno = rc;  // callers name the reason in their messages
    return std::nullopt;
  }
  int out_fd = out_to_file ? std::exchange(out_file.fd, -1) : std::exchange(out.read, -1);
  return Child{pid, run, out_fd, std::exchange(err.read, -1), std::exchange(in.write, -1)};
}

// Waits until the child has ended, leaving it to be reaped.
void wait_for_end(pid_t pid) {
  siginfo_t info{};
  while (::waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
}

// Reaps the child; the end of a reading run first kills what is left of its group (14.), while
// the ended child's pid still names that group, and then whatever the run left adopted.
int end_child(const Child& child, bool kill_group) {
  if (kill_group) ::kill(-child.pid, SIGKILL);
  int status = wait_child(child.pid);
  forget_child(child.pid, child.run);
  return status;
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
    if (child.pid > 0) end_child(child, true);
    errno = reason;
  }
  int reap() {
    if (child.run != 0) wait_for_end(child.pid);
    int status = end_child(child, child.run != 0);
    child.pid = -1;
    return status;
  }
};

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

// The limits of one start of a run while it drains: its stall (11.), its memory (12.) and its
// request's time (13.).
struct Watches {
  StallWatch stall;
  MemoryWatch memory;
  RequestBudget* request;
};

Watches watches_of(const Child& child, const ProcessLimits& limits, RunPlace& place) {
  return {{limits.stall, child.pid},
          {limits.data_bytes, child.pid, child.run, place.request ? &place : nullptr},
          limits.request};
}

// Whether the run must end before the child does: cancelled (7.), stalled or out of its
// request's time (11., 13.), over its memory or ended for room (12.), with errno telling which.
// A stall puts the whole request out of time.
bool must_stop(const StreamHandlers& handlers, Watches& watches) {
  if (handlers.cancelled && handlers.cancelled()) {
    errno = ECANCELED;
    return true;
  }
  RequestBudget* request = watches.request;
  if ((request && out_of_time(*request)) || stalled(watches.stall)) {
    if (request) stall_request(*request);
    errno = ETIMEDOUT;
    return true;
  }
  RoomVerdict verdict = over_budget(watches.memory);
  if (verdict == RoomVerdict::Fits) return false;
  errno = verdict == RoomVerdict::OutOfMemory ? ENOMEM : ENDED_FOR_ROOM;
  return true;
}

// How long the request's runs may still go on; the largest duration when it has no cap.
Clock::duration until_deadline(const RequestBudget& request) {
  if (request.deadline == Clock::time_point::max()) return Clock::duration::max();
  return std::max(request.deadline - Clock::now(), Clock::duration::zero());
}

// The longest wait before the next check for cancelling, the next sample of a silence or of
// the memory, or the request's deadline; the memory's samples also notice a request that
// another run put out of time.
Clock::duration next_check(const StreamHandlers& handlers, const Watches& watches) {
  Clock::duration most = std::min(until_sample(watches.stall), until_memory_sample(watches.memory));
  if (handlers.cancelled) most = std::min<Clock::duration>(most, CANCEL_CHECK_INTERVAL);
  if (watches.request) most = std::min(most, until_deadline(*watches.request));
  return most;
}

// Both streams to their ends: false when cancelled, stopped by a limit or poll failed.
bool drain(const Child& child, const StreamHandlers& handlers, RunPlace& place, Stream& out,
           Stream& err, Input& input) {
  auto scratch = std::make_unique_for_overwrite<char[]>(SCRATCH_SIZE);
  if (input.fd >= 0) write_some(input);
  ErrPause pause{handlers.err_pause, {}, Clock::now() + handlers.err_pause};
  if (handlers.err_pause > std::chrono::milliseconds::zero()) pause.child_end.start(child.pid);
  Watches watches = watches_of(child, handlers.limits, place);
  while (out.fd >= 0 || err.fd >= 0) {
    if (must_stop(handlers, watches)) return false;
    pollfd fds[4];
    if (!wait_ready(fds, out, err, input, pause, next_check(handlers, watches))) return false;
    if (fds[0].revents != 0 || fds[1].revents != 0 || fds[3].revents != 0)
      heard_from(watches.stall);
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

// With `release`, each piece read is given back to the system at once: a child may print
// gigabytes (a repository's messages that compress to nothing), which were read long ago.
void read_growth(OutFile& file, const std::function<void(std::string_view)>& deliver, char* scratch,
                 bool release = false) {
  for (;;) {
    ssize_t n = ::pread(file.fd, scratch, SCRATCH_SIZE, file.offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      file.error = errno;
      file.done = true;
    }
    if (n <= 0) return;
    if (release) ::fallocate(file.fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, file.offset, n);
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

// The output file to its end and standard error to its end: false when cancelled, stopped by a
// limit or poll failed. The file is looked at every few milliseconds while the child runs, and
// once more as soon as the child's end wakes the wait.
bool drain_to_file(const Child& child, const StreamHandlers& handlers, RunPlace& place,
                   OutFile& out, Stream& err) {
  pid_t pid = child.pid;
  auto scratch = std::make_unique_for_overwrite<char[]>(SCRATCH_SIZE);
  EndWatch child_end;
  child_end.start(pid);
  Watches watches = watches_of(child, handlers.limits, place);
  while (!out.done || err.fd >= 0) {
    if (must_stop(handlers, watches)) return false;
    pollfd fds[2] = {{err.fd, POLLIN, 0}, {out.done ? -1 : child_end.fd, POLLIN, 0}};
    Clock::duration limit = out.done ? Clock::duration::max() : OUT_FILE_CHECK_INTERVAL;
    limit = std::min(limit, next_check(handlers, watches));
    while (::poll(fds, 2, poll_timeout(limit)) < 0) {
      if (errno != EINTR) return false;
    }
    off_t read_before = out.offset;
    if (fds[0].revents != 0) read_into(err, scratch.get());
    if (!out.done) {
      bool ended = child_has_ended(pid);
      read_growth(out, handlers.on_out, scratch.get(), true);
      if (ended) out.done = true;
    }
    if (fds[0].revents != 0 || out.offset != read_before) heard_from(watches.stall);
  }
  return true;
}

}  // namespace

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

namespace {

// The child's streams to their ends (and its output file, when it writes one): false when
// cancelled, stopped by a limit or poll failed. `out_error` is that of a failed read of its
// output.
bool drain_child(Child& child, const StreamHandlers& handlers, RunPlace& place, int& out_error) {
  Stream err{child.err_fd, handlers.on_err};
  if (handlers.out_to_file) {
    OwnedFd file(std::exchange(child.out_fd, -1));
    OutFile out{file.fd};
    bool drained = drain_to_file(child, handlers, place, out, err);
    out_error = out.error;
    return drained;
  }
  Stream out{child.out_fd, handlers.on_out};
  Input input{child.in_fd, handlers.input};
  bool drained = drain(child, handlers, place, out, err, input);
  out_error = out.error;
  return drained;
}

// One start of the run at `place`; when another run's sample ended it, `place` tells how.
std::optional<StreamEnd> stream_once(const std::vector<std::string>& argv, const std::string& cwd,
                                     const StreamHandlers& handlers, RunPlace& place) {
  place.verdict = RoomVerdict::Fits;
  if (handlers.limits.request && out_of_time(*handlers.limits.request)) {
    errno = ETIMEDOUT;
    return std::nullopt;
  }
  std::optional<Child> spawned = spawn_child(argv, cwd, handlers);
  if (!spawned) return std::nullopt;
  ChildGuard guard{*spawned};
  if (!limit_data(guard.child.pid, handlers.limits.data_bytes)) {
    errno = ENOMEM;
    return std::nullopt;
  }
  StreamEnd end;
  // On a way out before the child's end the guard kills it, then reaps it.
  if (!drain_child(guard.child, handlers, place, end.out_error)) return std::nullopt;
  end.status = guard.reap();
  // Its group was killed by another run's sample, unless it had ended by itself, whole.
  if (end.status != 0 && place.verdict != RoomVerdict::Fits) {
    errno = place.verdict == RoomVerdict::OutOfMemory ? ENOMEM : ENDED_FOR_ROOM;
    return std::nullopt;
  }
  if (end.status < 0) return std::nullopt;
  return end;
}

}  // namespace

std::optional<StreamEnd> stream_process(const std::vector<std::string>& argv,
                                        const std::string& cwd, const StreamHandlers& handlers) {
  const ProcessLimits& limits = handlers.limits;
  RunPlace place(limits.data_bytes != 0 ? limits.request : nullptr, bool(handlers.restart));
  for (;;) {
    std::optional<StreamEnd> end = stream_once(argv, cwd, handlers, place);
    if (end || errno != ENDED_FOR_ROOM || place.verdict != RoomVerdict::EndedForRoom) return end;
    if (!wait_for_room(place, limits.data_bytes, handlers.cancelled)) return std::nullopt;
    handlers.restart();
  }
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
  handlers.restart = [&] { result = ProcessOutput{}; };
  std::optional<StreamEnd> end = stream_process(argv, cwd, handlers);
  if (!end) return std::nullopt;
  result.status = end->status;
  return result;
}

}  // namespace brackwen
