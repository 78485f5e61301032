// Working-copy status and working-copy diff, each against the bare git command it stands
// beside: `git status` of a 50,000-file tree with 5,000 changes, and `git diff --no-index`
// of a 100,000-line file with 10,000 changed lines; and the line diff against dtl's.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <dtl/dtl.hpp>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unordered_map>

#include "git/process.hpp"
#include "git/queries/wip/line_diff.hpp"
#include "git/queries/wip/wip_diff.hpp"
#include "git/queries/wip/wip_status.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;

struct ScratchDir {
  fs::path path;
  ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "brackwen-bench-XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~ScratchDir() {
    std::error_code error;
    fs::remove_all(path, error);
  }
};

void git_in(const fs::path& dir, std::vector<std::string> args) {
  std::vector<std::string> argv{"git",
                                "-c",
                                "user.name=Bench",
                                "-c",
                                "user.email=b@example.com",
                                "-c",
                                "commit.gpgsign=false"};
  argv.insert(argv.end(), args.begin(), args.end());
  auto result = run_process(argv, dir.string());
  if (!result || result->status != 0) std::abort();
}

void write_file(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

fs::path tree_file(const fs::path& root, int i) {
  std::string folder = "d";
  folder += std::to_string(i / 100);
  std::string name = "file";
  name += std::to_string(i);
  name += ".txt";
  return root / folder / name;
}

std::string numbered(std::string_view word, int i) {
  std::string text(word);
  text += std::to_string(i);
  text += '\n';
  return text;
}

// 50,000 committed files in 500 folders; every tenth one then modified.
struct StatusTree {
  ScratchDir dir;
  StatusTree() {
    git_in(dir.path, {"init", "-q"});
    for (int i = 0; i < 50000; ++i) {
      write_file(tree_file(dir.path, i), numbered("content ", i));
    }
    git_in(dir.path, {"add", "-A"});
    git_in(dir.path, {"commit", "-q", "-m", "tree"});
    for (int i = 0; i < 50000; i += 10) {
      write_file(tree_file(dir.path, i), numbered("changed ", i));
    }
  }
};

StatusTree& status_tree() {
  static StatusTree tree;
  return tree;
}

void BM_WipStatus(benchmark::State& state) {
  auto repo = status_tree().dir.path.string();
  for (auto _ : state) {
    auto patches = load_wip_patches(repo);
    if (!patches || patches->size() != 5000) state.SkipWithError("unexpected status");
    benchmark::DoNotOptimize(patches);
  }
}

void BM_BareGitStatus(benchmark::State& state) {
  auto repo = status_tree().dir.path.string();
  for (auto _ : state) {
    auto out = run_process({"git", "status", "--porcelain", "-uall", "-z"}, repo);
    benchmark::DoNotOptimize(out);
  }
}

// A committed 100,000-line file and a working copy with 10,000 of its lines changed.
struct DiffFile {
  ScratchDir dir;
  std::string head;
  std::string old_text;
  std::string new_text;
  DiffFile() {
    std::mt19937 random(1);
    std::vector<std::string> lines;
    for (int i = 0; i < 100000; ++i) {
      lines.push_back("line " + std::to_string(i) + " value " + std::to_string(random() % 1000) +
                      "\n");
    }
    for (const auto& line : lines) old_text += line;
    std::vector<int> order(lines.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    std::shuffle(order.begin(), order.end(), random);
    for (int k = 0; k < 10000; ++k) lines[order[k]] = numbered("changed ", k);
    for (const auto& line : lines) new_text += line;
    git_in(dir.path, {"init", "-q"});
    write_file(dir.path / "big.txt", old_text);
    write_file(dir.path / "old.txt", old_text);
    git_in(dir.path, {"add", "big.txt"});
    git_in(dir.path, {"commit", "-q", "-m", "big"});
    write_file(dir.path / "big.txt", new_text);
    auto id = run_process({"git", "rev-parse", "HEAD"}, dir.path.string());
    head = id->out.substr(0, 40);
  }
};

DiffFile& diff_file() {
  static DiffFile file;
  return file;
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

size_t changed_lines(const std::vector<HunkLine>& lines) {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [](const HunkLine& line) {
    return line.status != HunkLineStatus::Unchanged;
  }));
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

void BM_WipDiff(benchmark::State& state) {
  auto& file = diff_file();
  WipPatch patch;
  patch.old_file = patch.new_file = "big.txt";
  patch.patch_type = WipPatchType::M;
  for (auto _ : state) {
    auto lines = load_wip_diff(file.dir.path.string(), patch, file.head);
    if (!lines || lines->size() != 110000) state.SkipWithError("unexpected diff");
    benchmark::DoNotOptimize(lines);
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

void BM_BareGitDiffNoIndex(benchmark::State& state) {
  auto& file = diff_file();
  for (auto _ : state) {
    auto out =
        run_process({"git", "diff", "--no-index", "old.txt", "big.txt"}, file.dir.path.string());
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

}  // namespace
}  // namespace brackwen
