// What the front end may send to each "/f/" endpoint and what it may get back, written out
// independently of the readers so that the sweep checks them instead of mirroring them.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace brackwen::test {

enum class FieldKind {
  Repo,      // a repository's working directory
  Path,      // any other file-system path (a file to write, a folder to scan, a home)
  NewDir,    // a directory the endpoint creates
  PathList,  // list of repository paths
  Text,      // commit ids, ref names, search texts, urls, credentials
  Args,      // git's arguments, passed through by design
  Commands,  // lists of git arguments
  U32,
  U64,
  Bool,
  Commit,
  OptCommit,  // a Commit, null, or absent
  Patch,
  WipPatch,
  Filters,  // list of CommitFilter
  AcKind,   // AutoCompleteKind
  Data,     // map of text to text
};

struct FieldShape {
  std::string key;
  FieldKind kind;
};

// JSON kinds a reply may have.
enum ReplyKind : unsigned {
  kNull = 1,
  kBool = 2,
  kNumber = 4,
  kString = 8,
  kArray = 16,
  kObject = 32,
};

struct EndpointShape {
  std::string path;          // after "/f/"
  bool bare_string = false;  // the body is one JSON string, not a record
  std::vector<FieldShape> fields;
  unsigned replies = 0;
  std::string first_key;  // of an object reply; alternatives separated by "|"
  // The reply whatever the accepted body, when fixed.
  std::string always;
  // The reply when the repository path names no usable repository, when fixed.
  std::string unusable_repo;
  bool starts_action = false;
};

