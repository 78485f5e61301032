// The one way this system starts child processes (git, and the tests' helpers).
//
// What a caller can rely on:
//  1. The program is looked up through PATH (posix_spawnp); the working directory is set in
//     the child, so the parent's never changes. A missing or non-directory working directory
//     is a start failure and no child runs.
//  2. Standard input is /dev/null. Standard output and standard error are pipes created
//     close-on-exec; every other descriptor of the parent is closed in the child, and
//     SIGPIPE is back to its default there, with no signal blocked.
//  3. A NUL byte inside the program, any argument or the directory is a start failure,
//     never a silent truncation.
//  4. Spawns and changes to the process environment hold one lock (`environment_lock` in
//     stores/environment.hpp), so a child never sees an environment that is half changed.
//  5. `run_process` drains both pipes together (poll), so a child that writes megabytes to
//     either never deadlocks, and it always reaps the child, also when it throws. EINTR is
//     retried. A failed poll or wait is reported as absent.
//  6. With `spawn_process` the caller owns the pipes and must close them and `wait_child`.
#pragma once
#include <sys/types.h>

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "parser/utf8.hpp"  // decode_utf8_lossy, repair_utf8

namespace brackwen {

struct ProcessOutput {
  std::string out;
  std::string err;
  int status = -1;  // exit code, or 128 + signal number when killed by a signal
};

struct Child {
  pid_t pid = -1;
  int out_fd = -1;  // read end of the child's standard output
  int err_fd = -1;  // read end of the child's standard error
};

// argv[0] is the program. Absent when the child could not be started.
std::optional<ProcessOutput> run_process(const std::vector<std::string>& argv,
                                         const std::string& cwd);

// Starts the child and hands its pipes to the caller. Absent when it could not be started.
std::optional<Child> spawn_process(const std::vector<std::string>& argv, const std::string& cwd);

// Waits for the child (EINTR retried); the status as in ProcessOutput, -1 when waitpid fails.
int wait_child(pid_t pid);

// Reads a descriptor to its end (EINTR retried) and closes it. False on a read error.
bool read_to_end(int fd, std::string& out);

}  // namespace brackwen
