// "/f/calc_ref_diffs" on a large history: the endpoint suite's 100,000 commits with 2,000
// local branches, most with a counterpart on origin (bench/support generates it once and
// keeps it). Cold = REACHABLE_IDS_CACHE emptied before every run; warm = every count kept.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench/support/bench_repos.hpp"
#include "git/queries/refs/ref_diffs.hpp"
#include "git/run_git.hpp"
#include "server/history.hpp"
#include "stores/stores.hpp"

namespace {

const brackwen::bench::HistoryShape& shape() {
  static const brackwen::bench::HistoryShape history =
      brackwen::bench::scale_from_environment().history;
  return history;
}

// The endpoint suite's history; generated once, made and kept by bench/support.
const std::string& bench_repo() {
  static const std::string path = [] {
    brackwen::bench::isolate_git_config();
    return brackwen::bench::history_repo(brackwen::bench::default_cache_root(), shape()).string();
  }();
  return path;
}

// The repository loaded into COMMITS_CACHE once, and the head commit.
const std::string& loaded_head() {
  static const std::string head = [] {
    const std::string& repo = bench_repo();
    brackwen::load_commits_and_refs(brackwen::HistoryQuery{repo, shape().commits, {}, false, true});
    auto all = brackwen::get_cached_commits(repo);
    if (!all || all->commits.size() != shape().commits) {
      std::fprintf(stderr, "the commit cache does not hold the generated history\n");
      std::exit(1);
    }
    auto id = brackwen::run_git(repo, {"rev-parse", "main"});
    return id->substr(0, 40);
  }();
  return head;
}

void report(benchmark::State& state, const std::string& repo) {
  auto all = brackwen::get_cached_commits(repo);
  state.counters["commits"] = static_cast<double>(all->commits.size());
  state.counters["refs"] = static_cast<double>(all->refs.size());
}

void BM_CalcRefDiffsCold(benchmark::State& state) {
  const std::string& head = loaded_head();
  const std::string& repo = bench_repo();
  for (auto _ : state) {
    state.PauseTiming();
    brackwen::REACHABLE_IDS_CACHE().set({});
    state.ResumeTiming();
    auto diffs = brackwen::calc_ref_diffs(repo, head);
    benchmark::DoNotOptimize(diffs);
  }
  report(state, repo);
}
BENCHMARK(BM_CalcRefDiffsCold)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_CalcRefDiffsWarm(benchmark::State& state) {
  const std::string& head = loaded_head();
  const std::string& repo = bench_repo();
  brackwen::calc_ref_diffs(repo, head);
  for (auto _ : state) {
    auto diffs = brackwen::calc_ref_diffs(repo, head);
    benchmark::DoNotOptimize(diffs);
  }
  report(state, repo);
}
BENCHMARK(BM_CalcRefDiffsWarm)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
