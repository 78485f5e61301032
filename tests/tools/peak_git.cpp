// A stand-in for git on a server's PATH that runs the real git ($BRACKWEN_REAL_GIT) as its
// child and appends the child's peak resident size in KiB to $BRACKWEN_PEAK_LOG, one line a
// run. Standard input, output, error and the exit status pass through.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace {

// A server sets a reading git's limits just after starting it: git must be made after that to
// inherit them. A run that gets none (the version check at start-up) waits this long.
constexpr std::chrono::milliseconds LIMIT_WAIT{200};

void wait_for_data_limit() {
  auto deadline = std::chrono::steady_clock::now() + LIMIT_WAIT;
  rlimit limit{};
  while (std::chrono::steady_clock::now() < deadline) {
    if (getrlimit(RLIMIT_DATA, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Ends this process as the child ended, so that its parent sees the same status.
[[noreturn]] void end_as(int status) {
  if (WIFSIGNALED(status)) {
    signal(WTERMSIG(status), SIG_DFL);
    raise(WTERMSIG(status));
  }
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

}  // namespace

int main(int, char** argv) {
  const char* real = std::getenv("BRACKWEN_REAL_GIT");
  const char* log = std::getenv("BRACKWEN_PEAK_LOG");
  if (!real || !log) return 127;
  wait_for_data_limit();
  pid_t child = fork();
  if (child < 0) return 127;
  if (child == 0) {
    argv[0] = const_cast<char*>(real);
    execv(real, argv);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) return 127;
  }
  std::ofstream(log, std::ios::app) << usage.ru_maxrss << "\n";
  end_as(status);
}
