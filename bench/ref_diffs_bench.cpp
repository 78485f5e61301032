// "/f/calc_ref_diffs" on a large history: 100,000 commits, 2,000 local branches each with a
// counterpart on origin. Cold = REACHABLE_IDS_CACHE emptied before every run; warm = every
// count already kept. The repository is generated once with git fast-import and kept under
// the user's cache directory ($XDG_CACHE_HOME or ~/.cache)/brackwen-bench.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "git/process.hpp"
#include "git/queries/load_commits.hpp"
#include "git/queries/refs/ref_diffs.hpp"
#include "git/run_git.hpp"
#include "stores/stores.hpp"

namespace {

namespace fs = std::filesystem;

constexpr int kMainline = 96000;
constexpr int kBranches = 2000;
constexpr int kOwnCommits = 2;  // per branch, so 96,000 + 4,000 = 100,000 commits

fs::path cache_root() {
  if (auto xdg = brackwen::get_environment("XDG_CACHE_HOME"); xdg && !xdg->empty()) {
    return fs::path(*xdg) / "brackwen-bench";
  }
  return fs::path(brackwen::get_environment("HOME").value_or("/tmp")) / ".cache" / "brackwen-bench";
}

void add_commit(std::string& out, int mark, int from, long seconds, const std::string& ref) {
  out += "commit " + ref + "\nmark :" + std::to_string(mark) +
         "\ncommitter Bench <bench@example.com> " + std::to_string(seconds) + " +0000\ndata 2\nc\n";
  if (from > 0) out += "from :" + std::to_string(from) + "\n";
  out += "\n";
}

// Mainline commits are marks 1..kMainline; branch b forks at a random mainline commit, adds
// its own commits, and origin/b stays at the fork point (so each branch is ahead of origin).
std::string history_stream() {
  std::string out;
  long t = 1600000000;
  for (int i = 1; i <= kMainline; ++i) add_commit(out, i, i - 1, t++, "refs/heads/main");
  out += "reset refs/remotes/origin/main\nfrom :" + std::to_string(kMainline) + "\n\n";
  std::mt19937 random(42);
  int mark = kMainline;
  for (int b = 0; b < kBranches; ++b) {
    int fork = 1 + static_cast<int>(random() % kMainline);
    std::string name = "b" + std::to_string(b);
    out += "reset refs/remotes/origin/" + name + "\nfrom :" + std::to_string(fork) + "\n\n";
    int parent = fork;
    for (int k = 0; k < kOwnCommits; ++k) {
      add_commit(out, ++mark, parent, t++, "refs/heads/" + name);
      parent = mark;
    }
  }
  return out;
}

bool sh(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

// The generated repository's path; made on first use, reused by later runs.
const std::string& bench_repo() {
  static const std::string path = [] {
    fs::path repo = cache_root() / "ref-diffs-100k-2k";
    if (fs::exists(repo / "complete")) return repo.string();
    fs::path building = repo.string() + ".building";
    fs::remove_all(building);
    fs::create_directories(building);
    std::ofstream(building / "stream") << history_stream();
    std::string quoted = "'" + building.string() + "'";
    if (!sh("cd " + quoted + " && git init -q -b main && git fast-import --quiet < stream")) {
      std::fprintf(stderr, "could not generate %s\n", repo.c_str());
      std::exit(1);
    }
    fs::remove(building / "stream");
    std::ofstream(building / "complete") << "done\n";
    fs::remove_all(repo);
    fs::rename(building, repo);
    return repo.string();
  }();
  return path;
}

// The repository loaded into COMMITS_CACHE once, and the head commit.
const std::string& loaded_head() {
  static const std::string head = [] {
    const std::string& repo = bench_repo();
    brackwen::load_commits_and_refs(brackwen::ReqCommitsOptions2{repo, 200000, {}, false, true});
    auto all = brackwen::get_cached_commits(repo);
    if (!all || all->commits.size() != kMainline + kBranches * kOwnCommits) {
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
    auto diffs = brackwen::load_ref_diffs(repo, head);
    benchmark::DoNotOptimize(diffs);
  }
  report(state, repo);
}
BENCHMARK(BM_CalcRefDiffsCold)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_CalcRefDiffsWarm(benchmark::State& state) {
  const std::string& head = loaded_head();
  const std::string& repo = bench_repo();
  brackwen::load_ref_diffs(repo, head);
  for (auto _ : state) {
    auto diffs = brackwen::load_ref_diffs(repo, head);
    benchmark::DoNotOptimize(diffs);
  }
  report(state, repo);
}
BENCHMARK(BM_CalcRefDiffsWarm)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
