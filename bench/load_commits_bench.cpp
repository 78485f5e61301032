// The history view's load on a 100,000-commit repository, next to the bare `git log` it runs,
// with the process's peak memory against the bytes git printed.
//
// The repository is made once with git fast-import and kept under $XDG_CACHE_HOME (or /tmp),
// outside the source tree. Run: build/bin/load_commits_bench
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdio.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "git/process.hpp"
#include "git/queries/commits_parsers.hpp"
#include "git/queries/load_commits.hpp"
#include "stores/stores.hpp"

namespace {

constexpr uint32_t kCommits = 100000;
constexpr int kMergeEvery = 50;
constexpr int kStashes = 5;

std::filesystem::path bench_root() {
  auto xdg = brackwen::get_environment("XDG_CACHE_HOME");
  std::filesystem::path base =
      xdg && std::filesystem::path(*xdg).is_absolute() ? std::filesystem::path(*xdg) : "/tmp";
  return base / "brackwen-bench" / "history-100k";
}

void run(const std::filesystem::path& dir, const std::string& command) {
  std::string line = "cd '" + dir.string() + "' && " + command;
  if (std::system(line.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

std::string data(const std::string& text) {
  return "data " + std::to_string(text.size()) + "\n" + text + "\n";
}

std::string message(uint32_t i) {
  static const char* words[] = {"parser", "cache",  "server", "refs",   "stash",
                                "index",  "commit", "graph",  "filter", "diff"};
  std::string m = "Fix " + std::string(words[i % 10]) + " handling in module " +
                  std::to_string(i % 97) + " (#" + std::to_string(i) + ")\n";
  if (i % 3 == 0)
    m += "\nA longer body explains why; it spans (a few) lines.\nSee " +
         std::string(words[(i / 10) % 10]) + ".\n";
  return m;
}

std::string person(uint32_t i, uint32_t seconds) {
  std::string n = std::to_string(i % 53);
  return "Dev" + n + " Person <dev" + n + "@example.com> " + std::to_string(seconds) +
         (i % 2 ? " +0100" : " -0500") + "\n";
}

// Main line of kCommits commits, every kMergeEvery-th one merging a side commit; branches,
// tags and remote-tracking refs along it; a few stashes on top.
void make_repository(const std::filesystem::path& dir) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  run(dir, "git init -q -b main .");
  std::ostringstream s;
  uint32_t mark = 0;
  uint32_t last_main = 0;
  for (uint32_t i = 1; i <= kCommits; ++i) {
    uint32_t seconds = 1500000000 + i * 60;
    uint32_t side = 0;
    if (i % kMergeEvery == 0) {
      side = ++mark;
      s << "commit refs/heads/side-work\nmark :" << side << "\nauthor " << person(i + 7, seconds)
        << "committer " << person(i + 7, seconds) << data("Side work " + std::to_string(i))
        << "from :" << last_main << "\nM 100644 inline side.txt\n"
        << data(std::to_string(i));
    }
    uint32_t self = ++mark;
    s << "commit refs/heads/main\nmark :" << self << "\nauthor " << person(i, seconds)
      << "committer " << person(i, seconds) << data(message(i));
    if (last_main) s << "from :" << last_main << "\n";
    if (side) s << "merge :" << side << "\n";
    s << "M 100644 inline file" << i % 100 << ".txt\n" << data(std::to_string(i)) << "\n";
    if (i % 1000 == 0) {
      std::string n = std::to_string(i / 1000);
      s << "reset refs/heads/feature/" << n << "\nfrom :" << self << "\n\n";
      s << "reset refs/remotes/origin/feature/" << n << "\nfrom :" << self << "\n\n";
      s << "reset refs/tags/v" << n << ".0\nfrom :" << self << "\n\n";
    }
    last_main = self;
  }
  s << "reset refs/remotes/origin/main\nfrom :" << last_main << "\n\n";
  { std::ofstream(dir / "import.txt", std::ios::binary) << s.str(); }
  run(dir, "git fast-import --quiet < import.txt && rm import.txt && git checkout -q -f main");
  for (int k = 0; k < kStashes; ++k) {
    run(dir, "echo stash" + std::to_string(k) + " > file1.txt && git stash push -q -m 'work " +
                 std::to_string(k) + "'");
  }
  std::ofstream(dir / ".git" / "bench-ready") << "ready\n";
}

const std::string& repository() {
  static const std::string path = [] {
    auto dir = bench_root();
    if (!std::filesystem::exists(dir / ".git" / "bench-ready")) make_repository(dir);
    brackwen::set_environment("GIT_CONFIG_GLOBAL", "/dev/null");
    brackwen::set_environment("GIT_CONFIG_NOSYSTEM", "1");
    return dir.string();
  }();
  return path;
}

std::vector<std::string> log_argv() {
  return {"git",
          "log",
          "--branches",
          "--tags",
          "--remotes",
          std::string(brackwen::DECORATE_ARG),
          std::string(brackwen::PRETTY_FORMAT_ARG),
          "-n" + std::to_string(kCommits),
          std::string(brackwen::DATE_ARG)};
}

// Writing 5 to clear_refs resets the peak resident size to the current one.
void reset_peak_memory() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

double status_bytes(std::string_view field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(field)) return std::stod(line.substr(field.size())) * 1024;
  }
  return 0;
}

size_t git_output_bytes() {
  static const size_t bytes = brackwen::run_process(log_argv(), repository())->out.size();
  return bytes;
}

double elapsed_ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
      .count();
}

brackwen::ReqCommitsOptions2 full_load() {
  return {repository(), kCommits, {}, false, false};
}

bool load_all(benchmark::State& state) {
  auto loaded = brackwen::load_commits_and_refs(full_load());
  if (loaded && loaded->commits().size() == kCommits + kStashes) return true;
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
    double before = status_bytes("VmRSS:");
    reset_peak_memory();
    state.ResumeTiming();
    if (!load_all(state)) break;
    worst = std::max(worst, status_bytes("VmHWM:") - before);
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
    double before = status_bytes("VmRSS:");
    reset_peak_memory();
    state.ResumeTiming();
    if (!load_all(state)) break;
    worst = std::max(worst, status_bytes("VmHWM:") - before);
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

}  // namespace
