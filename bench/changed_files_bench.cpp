// The first load of every commit's changed files on a history with many merges whose diffs are
// large (and on a copy in which one commit cannot be read), next to the git work it used to be
// (the log of the ordinary commits, then one `git diff p1...p2` per merge) run one child after
// another and spread over all cores; and the diff search on the same history (200 and 1,000
// hits), next to the bare `git log -S` it runs; the same changed files from the memory cache,
// whole or for half the commits; and the commits between two commits 20 main-line commits apart
// in the suite's 100,000-commit history, from the cache next to `git rev-list from..to`.
//
// The repository (20,000 commits, a merge every 3 or 4, each merged topic touching tens of the
// 3,000 files) is generated once with git fast-import and cached beside the other benchmarks'.
// Run: build/bin/changed_files_bench (BRACKWEN_BENCH_SCALE=small for a quick one)
#include <benchmark/benchmark.h>
#include <tbb/parallel_for.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/support/bench_repos.hpp"
#include "git/process.hpp"
#include "git/queries/diff_search.hpp"
#include "git/queries/graph.hpp"
#include "git/queries/load_commits.hpp"
#include "git/queries/patches/patches.hpp"
#include "stores/threads.hpp"

namespace {

namespace fs = std::filesystem;

constexpr int GENERATOR_VERSION = 1;
constexpr int LINES_PER_FILE = 30;

struct Shape {
  uint32_t commits;
  uint32_t files;
};

Shape shape() {
  bool small = brackwen::bench::scale_from_environment().name == "small";
  return small ? Shape{2000, 300} : Shape{20000, 3000};
}

// The fast-import stream: main-line commits, and topics forked a few main-line commits back,
// each one to three commits touching 5 to 20 files (now and then renaming one), then merged.
struct Generator {
  std::mt19937 random{7};
  std::string stream;
  uint32_t marks = 0;
  uint64_t date = 1500000000;
  std::unordered_map<std::string, std::vector<std::string>> text;
  std::unordered_map<std::string, size_t> born;  // the main-line commit a path appeared at
  std::vector<std::string> live;

