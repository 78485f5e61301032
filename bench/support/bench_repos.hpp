// The benchmarks' repositories: generated once with git fast-import and kept in a cache
// directory outside the source tree, one directory per kind, shape and generator version.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace brackwen::bench {

// Plain: one-line messages from a few dozen ASCII authors, one file per commit, a merge of a
// single side commit every n-th main-line commit.
// Realistic: as a large project's history reads. Messages of several hundred bytes (subject,
// wrapped paragraphs, trailers), one in 500 tens of KB long, one in 2,000 in Latin-1 (bytes
// that are not UTF-8); a few hundred authors, some with accented or CJK names; topic branches
// of one to three commits forked a little behind the tip and merged every few commits; a tree
// whose every file exists from the first commit, each commit changing a handful of them.
enum class HistoryStyle { Plain, Realistic };

// A history like a busy shared repository's: a main line with merges, topic branches forked
// all along it (most with a counterpart on origin, some ahead, some behind, some diverged),
// tags (half of them annotated) and stash entries near the tip.
struct HistoryShape {
  HistoryStyle style = HistoryStyle::Plain;
  uint32_t commits = 0;   // reachable from the branches, tags and remote-tracking refs
  uint32_t branches = 0;  // local branches besides main
  uint32_t tags = 0;
  uint32_t stashes = 0;
  // Plain: every n-th main-line commit merges a side commit. Realistic: one commit in n, on
  // average, merges a topic branch.
  uint32_t merge_every = 0;
  uint32_t files = 0;  // Plain: files the commits change. Realistic: files of the tree.
  // Realistic: the most files an ordinary commit changes; one commit in ten changes up to
  // five times as many.
  uint32_t files_per_commit = 0;
};

// One commit of `files` files in a checked-out tree, then `modified` of them changed and
// `untracked` new files beside them.
struct WorkTreeShape {
  uint32_t files = 0;
  uint32_t modified = 0;
  uint32_t untracked = 0;
};

// One committed file of `lines` lines whose working copy has `changed` of them replaced.
struct BigFileShape {
  uint32_t lines = 0;
  uint32_t changed = 0;
};

// A superproject with submodules. Numbered: `files` files in directories of a hundred.
// GitLike: git's own source tree as its shape goes (its directories, how many files each holds,
// files of a few KB), about `files` files in all. `modified` of its files changed and
// `untracked` new ones beside them.
enum class TreeLayout { Numbered, GitLike };
struct SubmoduleTreeShape {
  TreeLayout layout = TreeLayout::Numbered;
  uint32_t files = 0;
  uint32_t modified = 0;
  uint32_t untracked = 0;
  // Submodules checked out, each inside the one before, each of `submodule_files` files with
  // one of them changed. 0: one gitlink whose folder is empty, as git's own tree has it where
  // its submodule was never checked out.
  uint32_t nested = 0;
  uint32_t submodule_files = 0;
};

struct Scale {
  std::string name;
  HistoryShape history;            // plain
  HistoryShape realistic_history;  // as large as `history`, realistic
  // Realistic, with topics that change tens of files each and a merge every few commits: the
  // changed files of the whole history cost mostly one `git diff` per merge.
  HistoryShape many_merges;
  WorkTreeShape work_tree;
  BigFileShape big_file;
  // A large work tree with one submodule, a tree like git's own, a small one with nested
  // submodules.
  SubmoduleTreeShape large_with_submodule;
  SubmoduleTreeShape git_like;
  SubmoduleTreeShape nested_submodules;
};

// "full": what `make bench` measures. "small": the same shapes a few thousand commits and a
// few hundred files large, for the smoke test.
std::optional<Scale> scale_named(std::string_view name);
// The scale BRACKWEN_BENCH_SCALE names, "full" when it is unset or names none.
Scale scale_from_environment();

// $BRACKWEN_BENCH_CACHE; else $XDG_CACHE_HOME/brackwen-bench when that is absolute; else
// /tmp/brackwen-bench.
std::filesystem::path default_cache_root();

// Makes git in this process and its children (the server included) read no system or global
// configuration, so that the generated repositories and the bare runs are the same
// everywhere.
void isolate_git_config();

// Each function returns the repository's working directory, generating it under `root` when
// it is not there yet. Generation happens in a private directory that is renamed into place
// at the end, so concurrent or interrupted runs never see half a repository. Throws
// std::runtime_error when git fails.
std::filesystem::path history_repo(const std::filesystem::path& root, const HistoryShape& shape);
std::filesystem::path work_tree_repo(const std::filesystem::path& root, const WorkTreeShape& shape);

std::filesystem::path submodule_tree_repo(const std::filesystem::path& root,
                                          const SubmoduleTreeShape& shape);

// The entries `git status --porcelain` shows in such a repository: the changed files and, when
// submodules are checked out, the first, whose content changed.
uint32_t submodule_tree_changes(const SubmoduleTreeShape& shape);

struct BigFileRepo {
  std::filesystem::path dir;
  std::string file;                      // relative to `dir`
  std::filesystem::path committed_copy;  // the committed text, outside the working tree
};
BigFileRepo big_file_repo(const std::filesystem::path& root, const BigFileShape& shape);

}  // namespace brackwen::bench
