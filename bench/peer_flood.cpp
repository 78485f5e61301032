// "/pi" latency while another local account floods the server with connections that it closes
// at once, holding many loopback sockets meanwhile (each one a line of /proc/net/tcp). Prints
// the median and 90th percentile of "/pi" on new connections and on one kept-alive connection
// opened before the flood, and the flood's rate. Needs root, to connect as nobody (65534).
//
// Usage: peer_flood [--sockets N] [--flooders N] [--new-samples N] [--kept-samples N]
//                   [--netlink-refused]
// --netlink-refused starts the server where socket diagnostics are refused, so that it has to
// read /proc's socket tables instead.
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/http_client.hpp"
#include "support/loopback.hpp"
#include "support/no_sock_diag.hpp"
#include "support/server_harness.hpp"

namespace brackwen::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uid_t OTHER_ACCOUNT = 65534;
constexpr std::chrono::milliseconds SAMPLE_GAP{20};

struct Options {
  size_t sockets = 25000;
  size_t flooders = 4;
  size_t new_samples = 25;
  size_t kept_samples = 250;
  bool netlink_refused = false;
};

// Sockets are held by several processes, since an account may not raise its hard limit on
// open files (20,000 on a common setup).
constexpr size_t SOCKETS_PER_HOLDER = 10000;

// Shared with the other account's processes.
struct FloodState {
  std::atomic<size_t> held{0};
  std::atomic<bool> failed{false};
  std::atomic<bool> holding{false};
  std::atomic<uint16_t> port{0};
  std::atomic<uint64_t> connects{0};
};

std::optional<Options> parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "--netlink-refused") {
      options.netlink_refused = true;
    } else if (arg == "--sockets" && has_value) {
      options.sockets = std::stoul(argv[++i]);
    } else if (arg == "--flooders" && has_value) {
      options.flooders = std::stoul(argv[++i]);
    } else if (arg == "--new-samples" && has_value) {
      options.new_samples = std::stoul(argv[++i]);
    } else if (arg == "--kept-samples" && has_value) {
      options.kept_samples = std::stoul(argv[++i]);
    } else {
      return std::nullopt;
    }
  }
  return options;
}

// Each connection from its own address of 127/8, so that the flood does not stall on the
// time-wait sockets of its earlier connections to the same port.
void connect_and_close(uint8_t flooder, uint16_t port, std::atomic<uint64_t>& connects) {
  sockaddr_in server{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
  int defer_port = 1;
  for (uint32_t i = 0;; ++i) {
    sockaddr_in source{
        AF_INET, 0, {htonl(0x7F000000u | (flooder + 1u) << 16 | (i % 65000 + 1))}, {}};
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &defer_port, sizeof defer_port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) == 0 &&
        ::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0) {
      ++connects;
    }
    ::close(fd);
  }
}

// Half of `count` sockets are clients, half the connections they made; kept until the other
// account's main process ends.
[[noreturn]] void hold_sockets(size_t count, FloodState& state) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  test::Listener listener;
  for (size_t i = 0; i < count / 2; ++i) {
    if (test::connect_to(listener.address) < 0 ||
        ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC) < 0) {
      std::perror("holding sockets");
      state.failed = true;
      ::_exit(1);
    }
  }
  state.held += count;
  for (;;) ::pause();
}

