// The cost per connection of finding who owns the other end of a loopback connection, by
// each way of asking, beside a number of other open connections (the /proc tables list every
// socket of the host, counted as "sockets").
#include <benchmark/benchmark.h>
#include <sys/socket.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "server/peer_uid.hpp"
#include "support/loopback.hpp"

namespace {

using brackwen::test::LoopbackPair;

// Closed with a reset, so that no connection of an earlier run lingers in TIME_WAIT and
// lengthens the tables of the next.
void reset_on_close(const LoopbackPair& pair) {
  linger abort{1, 0};
  for (int fd : {pair.client, pair.accepted}) {
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  }
}

double sockets_listed() {
  std::ifstream table("/proc/net/tcp");
  return static_cast<double>(std::count(std::istreambuf_iterator<char>(table), {}, '\n') - 1);
}

template <std::optional<uid_t> (*OWNER_OF)(int)>
void BM_PeerUid(benchmark::State& state) {
  std::vector<std::unique_ptr<LoopbackPair>> others;
  for (int64_t i = 0; i < state.range(0); ++i) {
    others.push_back(std::make_unique<LoopbackPair>());
    reset_on_close(*others.back());
  }
  LoopbackPair pair;
  reset_on_close(pair);
  state.counters["sockets"] = sockets_listed();
  for (auto _ : state) {
    std::optional<uid_t> uid = OWNER_OF(pair.accepted);
    if (!uid) state.SkipWithError("no owner found");
    benchmark::DoNotOptimize(uid);
  }
}

std::optional<uid_t> by_sock_diag(int fd) {
  return brackwen::peer_uid_by_sock_diag(fd).owner;
}

BENCHMARK(BM_PeerUid<by_sock_diag>)
    ->Name("BySockDiag")
    ->Arg(0)
    ->Arg(1000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PeerUid<brackwen::peer_uid_by_proc_net_tcp>)
    ->Name("ByProcNetTcp")
    ->Arg(0)
    ->Arg(1000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
