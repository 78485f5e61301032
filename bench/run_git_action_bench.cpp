// Cost of an action: storing streamed output line by line, and the latency of a short one.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "git/process.hpp"
#include "git/run_git_action.hpp"
#include "stores/stores.hpp"

namespace {

constexpr int kLines = 200000;

// A stub git first on PATH: "lines" prints kLines lines of 70 bytes, anything else exits 0.
struct StubGit {
  std::filesystem::path dir;
  StubGit() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "brackwen-bench-XXXXXX").string();
    dir = mkdtemp(tmpl.data());
    {
      std::ofstream out(dir / "out.txt", std::ios::binary);
      for (int i = 0; i < kLines; ++i) {
        out << "4b825dc642cb6eb9a060e54bf8d69288fbee4904 Ünïcode progress line " << i % 10 << "\n";
      }
    }
    std::ofstream(dir / "git") << "#!/bin/sh\n[ \"$1\" = lines ] && exec cat '"
                               << (dir / "out.txt").string() << "'\nexit 0\n";
    std::filesystem::permissions(dir / "git", std::filesystem::perms::owner_all);
    brackwen::set_environment("PATH",
                              dir.string() + ":" + brackwen::get_environment("PATH").value_or(""));
  }
  ~StubGit() { std::filesystem::remove_all(dir); }
};

const std::string& stub_dir() {
  static const StubGit stub;
  static const std::string dir = stub.dir.string();
  return dir;
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
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_ActionStreams200kLines)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ActionShortCommand(benchmark::State& state) {
  const std::string& dir = stub_dir();
  for (auto _ : state) finish(brackwen::start_git_action(dir, {"status"}));
}
BENCHMARK(BM_ActionShortCommand)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
