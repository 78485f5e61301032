// The one way this system starts child processes (git, and the tests' helpers).
//
// What a caller can rely on:
//  1. The program is looked up through PATH (posix_spawnp); the working directory is set in
//     the child, so the parent's never changes. A missing or non-directory working directory
//     is a start failure and no child runs.
//  2. Standard input is /dev/null, or a pipe that the caller's input is written to (10.).
//     Standard output and standard error are pipes created
//     close-on-exec (standard output an in-memory file when the caller asks, 9.); every
//     other descriptor of the parent is closed in the child, and SIGPIPE is back to its
//     default there, with no signal blocked.
//  3. A NUL byte inside the program, any argument or the directory is a start failure,
//     never a silent truncation.
//  4. Spawns and changes to the process environment hold one lock (`environment_lock` in
//     stores/environment.hpp), so a child never sees an environment that is half changed.
//     The child gets the process's environment less the credentials that only the user's
//     own commands hand to git and the variables that change what git prints, unless the
//     caller asks for the whole environment (`StreamHandlers::whole_environment`); a reading
//     run's child also gets the run's mark (14.).
//  5. A child is started and ended by one call, which owns its pid and its pipes; no caller
//     waits for a child or reads its pipes itself:
//     a. `run_process` runs it to completion and returns both streams whole;
//     b. `stream_process` hands each stream to a callback as it arrives: the raw bytes of
//        one read of up to a mebibyte, never cut into lines or decoded.
//  6. Both pipes are drained together (poll), so a child that writes megabytes to either
//     never deadlocks. EINTR is retried. A failed read ends that stream as its end would.
//  7. Cancelling: `StreamHandlers::cancelled` is asked after every read and at least every
//     50 ms; once it says yes, the child is killed with SIGKILL and reaped at once.
//  8. The child is always reaped and its pipes closed, on every way out. A way out before
//     the child's end (cancelled, a callback that throws, a failed poll, a limit of 11. to
//     13.) kills it first with SIGKILL, so that reaping cannot wait for a child nobody reads;
//     a callback's exception then passes on. The child leads a session and process group of
//     its own, and the kill goes to the whole group: what it started (git's own children, a
//     shell's background jobs) would otherwise live on, holding the pipes. A reading run's
//     group is killed at its normal end too (14.).
//  9. With `StreamHandlers::out_to_file` standard output is an in-memory file (memfd) that
//     the child writes as any regular file: a program that flushes after every write to a
//     pipe (git log, once per commit) then writes in large blocks and spends far less time
//     in the kernel. The file is read as it grows, at least every few milliseconds and at
//     once when the child ends; `on_out` sees its bytes in order. What was read is given back
//     to the system at once, so that the file holds no more than the output not yet read.
// 10. Input (`StreamHandlers::input`) is written to the child's standard input between the
//     reads of its output, without blocking, and the pipe is closed once all is written (or
//     the child closed its end), so that the child sees the end of its input. With
//     `out_to_file` there is no input: standard input is /dev/null.
// 11. With a stall limit (`ProcessLimits::stall`) a child that makes no progress for that long
//     is killed, and the run is absent with errno ETIMEDOUT. Progress is a byte on either
//     stream, or a change in what the child's process group has done: the CPU time of its
//     processes and of the children they reaped, and the bytes they read or wrote, summed.
//     The group is looked at only while the child is silent, every tenth of the limit, so a
//     child that prints costs nothing, and one that is busy in silence lives on. A sample
//     that differs from the one before restarts the wait, and the first of a silence always
//     does, so a child is never killed before the limit has passed with nothing done.
// 12. With a data limit (`ProcessLimits::data_bytes`) the child and whatever it starts may
//     not hold more than that in data segment and private writable mappings, each process
//     (RLIMIT_DATA, soft and hard: set as soon as the child is made, before it can have
//     allocated much; past it allocations fail, as on a machine out of memory) and all of
//     them together: every 50 ms, silent or not, the data of the child, of every process below
//     it and of the adopted processes that carry its run's mark (14.) is summed, as VmData,
//     which is what RLIMIT_DATA counts. A child that already holds more when the limit is set,
//     or a sum past the limit, kills the group, and the run is absent with errno ENOMEM.
//     With a request (13.) the limit is the request's, which its runs under way share by age
//     (request_budget.hpp): the run that started first is the oldest, and a run keeps its age
//     through every start. When their sums at their last samples pass the limit together, the
//     youngest that hold something are ended with their groups until the rest fit, but never
//     the oldest under way; such a run starts again from the start (`StreamHandlers::restart`)
//     once every older run has ended, or once the most the runs under way have held leaves
//     room for the most it held. The oldest run only ever waits for its own processes, so one
//     run always goes on: only a run that alone passes the limit fails for it, and a run that
//     cannot start again (no `restart`), which fails as out of memory where it would have
//     waited. A callback of a run must therefore never wait for a younger run of its request.
// 13. With a request (`ProcessLimits::request`, request_budget.hpp) the stall limit counts per
//     request, and the request's cap is a limit of wall-clock time on its runs, counted from
//     when its budget was made: once the stall limit has ended one of the request's runs, or
//     once the cap has passed, the request is out of time, its runs under way are killed with
//     their groups at their next check (at the cap itself, and every 50 ms with a data limit,
//     12.), and later ones are refused before they start or while they wait for room, all
//     absent with errno ETIMEDOUT. The request keeps which limit came first. A child that stays
//     busy for ever, or whose group reads and writes for ever while it waits, escapes the stall
//     limit but not the cap.
// 14. A reading run (`ProcessLimits::outlived_by_nothing`) leaves nothing behind. Its child's
//     environment carries the run's mark, "BRACKWEN_READ_RUN=<n>", which everything the child
//     starts inherits. When the child has ended, what is left of its group is killed before
//     the child is reaped, while its pid still names the group. A process that left the group
//     (setsid: a detached gc, an ssh master) comes back to this process once its parent has
//     ended, when the server made itself their reaper (orphans.hpp: `adopt_orphans`); at the
//     run's end every adopted process whose mark names a run no longer under way is killed
//     with its group, and every adopted process is reaped once it ends. The user's own
//     commands carry no mark: what they leave lives on, and is reaped when it ends.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brackwen {

