// The request records: what each "/f/" endpoint reads from its body.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/action.hpp"
#include "model/commit.hpp"
#include "model/commit_filter.hpp"
#include "model/patch.hpp"

namespace brackwen {

enum class AutoCompleteKind { CommitMessage, CreateBranch };

struct ReqOptions {
  std::string repo_path;
  bool operator==(const ReqOptions&) const = default;
};

struct RunOptions {
  std::string repo_path;
  std::vector<std::string> args;
  bool operator==(const RunOptions&) const = default;
};

struct ScanOptions {
  std::string repo_path;
  bool workspaces_enabled = false;
  bool operator==(const ScanOptions&) const = default;
};

struct ReqHunkOptions {
  std::string repo_path;
  Commit commit;
  Patch patch;
  bool operator==(const ReqHunkOptions&) const = default;
};

struct ReqWipHunksOptions {
  std::string repo_path;
  WipPatch patch;
  std::optional<Commit> head_commit;  // the only request field that may be left out
  bool operator==(const ReqWipHunksOptions&) const = default;
};

// The history view's query is the model's own record.
using ReqCommitsOptions2 = HistoryQuery;

struct TopCommitOptions {
  std::string repo_path;
  std::string branch_name;
  bool operator==(const TopCommitOptions&) const = default;
};

struct CommitDiffOpts {
  std::string repo_path;
  std::string commit_id1;
  std::string commit_id2;
  bool operator==(const CommitDiffOpts&) const = default;
};

struct RefDiffOptions {
  std::string repo_path;
  std::string head_commit_id;
  bool operator==(const RefDiffOptions&) const = default;
};

struct CodeSearchOpts {
  std::string repo_path;
  std::string search_text;
  uint64_t num_results = 0;
  uint64_t start_commit_index = 0;
  bool operator==(const CodeSearchOpts&) const = default;
};

struct PollSearchOpts {
  uint32_t search_id = 0;
  bool operator==(const PollSearchOpts&) const = default;
};

struct ReqPatchesForCommitOpts {
  std::string repo_path;
  std::string commit_id;
  bool operator==(const ReqPatchesForCommitOpts&) const = default;
};

struct SearchOptions {
  std::string repo_path;
  std::string search_text;
  uint64_t num_results = 0;
  bool operator==(const SearchOptions&) const = default;
};

struct CommitAncestorOpts {
  std::string repo_path;
  std::string commit_id;
  std::string ancestor_candidate_id;
  bool operator==(const CommitAncestorOpts&) const = default;
};

struct CommitOnBranchOpts {
  std::string repo_path;
  std::string commit_id;
  bool operator==(const CommitOnBranchOpts&) const = default;
};

struct LoadConflictOptions {
  std::string repo_path;
  WipPatch patch;
  bool operator==(const LoadConflictOptions&) const = default;
};

struct ReqImageOptions {
  std::string repo_path;
  std::string commit_id;
  std::string original_image_path;
  std::string temp_image_path;
  bool operator==(const ReqImageOptions&) const = default;
};

// The word comes first, before the repository.
struct MessageAC {
  std::string current_word;
  std::string repo_path;
  uint64_t max_num = 0;
  AutoCompleteKind kind = AutoCompleteKind::CommitMessage;
  bool operator==(const MessageAC&) const = default;
};

struct WatchRepoOptions {
  std::vector<std::string> repo_paths;
  std::string root_repo;
  bool start_changed = false;
  bool operator==(const WatchRepoOptions&) const = default;
};

struct CommandOptions {
  std::string repo_path;
  std::vector<std::string> args;
  bool operator==(const CommandOptions&) const = default;
};

struct CommandsOptions {
  std::string repo_path;
  std::vector<std::vector<std::string>> commands;
  bool operator==(const CommandsOptions&) const = default;
};

struct CloneOptions {
  std::string repo_path;
  std::string url;
  bool operator==(const CloneOptions&) const = default;
};

struct Credentials {
  std::string username;
  std::string password;
  bool operator==(const Credentials&) const = default;
};

struct StashStagedOptions {
  std::string repo_path;
  std::string head_commit_id;
  bool operator==(const StashStagedOptions&) const = default;
};

struct PollOptions {
  ActionId action_id = 0;
  bool operator==(const PollOptions&) const = default;
};

struct WriteFileOpts {
  std::string file_path;
  std::string content;
  bool operator==(const WriteFileOpts&) const = default;
};

struct DataStoreValues {
  std::unordered_map<std::string, std::string> data;
  bool operator==(const DataStoreValues&) const = default;
};

}  // namespace brackwen
