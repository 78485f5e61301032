// A stand-in for git on a server's PATH that runs the real git ($BRACKWEN_REAL_GIT) as its
// child and appends the child's peak resident size in KiB to $BRACKWEN_PEAK_LOG: each new high
// while it runs, and its peak from wait4 once it has ended. A server that kills this program
// before git ends still leaves the highs seen so far. Standard input, output, error and the
// exit status pass through.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {

// A server sets a reading git's limits just after starting it, though a busy machine may keep
// it from running for a while: git must be made after that to inherit them. The version check
// at start-up gets none and is made at once; another run that gets none waits this long.
constexpr std::chrono::seconds LIMIT_WAIT{10};
constexpr std::chrono::milliseconds POLL_INTERVAL{1};

bool asks_version(char** argv) {
  for (char** arg = argv + 1; *arg; ++arg) {
    if (std::strcmp(*arg, "--version") == 0) return true;
  }
  return false;
}

void wait_for_data_limit() {
  auto deadline = std::chrono::steady_clock::now() + LIMIT_WAIT;
  rlimit limit{};
  while (std::chrono::steady_clock::now() < deadline) {
    if (getrlimit(RLIMIT_DATA, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) return;
    std::this_thread::sleep_for(POLL_INTERVAL);
  }
}

// The child's resident high-water mark so far in KiB.
long high_water_kib(pid_t child) {
  std::ifstream status("/proc/" + std::to_string(child) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  }
  return 0;
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
  const char* log_path = std::getenv("BRACKWEN_PEAK_LOG");
  if (!real || !log_path) return 127;
  if (!asks_version(argv)) wait_for_data_limit();
  pid_t child = fork();
  if (child < 0) return 127;
  if (child == 0) {
    argv[0] = const_cast<char*>(real);
    execv(real, argv);
    _exit(127);
  }
  std::ofstream log(log_path, std::ios::app);
  int status = 0;
  rusage usage{};
  long noted = 0;
  for (;;) {
    pid_t ended = wait4(child, &status, WNOHANG, &usage);
    if (ended == child) break;
    if (ended < 0 && errno != EINTR) return 127;
    long high = high_water_kib(child);
    if (high > noted) log << (noted = high) << std::endl;
    std::this_thread::sleep_for(POLL_INTERVAL);
  }
  log << usage.ru_maxrss << std::endl;
  end_as(status);
}