// The other account: holds `sockets` loopback sockets, then floods the server once its port
// is known. Runs until killed.
[[noreturn]] void other_account(const Options& options, FloodState& state) {
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  if (::setrlimit(RLIMIT_NOFILE, &files) != 0 || ::setgid(OTHER_ACCOUNT) != 0 ||
      ::setuid(OTHER_ACCOUNT) != 0) {
    std::perror("other account");
    ::_exit(1);
  }
  for (size_t held = 0; held < options.sockets; held += SOCKETS_PER_HOLDER) {
    if (::fork() == 0) hold_sockets(std::min(SOCKETS_PER_HOLDER, options.sockets - held), state);
  }
  while (state.held < options.sockets) {
    if (state.failed) ::_exit(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  state.holding = true;
  while (state.port == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::vector<std::thread> flooders;
  for (size_t i = 0; i < options.flooders; ++i) {
    flooders.emplace_back(connect_and_close, static_cast<uint8_t>(i), state.port.load(),
                          std::ref(state.connects));
  }
  for (auto& flooder : flooders) flooder.join();
  ::_exit(0);
}

double ms_of(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// One "/pi" on `client`, in milliseconds; negative when it was not answered.
double timed_probe(HttpClient& client) {
  auto start = Clock::now();
  int status = client.post("/pi", "");
  double ms = ms_of(Clock::now() - start);
  return status == 200 && client.body() == "brackwen" ? ms : -1;
}

void print_latencies(const char* what, std::vector<double> ms) {
  size_t failed = static_cast<size_t>(std::count(ms.begin(), ms.end(), -1.0));
  std::erase(ms, -1.0);
  std::sort(ms.begin(), ms.end());
  if (ms.empty()) return (void)std::printf("%-26s no reply (%zu failed)\n", what, failed);
  std::printf("%-26s median %9.2f ms   p90 %9.2f ms   (%zu samples, %zu unanswered)\n", what,
              ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.size(), failed);
}

std::unique_ptr<test::ServerProcess> start_server(const Options& options) {
  std::unique_ptr<test::ServerProcess> server;
  auto start = [&] { server = std::make_unique<test::ServerProcess>(); };
  if (!options.netlink_refused) {
    start();
  } else if (!test::start_without_sock_diag(start)) {
    std::fprintf(stderr, "cannot refuse socket diagnostics here\n");
  }
  return server;
}

int run(const Options& options) {
  auto* state = static_cast<FloodState*>(::mmap(nullptr, sizeof(FloodState), PROT_READ | PROT_WRITE,
                                                MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  new (state) FloodState;
  // Forked before any thread of ours exists, so that the child may start its own.
  pid_t other = ::fork();
  if (other == 0) other_account(options, *state);
  while (!state->holding && ::waitpid(other, nullptr, WNOHANG) == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  auto server = state->holding ? start_server(options) : nullptr;
  if (!server || server->port == 0) {
    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);
    return 1;
  }
  HttpClient kept(server->port);
  double unloaded = timed_probe(kept);
  state->port = server->port;
  // The flood takes a moment to fill the server's accept queue.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  uint64_t connects_before = state->connects;
  auto flood_start = Clock::now();
  // Spread out, so that the samples meet the flood's bursts and its pauses alike (a client
  // whose connection found the accept queue full waits a second to try again).
  std::vector<double> kept_ms, new_ms;
  for (size_t i = 0; i < options.kept_samples; ++i) {
    kept_ms.push_back(timed_probe(kept));
    std::this_thread::sleep_for(SAMPLE_GAP);
  }
  for (size_t i = 0; i < options.new_samples; ++i) {
    HttpClient fresh(server->port);
    new_ms.push_back(timed_probe(fresh));
    std::this_thread::sleep_for(SAMPLE_GAP);
  }
  double seconds = ms_of(Clock::now() - flood_start) / 1000;
  uint64_t connects = state->connects - connects_before;
  ::kill(other, SIGKILL);
  ::waitpid(other, nullptr, 0);
  std::printf("server: %s; other account: %zu sockets held, %zu flooders, %.0f connections/s\n",
              options.netlink_refused ? "socket diagnostics refused" : "socket diagnostics",
              options.sockets, options.flooders, static_cast<double>(connects) / seconds);
  std::printf("%-26s %9.2f ms\n", "/pi kept-alive, no flood", unloaded);
  print_latencies("/pi kept-alive, flood", kept_ms);
  print_latencies("/pi new connection, flood", new_ms);
  return 0;
}

}  // namespace
}  // namespace brackwen::bench

int main(int argc, char** argv) {
  auto options = brackwen::bench::parse(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: peer_flood [--sockets N] [--flooders N] [--new-samples N] "
                 "[--kept-samples N] [--netlink-refused]\n");
    return 2;
  }
  if (::geteuid() != 0) {
    std::fprintf(stderr, "peer_flood needs root, to connect as another account\n");
    return 2;
  }
  return brackwen::bench::run(*options);
}