  size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); }

  std::string modified(const std::string& path) {
    for (int i = 0; i < 3; ++i)
      text[path][pick(LINES_PER_FILE)] = "edit " + std::to_string(random());
    return path;
  }

  void file(const std::string& path) {
    std::string body;
    for (const std::string& line : text[path]) body += line + "\n";
    stream += "M 100644 inline " + path + "\ndata " + std::to_string(body.size()) + "\n" + body;
  }

  uint32_t commit(const std::string& ref, const std::vector<uint32_t>& parents,
                  const std::vector<std::string>& files,
                  const std::vector<std::pair<std::string, std::string>>& renames = {}) {
    date += 60;
    std::string when = std::to_string(date) + " +0000\n";
    stream += "commit " + ref + "\nmark :" + std::to_string(++marks) + "\nauthor A <a@x> " + when +
              "committer A <a@x> " + when + "data 7\nchange\n";
    for (size_t i = 0; i < parents.size(); ++i)
      stream += (i ? "merge :" : "from :") + std::to_string(parents[i]) + "\n";
    for (const auto& [from, to] : renames) stream += "R " + from + " " + to + "\n";
    for (const std::string& path : files) file(path);
    stream += "\n";
    return marks;
  }

  void generate(const Shape& shape) {
    for (uint32_t i = 0; i < shape.files; ++i) {
      std::string path = "src/d" + std::to_string(i / 100) + "/file" + std::to_string(i) + ".txt";
      for (int l = 0; l < LINES_PER_FILE; ++l)
        text[path].push_back(path + " line " + std::to_string(l));
      born[path] = 0;
      live.push_back(path);
    }
    std::vector<uint32_t> main_line{commit("refs/heads/main", {}, live)};
    uint32_t made = 1;
    while (made < shape.commits) {
      if (pick(100) < 35 || main_line.size() < 10) {
        std::vector<std::string> files;
        for (size_t n = 1 + pick(4); n > 0; --n) files.push_back(modified(live[pick(live.size())]));
        main_line.push_back(commit("refs/heads/main", {main_line.back()}, files));
        ++made;
        continue;
      }
      made += topic(main_line);
    }
  }

  // A topic and its merge; the commits made.
  uint32_t topic(std::vector<uint32_t>& main_line) {
    size_t fork = main_line.size() - 1 - pick(8);
    std::vector<std::string> usable;
    for (const std::string& path : live)
      if (born[path] <= fork) usable.push_back(path);
    uint32_t tip = main_line[fork];
    std::vector<std::string> all_files;
    std::vector<std::pair<std::string, std::string>> all_renames;
    uint32_t made = 0;
    for (size_t n = 1 + pick(3); n > 0; --n, ++made) {
      std::vector<std::string> files;
      for (size_t k = 5 + pick(16); k > 0; --k)
        files.push_back(modified(usable[pick(usable.size())]));
      std::vector<std::pair<std::string, std::string>> renames;
      if (pick(10) == 0) renames.push_back(renamed(usable, files, main_line.size()));
      tip = commit("refs/heads/topic", {tip}, files, renames);
      all_files.insert(all_files.end(), files.begin(), files.end());
      all_renames.insert(all_renames.end(), renames.begin(), renames.end());
    }
    std::sort(all_files.begin(), all_files.end());
    all_files.erase(std::unique(all_files.begin(), all_files.end()), all_files.end());
    main_line.push_back(commit("refs/heads/main", {main_line.back(), tip}, all_files, all_renames));
    return made + 1;
  }

  std::pair<std::string, std::string> renamed(std::vector<std::string>& usable,
                                              const std::vector<std::string>& touched,
                                              size_t main_commits) {
    std::string from = usable[pick(usable.size())];
    while (std::find(touched.begin(), touched.end(), from) != touched.end())
      from = usable[pick(usable.size())];
    std::string to = from + ".r" + std::to_string(marks);
    text[to] = std::move(text[from]);
    text.erase(from);
    born.erase(from);
    born[to] = main_commits;
    std::erase(usable, from);
    std::erase(live, from);
    live.push_back(to);
    return {from, to};
  }
};

void run_or_throw(const std::vector<std::string>& argv, const fs::path& dir) {
  auto result = brackwen::run_process(argv, dir.string());
  if (!result || result->status != 0)
    throw std::runtime_error(argv[0] + " failed: " + (result ? result->err : "not started"));
}

const std::string& repository() {
  static const std::string path = [] {
    brackwen::bench::isolate_git_config();
    Shape s = shape();
    fs::path dir = brackwen::bench::default_cache_root() /
                   ("many-merges-v" + std::to_string(GENERATOR_VERSION) + "-" +
                    std::to_string(s.commits) + "c" + std::to_string(s.files) + "f");
    if (fs::exists(dir / "repo" / ".git" / "generated")) return (dir / "repo").string();
    fs::remove_all(dir);
    fs::create_directories(dir / "repo");
    Generator generator;
    generator.generate(s);
    std::ofstream(dir / "stream", std::ios::binary) << generator.stream;
    run_or_throw({"git", "init", "-q", "-b", "main"}, dir / "repo");
    run_or_throw({"sh", "-c", "exec git fast-import --quiet <../stream"}, dir / "repo");
    run_or_throw({"git", "reset", "-q", "--hard", "main"}, dir / "repo");
    std::ofstream(dir / "repo" / ".git" / "generated");
    fs::remove(dir / "stream");
    return (dir / "repo").string();
  }();
  return path;
}

const std::vector<brackwen::Commit>& commits() {
  static const std::vector<brackwen::Commit> list = [] {
    auto history = brackwen::load_history({repository(), 1000000, {}, false, false});
    if (!history) throw std::runtime_error("the history does not load");
    return history->commits;
  }();
  return list;
}

