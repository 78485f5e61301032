// Working-copy status and working-copy diff, each against the bare git command it stands
// beside: `git status` of a 50,000-file tree with 6,000 changes, and `git diff --no-index`
// of a 100,000-line file with 10,000 changed lines; the line diff against dtl's, and on
// shuffled files. The repositories are the endpoint suite's (bench/support), generated once
// and cached.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <dtl/dtl.hpp>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unordered_map>

#include "bench/support/bench_repos.hpp"
#include "git/process.hpp"
#include "git/queries/wip/line_diff.hpp"
#include "git/queries/wip/wip_diff.hpp"
#include "git/queries/wip/wip_status.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;

const bench::Scale& scale() {
  static const bench::Scale chosen = bench::scale_from_environment();
  return chosen;
}

const fs::path& cache_root() {
  static const fs::path root = [] {
    bench::isolate_git_config();
    return bench::default_cache_root();
  }();
  return root;
}

std::string numbered(std::string_view word, int i) {
  std::string text(word);
  text += std::to_string(i);
  text += '\n';
  return text;
}

std::string read_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The endpoint suite's work tree: committed files, some modified, some new beside them.
const std::string& status_repo() {
  static const std::string path = bench::work_tree_repo(cache_root(), scale().work_tree).string();
  return path;
}

// The endpoint suite's big file: committed, and a working copy with some lines replaced.
struct DiffFile {
  bench::BigFileRepo repo;
  std::string head;
  std::string old_text;
  std::string new_text;
};

DiffFile& diff_file() {
  static DiffFile file = [] {
    DiffFile made;
    made.repo = bench::big_file_repo(cache_root(), scale().big_file);
    made.old_text = read_file(made.repo.committed_copy);
    made.new_text = read_file(made.repo.dir / made.repo.file);
    made.head =
        run_process({"git", "rev-parse", "HEAD"}, made.repo.dir.string())->out.substr(0, 40);
    return made;
  }();
  return file;
}

void BM_WipStatus(benchmark::State& state) {
  const auto& shape = scale().work_tree;
  for (auto _ : state) {
    auto patches = load_wip_patches(status_repo());
    if (!patches || patches->size() != shape.modified + shape.untracked) {
      state.SkipWithError("unexpected status");
    }
    benchmark::DoNotOptimize(patches);
  }
}

void BM_BareGitStatus(benchmark::State& state) {
  for (auto _ : state) {
    auto out = run_process({"git", "status", "--porcelain", "-uall", "-z"}, status_repo());
    benchmark::DoNotOptimize(out);
  }
}

// The same line diff through dtl (Wu's O(NP) algorithm), kept to show why the working-copy
// diff does not use it: past 2,000,000 path coordinates dtl restarts on the rest of the
// texts, and its script is then no longer minimal. Lines are interned to numbers first, as
// for our own diff.
std::vector<LineChange> dtl_script(std::string_view old_text, std::string_view new_text) {
  std::unordered_map<std::string_view, int> numbers;
  auto numbered_lines = [&](std::string_view text) {
    std::vector<int> out;
    for (size_t start = 0; start < text.size();) {
      size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
      out.push_back(numbers.emplace(text.substr(start, end - start), numbers.size()).first->second);
      start = end;
    }
    return out;
  };
  dtl::Diff<int> diff(numbered_lines(old_text), numbered_lines(new_text));
  diff.onHuge();
  diff.compose();
  std::vector<LineChange> script;
  for (const auto& [line, info] : diff.getSes().getSequence()) {
    script.push_back(info.type == dtl::SES_COMMON   ? LineChange::Same
                     : info.type == dtl::SES_DELETE ? LineChange::Removed
                                                    : LineChange::Added);
  }
  return script;
}

size_t changed_lines(const std::vector<LineChange>& script) {
  return script.size() -
         static_cast<size_t>(std::count(script.begin(), script.end(), LineChange::Same));
}

