// The history view's load on a 100,000-commit repository, next to the bare `git log` it runs,
// with the process's peak memory against the bytes git printed.
//
// The repository comes from the shared generator (bench/support), made once and cached outside
// the source tree. Run: build/bin/load_commits_bench (BRACKWEN_BENCH_SCALE=small for a quick one)
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/support/bench_repos.hpp"
#include "bench/support/proc_memory.hpp"
#include "git/process.hpp"
#include "git/queries/commits.hpp"
#include "git/queries/commits_parsers.hpp"
#include "git/queries/graph.hpp"
#include "git/queries/load_commits.hpp"
#include "server/history.hpp"
#include "stores/stores.hpp"

namespace {

const brackwen::bench::HistoryShape& shape() {
  static const brackwen::bench::HistoryShape history =
      brackwen::bench::scale_from_environment().history;
  return history;
}

// The suite's history: generated once, shared with the endpoint suite.
const std::string& repository() {
  static const std::string path = [] {
    brackwen::bench::isolate_git_config();
    return brackwen::bench::history_repo(brackwen::bench::default_cache_root(), shape()).string();
  }();
  return path;
}

std::vector<std::string> log_argv() {
  auto argv = brackwen::load_commits_args(shape().commits);
  argv.insert(argv.begin(), "git");
  return argv;
}

void reset_peak_memory() {
  brackwen::bench::reset_peak_resident(getpid());
}

double status_bytes(std::string_view field) {
  return static_cast<double>(brackwen::bench::status_bytes(getpid(), field).value_or(0));
}

size_t git_output_bytes() {
  static const size_t bytes = brackwen::run_process(log_argv(), repository())->out.size();
  return bytes;
}

double elapsed_ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
      .count();
}

brackwen::HistoryQuery full_load() {
  return {repository(), shape().commits, {}, false, false};
}

bool load_all(benchmark::State& state) {
  auto loaded = brackwen::load_commits_and_refs(full_load());
  if (loaded && loaded->commits().size() == shape().commits + shape().stashes) return true;
  state.SkipWithError("unexpected result");
  return false;
}

void BM_GitLogAlone(benchmark::State& state) {
  const std::string& repo = repository();
  for (auto _ : state) {
    auto out = brackwen::run_process(log_argv(), repo);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_GitLogAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Each iteration runs the bare git log, then the whole load; the ratio of the sums is immune
// to the drift of a busy machine between two separate benchmarks.
void BM_LoadNextToGitLog(benchmark::State& state) {
  const std::string& repo = repository();
  double git_ms = 0;
  double load_ms = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    auto out = brackwen::run_process(log_argv(), repo);
    git_ms += elapsed_ms(start);
    out.reset();
    start = std::chrono::steady_clock::now();
    if (!load_all(state)) break;
    double ms = elapsed_ms(start);
    load_ms += ms;
    state.SetIterationTime(ms / 1000);
  }
  state.counters["git_log_ms"] = git_ms / static_cast<double>(state.iterations());
  state.counters["load_per_git_log"] = load_ms / git_ms;
}
BENCHMARK(BM_LoadNextToGitLog)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(7);

// A first load: the repository has no cache entry yet. Peak memory is the process's peak
// during the load above what it held before, against the bytes git printed.
void BM_LoadCommitsAndRefsFirst(benchmark::State& state) {
  double git_bytes = static_cast<double>(git_output_bytes());
  double worst = 0;
  for (auto _ : state) {
    state.PauseTiming();
    brackwen::COMMITS_CACHE().update([](brackwen::CommitsCache& cache) { cache.clear(); });
    malloc_trim(0);
    double before = status_bytes("VmRSS");
    reset_peak_memory();
    state.ResumeTiming();
    if (!load_all(state)) break;
    worst = std::max(worst, status_bytes("VmHWM") - before);
  }
  state.counters["peak_MB"] = worst / 1e6;
  state.counters["git_MB"] = git_bytes / 1e6;
  state.counters["peak_per_git_byte"] = worst / git_bytes;
}
BENCHMARK(BM_LoadCommitsAndRefsFirst)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// A reload: the previous snapshot stays cached (and alive) until the new one replaces it.
void BM_LoadCommitsAndRefsReload(benchmark::State& state) {
  double git_bytes = static_cast<double>(git_output_bytes());
  if (!load_all(state)) return;
  double worst = 0;
  for (auto _ : state) {
    state.PauseTiming();
    malloc_trim(0);
    double before = status_bytes("VmRSS");
    reset_peak_memory();
    state.ResumeTiming();
    if (!load_all(state)) break;
    worst = std::max(worst, status_bytes("VmHWM") - before);
  }
  state.counters["peak_MB"] = worst / 1e6;
  state.counters["peak_per_git_byte"] = worst / git_bytes;
}
BENCHMARK(BM_LoadCommitsAndRefsReload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_LoadCommitsAndRefsFast(benchmark::State& state) {
  load_all(state);
  auto fast = full_load();
  fast.fast = true;
  for (auto _ : state) {
    auto loaded = brackwen::load_commits_and_refs(fast);
    benchmark::DoNotOptimize(loaded);
  }
}
BENCHMARK(BM_LoadCommitsAndRefsFast)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_ParseLogOutput(benchmark::State& state) {
  std::string text = brackwen::run_process(log_argv(), repository())->out;
  for (auto _ : state) {
    auto commits = brackwen::parse_all(text, brackwen::parse_commits);
    benchmark::DoNotOptimize(commits);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseLogOutput)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The look for parents listed before their children that each load makes once, on the plain
// history (0) and the realistic one (1), beside the load it is part of.
void BM_OrderCheck(benchmark::State& state) {
  const brackwen::bench::Scale scale = brackwen::bench::scale_from_environment();
  const brackwen::bench::HistoryShape& history =
      state.range(0) ? scale.realistic_history : scale.history;
  brackwen::bench::isolate_git_config();
  std::string repo =
      brackwen::bench::history_repo(brackwen::bench::default_cache_root(), history).string();
  auto start = std::chrono::steady_clock::now();
  auto loaded = brackwen::load_history({repo, history.commits, {}, false, false});
  double load_ms = elapsed_ms(start);
  if (!loaded) {
    state.SkipWithError("the history does not load");
    return;
  }
  double check_ms = 0;
  for (auto _ : state) {
    start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(brackwen::out_of_order_stretches(loaded->commits));
    check_ms += elapsed_ms(start);
  }
  state.counters["commits"] = static_cast<double>(loaded->commits.size());
  state.counters["stretches"] = static_cast<double>(loaded->out_of_order->size());
  state.counters["load_ms"] = load_ms;
  state.counters["share_of_load"] = check_ms / static_cast<double>(state.iterations()) / load_ms;
}
BENCHMARK(BM_OrderCheck)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