// A copy of the history sharing its objects, in which git reads an ordinary commit half way down
// as one whose tree is missing (a replace ref), as in a damaged clone: neither it nor its child
// can be listed, and the load finds them alone.
const std::string& damaged_repository() {
  static const std::string path = [] {
    fs::path dir = fs::path(repository()).parent_path() / "damaged";
    if (fs::exists(dir / ".git" / "damaged")) return dir.string();
    fs::remove_all(dir);
    run_or_throw({"git", "clone", "-q", "--shared", "--no-checkout", repository(), dir.string()},
                 fs::path(repository()).parent_path());
    run_or_throw(
        {"sh", "-c",
         "v=$(git rev-list --no-merges -n1 --skip=" + std::to_string(shape().commits / 4) +
             " main) && p=$(git rev-parse $v^) && f=$(printf 'tree %s\nparent %s\nauthor A <a@x> "
             "1 +0000\ncommitter A <a@x> 1 +0000\n\ndamaged\n' $(printf 1%.0s $(seq 40)) $p | "
             "git hash-object -t commit -w --literally --stdin) && git replace $v $f && "
             "touch .git/damaged"},
        dir);
    return dir.string();
  }();
  return path;
}

const std::vector<brackwen::Commit>& damaged_commits() {
  static const std::vector<brackwen::Commit> list = [] {
    auto history = brackwen::load_history({damaged_repository(), 1000000, {}, false, false});
    if (!history) throw std::runtime_error("the damaged history does not load");
    return history->commits;
  }();
  return list;
}

// The git work of the first load before it ran on all cores: the log of the ordinary commits
// and one `git diff` per merge or stash.
std::vector<std::string> log_argv() {
  return {"git",
          "log",
          "--remotes",
          "--branches",
          "--all",
          "--name-status",
          "--pretty=format:%H,",
          "--no-merges",
          "-z",
          "-n" + std::to_string(commits().size())};
}

std::vector<std::vector<std::string>> diff_argvs() {
  std::vector<std::vector<std::string>> argvs;
  for (const brackwen::Commit& c : commits()) {
    if (!c.is_merge && !c.stash_id) continue;
    std::string range = c.parent_ids[0] + (c.is_merge ? "..." + c.parent_ids[1] : ".." + c.id);
    argvs.push_back({"git", "diff", "--name-status", "-z", "--end-of-options", range});
  }
  return argvs;
}

void BM_FirstLoad(benchmark::State& state) {
  commits();
  for (auto _ : state) {
    auto map = brackwen::load_missing_patches(repository(), commits(), nullptr);
    benchmark::DoNotOptimize(map);
  }
  state.counters["merges"] = static_cast<double>(diff_argvs().size());
}

void BM_FirstLoadOneUnreadable(benchmark::State& state) {
  damaged_commits();
  size_t unreadable = 0;
  for (auto _ : state) {
    auto entry = brackwen::load_missing_patches(damaged_repository(), damaged_commits(), nullptr);
    unreadable = entry && entry->refused ? entry->refused->size() : 0;
  }
  state.counters["unreadable"] = static_cast<double>(unreadable);
}

void BM_GitOneAfterAnother(benchmark::State& state) {
  auto diffs = diff_argvs();
  for (auto _ : state) {
    benchmark::DoNotOptimize(brackwen::run_process(log_argv(), repository()));
    for (const auto& argv : diffs)
      benchmark::DoNotOptimize(brackwen::run_process(argv, repository()));
  }
}

void BM_GitOnAllCores(benchmark::State& state) {
  auto diffs = diff_argvs();
  for (auto _ : state) {
    brackwen::run_alongside(
        "log", [&] { benchmark::DoNotOptimize(brackwen::run_process(log_argv(), repository())); },
        [&] {
          tbb::parallel_for(size_t{0}, diffs.size(), [&](size_t i) {
            benchmark::DoNotOptimize(brackwen::run_process(diffs[i], repository()));
          });
        });
  }
}

// The changed files of the loaded history from the memory cache, the common path of the search
// and file endpoints: the cache's own map when it holds exactly the commits asked for (1/1), a
// map of the asked ones when it holds more, as after a reload of half as many commits (2/1),
// and the first look at a newly loaded history, which also reads every commit's parents (1/0);
// beside the lookup of every commit alone, which finds that nothing needs loading.
const brackwen::PatchesCacheEntry& loaded_map() {
  static const brackwen::PatchesCacheEntry entry =
      *brackwen::load_missing_patches(repository(), commits(), nullptr);
  return entry;
}

