// The JSON form of the request records. Requests are only read, but the tables serve the
// writer too (tests round-trip every record).
#pragma once
#include <array>
#include <string_view>
#include <tuple>

#include "api_types/json_fields.hpp"
#include "api_types/records_json.hpp"
#include "api_types/requests.hpp"

namespace brackwen {

// The variant fields of a filter keep the front end's underscores.
template <>
struct JsonVariants<CommitFilter> {
  static constexpr std::string_view name = "CommitFilter";
  static constexpr auto variants = std::tuple{
      json_struct_variant("branch", "Branch", CommitFilter::Kind::Branch,
                          json_field("id", &CommitFilter::id),
                          json_field("short_name", &CommitFilter::short_name)),
      json_struct_variant("user", "User", CommitFilter::Kind::User,
                          json_field("author", &CommitFilter::author),
                          json_field("email", &CommitFilter::email)),
      json_struct_variant("commit", "Commit", CommitFilter::Kind::Commit,
                          json_field("commit_id", &CommitFilter::commit_id)),
      json_struct_variant("file", "File", CommitFilter::Kind::File,
                          json_field("file_name", &CommitFilter::file_name)),
  };
};

template <>
struct JsonEnum<AutoCompleteKind> {
  static constexpr std::array<std::string_view, 2> names = {"commitMessage", "createBranch"};
};

template <>
struct JsonRecord<ReqOptions> {
  static constexpr std::string_view name = "ReqOptions";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &ReqOptions::repo_path),
  };
};

template <>
struct JsonRecord<RunOptions> {
  static constexpr std::string_view name = "RunOptions";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &RunOptions::repo_path),
      json_field("args", &RunOptions::args),
  };
};

template <>
struct JsonRecord<ScanOptions> {
  static constexpr std::string_view name = "ScanOptions";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &ScanOptions::repo_path),
      json_field("workspacesEnabled", &ScanOptions::workspaces_enabled),
  };
};

template <>
struct JsonRecord<ReqHunkOptions> {
  static constexpr std::string_view name = "ReqHunkOptions";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &ReqHunkOptions::repo_path),
      json_field("commit", &ReqHunkOptions::commit),
      json_field("patch", &ReqHunkOptions::patch),
  };
};

template <>
struct JsonRecord<ReqWipHunksOptions> {
  static constexpr std::string_view name = "ReqWipHunksOptions";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &ReqWipHunksOptions::repo_path),
      json_field("patch", &ReqWipHunksOptions::patch),
      json_field_may_be_absent("headCommit", &ReqWipHunksOptions::head_commit),
  };
};

template <>
struct JsonRecord<ReqCommitsOptions2> {
  static constexpr std::string_view name = "ReqCommitsOptions2";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &ReqCommitsOptions2::repo_path),
      json_field("numCommits", &ReqCommitsOptions2::num_commits),
      json_field("filters", &ReqCommitsOptions2::filters),
      json_field("fast", &ReqCommitsOptions2::fast),
      json_field("skipStashes", &ReqCommitsOptions2::skip_stashes),
  };
};

template <>
struct JsonRecord<TopCommitOptions> {
  static constexpr std::string_view name = "TopCommitOptions";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &TopCommitOptions::repo_path),
      json_field("branchName", &TopCommitOptions::branch_name),
  };
};

template <>
struct JsonRecord<CommitDiffOpts> {
  static constexpr std::string_view name = "CommitDiffOpts";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &CommitDiffOpts::repo_path),
      json_field("commitId1", &CommitDiffOpts::commit_id1),
      json_field("commitId2", &CommitDiffOpts::commit_id2),
  };
};

template <>
struct JsonRecord<RefDiffOptions> {
  static constexpr std::string_view name = "RefDiffOptions";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &RefDiffOptions::repo_path),
      json_field("headCommitId", &RefDiffOptions::head_commit_id),
  };
};

template <>
struct JsonRecord<CodeSearchOpts> {
  static constexpr std::string_view name = "CodeSearchOpts";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &CodeSearchOpts::repo_path),
      json_field("searchText", &CodeSearchOpts::search_text),
      json_field("numResults", &CodeSearchOpts::num_results),
      json_field("startCommitIndex", &CodeSearchOpts::start_commit_index),
  };
};

template <>
struct JsonRecord<PollSearchOpts> {
  static constexpr std::string_view name = "PollSearchOpts";
  static constexpr auto fields = std::tuple{
      json_field("searchId", &PollSearchOpts::search_id),
  };
};

