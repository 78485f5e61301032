// Throughput of reading a large git output and of the UTF-8 repair that follows it; what the
// limits of a reading run cost: a sample of the memory rule, a 100,000-commit log sampled all
// along, and the end of a run that leaves nothing behind.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>

#include "bench/support/bench_repos.hpp"
#include "bench/support/stub_git.hpp"
#include "git/queries/commits.hpp"
#include "git/reading/child_limits.hpp"
#include "git/reading/orphans.hpp"
#include "git/reading/read_budget.hpp"
#include "git/run_git.hpp"
#include "parser/standard_parsers.hpp"

namespace {

constexpr size_t SIZE = 50u << 20;

std::string sample_text(size_t size) {
  std::string line = "4b825dc642cb6eb9a060e54bf8d69288fbee4904 Ünïcode author <a@b.c> message\n";
  std::string out;
  out.reserve(size + line.size());
  while (out.size() < size) out += line;
  return out;
}

// A stub git first on PATH that prints a 50 MiB file.
const std::string& stub_dir() {
  return brackwen::bench::stub_git_dir(sample_text(SIZE), "exec cat \"$OUT\"");
}

void BM_RunGit50MiB(benchmark::State& state) {
  const std::string& dir = stub_dir();
  for (auto _ : state) {
    auto out = brackwen::run_git(dir, {"log"});
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * SIZE));
}
BENCHMARK(BM_RunGit50MiB)->Unit(benchmark::kMillisecond);

void BM_DecodeValid(benchmark::State& state) {
  std::string text = sample_text(SIZE);
  for (auto _ : state) benchmark::DoNotOptimize(brackwen::decode_utf8_lossy(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_DecodeValid)->Unit(benchmark::kMillisecond);

void BM_DecodeOneInvalidByte(benchmark::State& state) {
  std::string text = sample_text(SIZE);
  text[text.size() / 2] = '\xFF';
  for (auto _ : state) benchmark::DoNotOptimize(brackwen::decode_utf8_lossy(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_DecodeOneInvalidByte)->Unit(benchmark::kMillisecond);

void BM_FirstWordsOfLines(benchmark::State& state) {
  std::string text = sample_text(SIZE);
  for (auto _ : state) {
    auto words = brackwen::parse_all(text, brackwen::first_words_of_lines);
    benchmark::DoNotOptimize(words);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_FirstWordsOfLines)->Unit(benchmark::kMillisecond);

// One sample of the memory rule over a run of one process (this one: its status, its threads'
// lists of children) and the adopted processes it looks through.
void BM_MemorySample(benchmark::State& state) {
  brackwen::MemoryWatch watch{brackwen::read_memory_budget(), getpid(), 1};
  for (auto _ : state) {
    watch.next_sample = {};
    benchmark::DoNotOptimize(brackwen::over_budget(watch));
  }
}
BENCHMARK(BM_MemorySample)->Unit(benchmark::kMicrosecond);

double elapsed_ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
      .count();
}

// `argv` run in `dir` without limits, then with `reading`, in turns: the mean of each in
// milliseconds, in counters.
void alternate(benchmark::State& state, const std::vector<std::string>& argv,
               const std::string& dir, const brackwen::ProcessLimits& reading) {
  double plain_ms = 0;
  double reading_ms = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(brackwen::run_process(argv, dir));
    plain_ms += elapsed_ms(start);
    start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(brackwen::run_process(argv, dir, {}, reading));
    reading_ms += elapsed_ms(start);
  }
  double runs = static_cast<double>(state.iterations());
  state.counters["plain_ms"] = plain_ms / runs;
  state.counters["reading_ms"] = reading_ms / runs;
}

// The log of the history rows (100,000 commits): sampled every MEMORY_SAMPLE_INTERVAL while it
// prints.
void BM_GitLogSampled(benchmark::State& state) {
  brackwen::bench::isolate_git_config();
  const auto& shape = brackwen::bench::scale_from_environment().history;
  std::string repo = brackwen::bench::history_repo(brackwen::bench::default_cache_root(), shape);
  std::vector<std::string> argv = brackwen::load_commits_args(shape.commits);
  argv.insert(argv.begin(), "git");
  alternate(state, argv, repo, {{}, brackwen::read_memory_budget(), nullptr, true});
}
BENCHMARK(BM_GitLogSampled)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// A program that ends at once, as a server runs it (this process the reaper of orphans): the
// end of a reading run, which kills its group and sweeps the adopted processes, against a plain
// end.
void BM_ReadingRunEnd(benchmark::State& state) {
  static const bool adopting = (brackwen::adopt_orphans(), true);
  benchmark::DoNotOptimize(adopting);
  alternate(state, {"true"}, "/", {{}, 0, nullptr, true});
}
BENCHMARK(BM_ReadingRunEnd)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(2000);

}  // namespace