size_t changed_lines(const std::shared_ptr<const WipDiff>& diff) {
  return changed_lines(diff->script);
}

// 100,000 lines with 5,000 lines inserted and 5,000 others deleted: 10,000 changes at least.
std::pair<std::string, std::string> insert_delete_texts() {
  std::mt19937 random(2);
  std::string old_text;
  std::string new_text;
  for (int i = 0; i < 100000; ++i) {
    auto line = numbered("l ", i);
    old_text += line;
    if (random() % 20 == 0) new_text += numbered("inserted ", i);
    if (random() % 20 != 0) new_text += line;
  }
  return {old_text, new_text};
}

// 160,000 lines drawn from `distinct` values, against the same lines shuffled: the edit count
// is of the order of the line count, where an exact diff's cost grows with its square.
std::pair<std::string, std::string> shuffled_texts(int distinct) {
  std::mt19937 random(4);
  std::vector<std::string> lines;
  for (int i = 0; i < 160000; ++i) lines.push_back(numbered("s ", i % distinct));
  auto join = [](const std::vector<std::string>& parts) {
    std::string text;
    for (const auto& part : parts) text += part;
    return text;
  };
  std::string old_text = join(lines);
  std::shuffle(lines.begin(), lines.end(), random);
  return {old_text, join(lines)};
}

void BM_WipDiff(benchmark::State& state) {
  auto& file = diff_file();
  const auto& shape = scale().big_file;
  WipPatch patch;
  patch.old_file = patch.new_file = file.repo.file;
  patch.patch_type = WipPatchType::M;
  for (auto _ : state) {
    auto diff = load_wip_diff(file.repo.dir.string(), patch, file.head, WipShown::Hunks);
    if (!diff || diff->script.size() != shape.lines + shape.changed) {
      state.SkipWithError("unexpected diff");
    }
    benchmark::DoNotOptimize(diff);
  }
}

void BM_DiffTextsOnly(benchmark::State& state) {
  auto& file = diff_file();
  size_t changes = 0;
  for (auto _ : state) changes = changed_lines(diff_texts(file.old_text, file.new_text));
  state.counters["changes"] = static_cast<double>(changes);
}

void BM_DtlSameTexts(benchmark::State& state) {
  auto& file = diff_file();
  size_t changes = 0;
  for (auto _ : state) changes = changed_lines(dtl_script(file.old_text, file.new_text));
  state.counters["changes"] = static_cast<double>(changes);
}

void BM_DiffTextsInsertDelete(benchmark::State& state) {
  auto [old_text, new_text] = insert_delete_texts();
  size_t changes = 0;
  for (auto _ : state) changes = changed_lines(diff_texts(old_text, new_text));
  state.counters["changes"] = static_cast<double>(changes);
}

void BM_DtlInsertDelete(benchmark::State& state) {
  auto [old_text, new_text] = insert_delete_texts();
  size_t changes = 0;
  for (auto _ : state) changes = changed_lines(dtl_script(old_text, new_text));
  state.counters["changes"] = static_cast<double>(changes);
}

void BM_DiffTextsShuffled(benchmark::State& state) {
  auto [old_text, new_text] = shuffled_texts(static_cast<int>(state.range(0)));
  size_t changes = 0;
  for (auto _ : state) changes = changed_lines(diff_texts(old_text, new_text));
  state.counters["changes"] = static_cast<double>(changes);
}

void BM_BareGitDiffNoIndex(benchmark::State& state) {
  auto& file = diff_file();
  for (auto _ : state) {
    auto out = run_process(
        {"git", "diff", "--no-index", file.repo.committed_copy.string(), file.repo.file},
        file.repo.dir.string());
    benchmark::DoNotOptimize(out);
  }
}

BENCHMARK(BM_WipStatus)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareGitStatus)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WipDiff)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiffTextsOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareGitDiffNoIndex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DtlSameTexts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiffTextsInsertDelete)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DtlInsertDelete)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiffTextsShuffled)->Arg(160000)->Arg(3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace brackwen