// Designated initializers leave the fields an endpoint does not need at their defaults.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
inline const std::vector<EndpointShape>& endpoint_shapes() {
  using K = FieldKind;
  static const std::vector<EndpointShape> shapes = {
      {.path = "load_commits_and_refs",
       .fields = {{"repoPath", K::Repo},
                  {"numCommits", K::U32},
                  {"filters", K::Filters},
                  {"fast", K::Bool},
                  {"skipStashes", K::Bool}},
       .replies = kNull | kArray,
       .unusable_repo = "null"},
      {.path = "load_head_commit",
       .fields = {{"repoPath", K::Repo}},
       .replies = kNull | kObject,
       .first_key = "author",
       .unusable_repo = "null"},
      {.path = "load_top_commit_for_branch",
       .fields = {{"repoPath", K::Repo}, {"branchName", K::Text}},
       .replies = kNull | kObject,
       .first_key = "author",
       .unusable_repo = "null"},
      {.path = "git_version",
       .fields = {{"repoPath", K::Repo}},
       .replies = kNull | kObject,
       .first_key = "major"},
      {.path = "commit_is_ancestor",
       .fields = {{"repoPath", K::Repo}, {"commitId", K::Text}, {"ancestorCandidateId", K::Text}},
       .replies = kBool,
       .unusable_repo = "false"},
      {.path = "commit_is_on_branch",
       .fields = {{"repoPath", K::Repo}, {"commitId", K::Text}},
       .replies = kBool | kNull,
       .unusable_repo = "null"},
      {.path = "get_all_commits_on_current_branch",
       .fields = {{"repoPath", K::Repo}},
       .replies = kNull | kArray,
       .unusable_repo = "null"},
      {.path = "commit_ids_between_commits",
       .fields = {{"repoPath", K::Repo}, {"commitId1", K::Text}, {"commitId2", K::Text}},
       .replies = kNull | kArray,
       .unusable_repo = "null"},
      {.path = "get_un_pushed_commits",
       .fields = {{"repoPath", K::Repo}},
       .replies = kObject,
       .first_key = "thisBranch",
       .unusable_repo = R"({"thisBranch":[],"allBranches":[]})"},
      {.path = "calc_head_info",
       .fields = {{"repoPath", K::Repo}},
       .replies = kNull | kObject,
       .first_key = "ref",
       .unusable_repo = "null"},
      {.path = "calc_ref_diffs",
       .fields = {{"repoPath", K::Repo}, {"headCommitId", K::Text}},
       .replies = kNull | kArray,
       .unusable_repo = "null"},
      {.path = "is_merge_in_progress",
       .fields = {{"repoPath", K::Repo}},
       .replies = kString | kNull,
       .unusable_repo = "null"},
      {.path = "is_rebase_in_progress",
       .fields = {{"repoPath", K::Repo}},
       .replies = kBool,
       .unusable_repo = "false"},
      {.path = "load_patches_for_commit",
       .fields = {{"repoPath", K::Repo}, {"commitId", K::Text}},
       .replies = kNull | kArray,
       .unusable_repo = "null"},
      {.path = "search_commits",
       .fields = {{"repoPath", K::Repo}, {"searchText", K::Text}, {"numResults", K::U64}},
       .replies = kNull | kArray,
       .unusable_repo = "null"},
      {.path = "start_diff_search",
       .fields = {{"repoPath", K::Repo},
                  {"searchText", K::Text},
                  {"numResults", K::U64},
                  {"startCommitIndex", K::U64}},
       .replies = kNumber},
      {.path = "poll_diff_search",
       .fields = {{"searchId", K::U32}},
       .replies = kObject,
       .first_key = "searchId"},
      {.path = "clear_cache",
       .fields = {{"repoPath", K::Repo}},
       .replies = kNull,
       .always = "null"},
      {.path = "load_wip_patches",
       .fields = {{"repoPath", K::Repo}},
       .replies = kNull | kArray,
       .unusable_repo = "null"},
      {.path = "load_hunks",
       .fields = {{"repoPath", K::Repo}, {"commit", K::Commit}, {"patch", K::Patch}},
       .replies = kNull | kArray,
       .unusable_repo = "null"},
      {.path = "load_wip_hunks",
       .fields = {{"repoPath", K::Repo}, {"patch", K::WipPatch}, {"headCommit", K::OptCommit}},
       .replies = kNull | kArray,
       .unusable_repo = "null"},
      {.path = "load_wip_hunk_lines",
       .fields = {{"repoPath", K::Repo}, {"patch", K::WipPatch}, {"headCommit", K::OptCommit}},
       .replies = kNull | kArray,
       .unusable_repo = "null"},
      {.path = "load_full_config",
       .fields = {{"repoPath", K::Repo}},
       .replies = kNull | kObject,
       .first_key = "entries",
       .unusable_repo = "null"},
      {.path = "load_conflicted_file",
       .fields = {{"repoPath", K::Repo}, {"patch", K::WipPatch}},
       .replies = kNull | kObject,
       .first_key = "lines",
       .unusable_repo = "null"},
      {.path = "run",
       .fields = {{"repoPath", K::Repo}, {"args", K::Args}},
       .replies = kNull | kString,
       .unusable_repo = "null"},
      {.path = "load_commit_image",
       .fields = {{"repoPath", K::Repo},
                  {"commitId", K::Text},
                  {"originalImagePath", K::Text},
                  {"tempImagePath", K::Path}},
       .replies = kBool,
       .unusable_repo = "false"},
      {.path = "command",
       .fields = {{"repoPath", K::Repo}, {"args", K::Args}},
       .replies = kNumber,
       .starts_action = true},
      {.path = "commands",
       .fields = {{"repoPath", K::Repo}, {"commands", K::Commands}},
       .replies = kNumber,
       .starts_action = true},
      {.path = "stash_changes",
       .fields = {{"repoPath", K::Repo}},
       .replies = kNumber,
       .starts_action = true},
      {.path = "fetch_all",
       .fields = {{"repoPath", K::Repo}},
       .replies = kNumber,
       .starts_action = true},
      {.path = "create_repo",
       .fields = {{"repoPath", K::NewDir}},
       .replies = kNumber,
       .starts_action = true},
      {.path = "clone_repo",
       .fields = {{"repoPath", K::NewDir}, {"url", K::Text}},
       .replies = kNumber,
       .starts_action = true},
      {.path = "stash_staged",
       .fields = {{"repoPath", K::Repo}, {"headCommitId", K::Text}},
       .replies = kNumber,
       .starts_action = true},
      {.path = "poll_action2",
       .fields = {{"actionId", K::U32}},
       .replies = kNull | kObject,
       .first_key = "stdout"},
      {.path = "set_credentials",
       .fields = {{"username", K::Text}, {"password", K::Text}},
       .replies = kNull,
       .always = "null"},
      {.path = "override_git_home",
       .fields = {{"repoPath", K::Path}},
       .replies = kNull,
       .always = "null"},
      {.path = "watch_repo",
       .fields = {{"repoPaths", K::PathList}, {"rootRepo", K::Path}, {"startChanged", K::Bool}},
       .replies = kNull,
       .always = "null"},
      {.path = "stop_watching_repo",
       .fields = {{"repoPath", K::Repo}},
       .replies = kNull,
       .always = "null"},
      {.path = "repo_has_changed",
       .fields = {{"repoPath", K::Repo}},
       .replies = kBool | kNull,
       .unusable_repo = "null"},
      {.path = "clear_repo_changed_status",
       .fields = {{"repoPath", K::Repo}},
       .replies = kNull,
       .always = "null"},
      {.path = "clear_all_caches",
       .fields = {{"repoPath", K::Repo}},
       .replies = kNull,
       .always = "null"},
      {.path = "auto_complete",
       .fields = {{"currentWord", K::Text},
                  {"repoPath", K::Repo},
                  {"maxNum", K::U64},
                  {"kind", K::AcKind}},
       .replies = kNull | kArray,
       .unusable_repo = "null"},
      {.path = "scan_workspace",
       .fields = {{"repoPath", K::Path}, {"workspacesEnabled", K::Bool}},
       .replies = kArray},
      {.path = "get_data_store",
       .fields = {{"repoPath", K::Repo}},
       .replies = kObject,
       .first_key = "config|error"},
      {.path = "set_data_store",
       .fields = {{"data", K::Data}},
       .replies = kObject,
       .first_key = "success"},
      {.path = "path_exists", .bare_string = true, .fields = {{"", K::Path}}, .replies = kBool},
      {.path = "temp_dir",
       .bare_string = true,
       .fields = {{"", K::Text}},
       .replies = kString | kNull},
      {.path = "file_size",
       .bare_string = true,
       .fields = {{"", K::Path}},
       .replies = kNumber | kNull},
      {.path = "write_file",
       .fields = {{"filePath", K::Path}, {"content", K::Text}},
       .replies = kBool | kNull},
  };
  return shapes;
}
#pragma GCC diagnostic pop

inline const EndpointShape* find_shape(std::string_view path) {
  for (const auto& shape : endpoint_shapes()) {
    if (shape.path == path) return &shape;
  }
  return nullptr;
}

}  // namespace brackwen::test