template <>
struct JsonRecord<ReqPatchesForCommitOpts> {
  static constexpr std::string_view name = "ReqPatchesForCommitOpts";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &ReqPatchesForCommitOpts::repo_path),
      json_field("commitId", &ReqPatchesForCommitOpts::commit_id),
  };
};

template <>
struct JsonRecord<SearchOptions> {
  static constexpr std::string_view name = "SearchOptions";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &SearchOptions::repo_path),
      json_field("searchText", &SearchOptions::search_text),
      json_field("numResults", &SearchOptions::num_results),
  };
};

template <>
struct JsonRecord<CommitAncestorOpts> {
  static constexpr std::string_view name = "CommitAncestorOpts";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &CommitAncestorOpts::repo_path),
      json_field("commitId", &CommitAncestorOpts::commit_id),
      json_field("ancestorCandidateId", &CommitAncestorOpts::ancestor_candidate_id),
  };
};

template <>
struct JsonRecord<CommitOnBranchOpts> {
  static constexpr std::string_view name = "CommitOnBranchOpts";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &CommitOnBranchOpts::repo_path),
      json_field("commitId", &CommitOnBranchOpts::commit_id),
  };
};

template <>
struct JsonRecord<LoadConflictOptions> {
  static constexpr std::string_view name = "LoadConflictOptions";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &LoadConflictOptions::repo_path),
      json_field("patch", &LoadConflictOptions::patch),
  };
};

template <>
struct JsonRecord<ReqImageOptions> {
  static constexpr std::string_view name = "ReqImageOptions";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &ReqImageOptions::repo_path),
      json_field("commitId", &ReqImageOptions::commit_id),
      json_field("originalImagePath", &ReqImageOptions::original_image_path),
      json_field("tempImagePath", &ReqImageOptions::temp_image_path),
  };
};

template <>
struct JsonRecord<MessageAC> {
  static constexpr std::string_view name = "MessageAC";
  static constexpr auto fields = std::tuple{
      json_field("currentWord", &MessageAC::current_word),
      json_field("repoPath", &MessageAC::repo_path),
      json_field("maxNum", &MessageAC::max_num),
      json_field("kind", &MessageAC::kind),
  };
};

template <>
struct JsonRecord<WatchRepoOptions> {
  static constexpr std::string_view name = "WatchRepoOptions";
  static constexpr auto fields = std::tuple{
      json_field("repoPaths", &WatchRepoOptions::repo_paths),
      json_field("rootRepo", &WatchRepoOptions::root_repo),
      json_field("startChanged", &WatchRepoOptions::start_changed),
  };
};

template <>
struct JsonRecord<CommandOptions> {
  static constexpr std::string_view name = "CommandOptions";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &CommandOptions::repo_path),
      json_field("args", &CommandOptions::args),
  };
};

template <>
struct JsonRecord<CommandsOptions> {
  static constexpr std::string_view name = "CommandsOptions";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &CommandsOptions::repo_path),
      json_field("commands", &CommandsOptions::commands),
  };
};

template <>
struct JsonRecord<CloneOptions> {
  static constexpr std::string_view name = "CloneOptions";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &CloneOptions::repo_path),
      json_field("url", &CloneOptions::url),
  };
};

template <>
struct JsonRecord<Credentials> {
  static constexpr std::string_view name = "Credentials";
  static constexpr auto fields = std::tuple{
      json_field("username", &Credentials::username),
      json_field("password", &Credentials::password),
  };
};

template <>
struct JsonRecord<StashStagedOptions> {
  static constexpr std::string_view name = "StashStagedOptions";
  static constexpr auto fields = std::tuple{
      json_field("repoPath", &StashStagedOptions::repo_path),
      json_field("headCommitId", &StashStagedOptions::head_commit_id),
  };
};

template <>
struct JsonRecord<PollOptions> {
  static constexpr std::string_view name = "PollOptions";
  static constexpr auto fields = std::tuple{
      json_field("actionId", &PollOptions::action_id),
  };
};

template <>
struct JsonRecord<WriteFileOpts> {
  static constexpr std::string_view name = "WriteFileOpts";
  static constexpr auto fields = std::tuple{
      json_field("filePath", &WriteFileOpts::file_path),
      json_field("content", &WriteFileOpts::content),
  };
};

template <>
struct JsonRecord<DataStoreValues> {
  static constexpr std::string_view name = "DataStoreValues";
  static constexpr auto fields = std::tuple{
      json_field("data", &DataStoreValues::data),
  };
};

}  // namespace brackwen
