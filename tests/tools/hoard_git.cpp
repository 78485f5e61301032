// A stand-in for git on a server's PATH whose reading of one subcommand
// ($BRACKWEN_HOARD_SUBCOMMAND) hoards memory across processes: it becomes three processes that
// each map 60 % of the data limit the server set, private and writable but never touched, so
// that each stays under the limit and costs no memory while together they pass it. Each notes
// its pid in $BRACKWEN_HOARD_PIDS and writes a byte on standard error every 100 ms (which keeps
// the stall rule away) for 20 s, then ends. Every other command runs the real git
// ($BRACKWEN_REAL_GIT).
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <thread>

namespace {

// A server sets a reading git's limits just after starting it, though a busy machine may keep
// it from running for a while. A run that never gets them is no reading run.
constexpr std::chrono::seconds LIMIT_WAIT{10};
constexpr std::chrono::milliseconds POLL_INTERVAL{1};
constexpr int PROCESSES = 3;
constexpr double SHARE_OF_LIMIT = 0.6;
constexpr std::chrono::milliseconds BEAT{100};
constexpr int BEATS = 200;

std::optional<rlim_t> data_limit() {
  auto deadline = std::chrono::steady_clock::now() + LIMIT_WAIT;
  rlimit limit{};
  while (std::chrono::steady_clock::now() < deadline) {
    if (getrlimit(RLIMIT_DATA, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
      return limit.rlim_cur;
    std::this_thread::sleep_for(POLL_INTERVAL);
  }
  return std::nullopt;
}

bool asked_for(char** argv, const char* subcommand) {
  for (char** arg = argv + 1; *arg; ++arg) {
    if (std::strcmp(*arg, subcommand) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int, char** argv) {
  const char* real = std::getenv("BRACKWEN_REAL_GIT");
  const char* subcommand = std::getenv("BRACKWEN_HOARD_SUBCOMMAND");
  const char* pids = std::getenv("BRACKWEN_HOARD_PIDS");
  if (!real || !subcommand || !pids) return 127;
  if (!asked_for(argv, subcommand)) {
    argv[0] = const_cast<char*>(real);
    execv(real, argv);
    return 127;
  }
  std::optional<rlim_t> limit = data_limit();
  if (!limit) return 1;
  size_t share = static_cast<size_t>(static_cast<double>(*limit) * SHARE_OF_LIMIT);
  for (int i = 1; i < PROCESSES; ++i) {
    if (fork() == 0) break;
  }
  void* hoard = mmap(nullptr, share, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (hoard == MAP_FAILED) return 1;
  std::ofstream(pids, std::ios::app) << getpid() << std::endl;
  for (int beat = 0; beat < BEATS; ++beat) {
    if (write(STDERR_FILENO, ".", 1) < 0) return 1;
    std::this_thread::sleep_for(BEAT);
  }
  return 0;
}