void BM_FromMemory(benchmark::State& state) {
  loaded_map();
  std::vector<brackwen::Commit> asked(commits().begin(),
                                      commits().begin() + commits().size() / state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(brackwen::cached_patches_of(loaded_map(), asked, state.range(1) != 0));
  }
  state.counters["commits"] = static_cast<double>(asked.size());
}

void BM_LookupOnly(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        brackwen::load_missing_patches(repository(), commits(), &loaded_map()));
  }
}

// About 200 hits, and 1,000 (git stops there).
constexpr const char* SEARCH_TEXTS[] = {"edit 1234", "edit 123"};
constexpr uint64_t SEARCH_RESULTS = 1000;

void BM_DiffSearch(benchmark::State& state) {
  commits();  // the search reads the cached history
  uint32_t id = 0;
  size_t hits = 0;
  for (auto _ : state) {
    brackwen::set_counter(brackwen::LAST_SEARCH_ID(), ++id);
    std::string text = SEARCH_TEXTS[state.range(0)];
    brackwen::set_diff_search(id, {std::nullopt, false, repository(), text, id, {}});
    brackwen::run_diff_search(id, repository(), text, SEARCH_RESULTS, 0);
    hits = brackwen::get_diff_searches()->at(id).results->size();
  }
  state.counters["hits"] = static_cast<double>(hits);
}

void BM_GitLogS(benchmark::State& state) {
  auto argv = brackwen::diff_search_args(SEARCH_TEXTS[state.range(0)], SEARCH_RESULTS, 0);
  argv.insert(argv.begin(), "git");
  for (auto _ : state) benchmark::DoNotOptimize(brackwen::run_process(argv, repository()));
}

struct Range {
  std::string repo;
  std::string from;
  std::string to;
  std::shared_ptr<const brackwen::CommitsAndRefs> history;
};

const Range& range() {
  static const Range r = [] {
    brackwen::bench::isolate_git_config();
    auto shape = brackwen::bench::scale_from_environment().history;
    std::string repo =
        brackwen::bench::history_repo(brackwen::bench::default_cache_root(), shape).string();
    auto id = [&](const std::string& rev) {
      auto out = brackwen::run_process({"git", "rev-parse", rev}, repo);
      if (!out || out->out.size() < 40) throw std::runtime_error("no " + rev);
      return out->out.substr(0, out->out.find('\n'));
    };
    auto history = brackwen::load_history({repo, shape.commits, {}, false, false});
    if (!history) throw std::runtime_error("the history does not load");
    return Range{repo, id("main~20"), id("main"), history};
  }();
  return r;
}

void BM_BetweenListed(benchmark::State& state) {
  const Range& r = range();
  for (auto _ : state) {
    auto ids = brackwen::listed_commit_ids_between(r.to, r.from, *r.history);
    state.counters["commits"] = static_cast<double>(ids->size());
  }
}

void BM_BetweenWholeMap(benchmark::State& state) {
  const Range& r = range();
  for (auto _ : state) {
    auto ids =
        brackwen::commit_ids_between(r.to, r.from, brackwen::commits_by_id(r.history->commits));
    state.counters["commits"] = static_cast<double>(ids->size());
  }
}

void BM_BetweenGitRevList(benchmark::State& state) {
  const Range& r = range();
  for (auto _ : state)
    benchmark::DoNotOptimize(
        brackwen::run_process({"git", "rev-list", r.from + ".." + r.to}, r.repo));
}

BENCHMARK(BM_FirstLoad)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_FirstLoadOneUnreadable)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_GitOneAfterAnother)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_GitOnAllCores)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FromMemory)
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({1, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_LookupOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DiffSearch)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_GitLogS)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_BetweenListed)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_BetweenWholeMap)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_BetweenGitRevList)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
