// Cost of subscribing to a directory tree and of matching a batch of changed paths to flags.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>

#include "stores/stores.hpp"
#include "stores/watcher.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;

void BM_OpenTreeWatch(benchmark::State& state) {
  std::string root = (fs::temp_directory_path() / "brackwen-bench-XXXXXX").string();
  if (!mkdtemp(root.data())) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  for (int i = 0; i < state.range(0); ++i) {
    fs::create_directories(fs::path(root) / std::to_string(i % 20) / std::to_string(i));
  }
  for (auto _ : state) {
    TreeWatch watch;
    benchmark::DoNotOptimize(open_tree_watch(watch, root));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  fs::remove_all(root);
}
BENCHMARK(BM_OpenTreeWatch)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_OnRepoEvent(benchmark::State& state) {
  std::unordered_map<std::string, bool> flags;
  for (int i = 0; i < 50; ++i) flags["/work/repos/project" + std::to_string(i)] = false;
  set_repo_changed(flags);
  TreeEvent event;
  for (int i = 0; i < state.range(0); ++i) {
    event.paths.push_back("/work/repos/project" + std::to_string(i % 50) + "/src/dir" +
                          std::to_string(i) + "/file.cpp");
  }
  for (auto _ : state) on_repo_event("/work/repos", event);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OnRepoEvent)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace brackwen