struct ProcessOutput {
  std::string out;
  std::string err;
  int status = -1;  // exit code, or 128 + signal number when killed by a signal
};

struct RequestBudget;

// What a child may take before it is ended, and what may outlive it: no limit by default, and
// its descendants may.
struct ProcessLimits {
  std::chrono::milliseconds stall{0};  // 11.
  uint64_t data_bytes = 0;             // 12.
  RequestBudget* request = nullptr;    // 13.
  bool outlived_by_nothing = false;    // 14.
};

// argv[0] is the program. Absent when the child could not be started (errno tells why, when
// the system gave a reason), polled or waited for, or was ended by a limit.
std::optional<ProcessOutput> run_process(const std::vector<std::string>& argv,
                                         const std::string& cwd, std::string_view input = {},
                                         const ProcessLimits& limits = {});

struct StreamHandlers {
  std::string_view input;                        // 10.; empty: standard input is /dev/null
  bool out_to_file = false;                      // 9.
  std::function<void(std::string_view)> on_out;  // unset: standard output is read and dropped
  std::function<void(std::string_view)> on_err;  // unset: standard error is read and dropped
  // Unset: the child runs to its end. Also asked while the run waits for room (12.).
  std::function<bool()> cancelled;
  // Forgets what `on_out` and `on_err` were given, before the run starts again from the start
  // (12.). Unset: the run cannot start again.
  std::function<void()> restart;
  // While the child runs, standard error is read at most once per pause, so that a progress
  // meter's many small writes arrive together; once the child has ended, at once.
  std::chrono::milliseconds err_pause{0};
  bool whole_environment = false;  // 4.
  ProcessLimits limits;
};

// A descriptor closed when it goes.
struct OwnedFd {
  int fd = -1;
  OwnedFd() = default;
  explicit OwnedFd(int descriptor) : fd(descriptor) {}
  OwnedFd(OwnedFd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
  OwnedFd& operator=(OwnedFd&& other) noexcept;
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  ~OwnedFd();
};

struct StreamEnd {
  int status = -1;    // as in ProcessOutput
  int out_error = 0;  // errno of a failed read of standard output, which ended it there
};

// The whole content of a file that `pread` can read; absent on a read error.
std::optional<std::string> read_whole_file(int fd);

// Absent when the child could not be started (errno tells why, as for run_process), was
// cancelled or ended by a limit, or could not be polled or waited for.
std::optional<StreamEnd> stream_process(const std::vector<std::string>& argv,
                                        const std::string& cwd, const StreamHandlers& handlers);

}  // namespace brackwen
