// The benchmarks' repositories: generated once with git fast-import and kept in a cache
// directory outside the source tree, one directory per kind, shape and generator version.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace brackwen::bench {

// A history like a busy shared repository's: a main line with merged side commits, topic
// branches forked all along it (most with a counterpart on origin, some ahead, some behind,
// some diverged), tags (half of them annotated) and stash entries near the tip.
struct HistoryShape {
  uint32_t commits = 0;   // reachable from the branches, tags and remote-tracking refs
  uint32_t branches = 0;  // local branches besides main
  uint32_t tags = 0;
  uint32_t stashes = 0;
  uint32_t merge_every = 0;  // every n-th main-line commit merges a side commit
  uint32_t files = 0;        // files the commits change
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

struct Scale {
  std::string name;
  HistoryShape history;
  WorkTreeShape work_tree;
  BigFileShape big_file;
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

struct BigFileRepo {
  std::filesystem::path dir;
  std::string file;                      // relative to `dir`
  std::filesystem::path committed_copy;  // the committed text, outside the working tree
};
BigFileRepo big_file_repo(const std::filesystem::path& root, const BigFileShape& shape);

}  // namespace brackwen::bench
