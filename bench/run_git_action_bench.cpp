// Cost of an action: storing streamed output line by line, and the latency of a short one.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "bench/support/stub_git.hpp"
#include "git/run_git_action.hpp"
#include "stores/stores.hpp"

namespace {

constexpr int LINES = 200000;

std::string progress_lines() {
  std::string out;
  for (int i = 0; i < LINES; ++i) {
    out += "4b825dc642cb6eb9a060e54bf8d69288fbee4904 Ünïcode progress line ";
    out += std::to_string(i % 10) + "\n";
  }
  return out;
}

// A stub git first on PATH: "lines" prints LINES lines of 70 bytes, anything else exits 0.
const std::string& stub_dir() {
  return brackwen::bench::stub_git_dir(progress_lines(),
                                       "[ \"$1\" = lines ] && exec cat \"$OUT\"\nexit 0");
}

// Waits without copying the record, then takes the final report.
void finish(brackwen::ActionId id) {
  while (true) {
    auto done = brackwen::ACTIONS().read([&](const auto& all) {
      auto it = all.find(id);
      return it == all.end() || it->second.done;
    });
    if (!done || *done) break;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  benchmark::DoNotOptimize(brackwen::poll_action2(id));
}

void BM_ActionStreams200kLines(benchmark::State& state) {
  const std::string& dir = stub_dir();
  for (auto _ : state) finish(brackwen::start_git_action(dir, {"lines"}));
  state.SetItemsProcessed(state.iterations() * LINES);
}
BENCHMARK(BM_ActionStreams200kLines)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ActionShortCommand(benchmark::State& state) {
  const std::string& dir = stub_dir();
  for (auto _ : state) finish(brackwen::start_git_action(dir, {"status"}));
}
BENCHMARK(BM_ActionShortCommand)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
