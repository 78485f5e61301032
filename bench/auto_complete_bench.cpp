// Cost of building the commit-message word tree and of answering one prefix.
#include <benchmark/benchmark.h>

#include <string>

#include "stores/auto_complete.hpp"

namespace brackwen {
namespace {

// A history of `n` commits with realistic messages and a few changed files each.
CommitsAndRefs synthetic_history(size_t n, PatchMap& patches) {
  CommitsAndRefs history;
  for (size_t i = 0; i < n; ++i) {
    Commit c;
    c.id = std::to_string(i);
    c.author = "Author " + std::to_string(i % 50);
    c.email = "author" + std::to_string(i % 50) + "@example.com";
    c.message = "Refactor module" + std::to_string(i % 700) + " handling of configuration " +
                "entries and improve performance of lookups number" + std::to_string(i) + "\n";
    history.commits.push_back(c);
    Patch p;
    p.new_file = p.old_file =
        "src/component" + std::to_string(i % 900) + "/file" + std::to_string(i % 37) + ".cpp";
    patches[c.id].push_back(p);
  }
  for (size_t i = 0; i < 200; ++i) {
    RefInfo r;
    r.short_name = "feature/branch-" + std::to_string(i);
    history.refs.push_back(r);
  }
  return history;
}

void BM_BuildMessageTrie(benchmark::State& state) {
  PatchMap patches;
  auto history = synthetic_history(static_cast<size_t>(state.range(0)), patches);
  for (auto _ : state) benchmark::DoNotOptimize(build_message_trie(history, patches));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BuildMessageTrie)->Arg(1000)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_TrieComplete(benchmark::State& state) {
  PatchMap patches;
  auto history = synthetic_history(20000, patches);
  auto tree = build_message_trie(history, patches);
  for (auto _ : state) benchmark::DoNotOptimize(trie_complete(*tree, "s", 10));
}
BENCHMARK(BM_TrieComplete)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace brackwen
