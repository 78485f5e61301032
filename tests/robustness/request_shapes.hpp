// What the front end may send to each "/f/" endpoint and what it may get back, written out
// independently of the readers so that the sweep checks them instead of mirroring them.
#pragma once
#include <algorithm>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace brackwen::test {

// Repo is a repository's working directory, Path any other path, NewDir one the endpoint
// creates; Args are git's arguments, passed through by design; OptCommit may be null or absent.
// clang-format off
enum class FieldKind { Repo, Path, NewDir, PathList, Text, Args, Commands, U32, U64, Bool, Commit,
                       OptCommit, Patch, WipPatch, Filters, AcKind, Data };
// clang-format on

struct FieldShape {
  std::string key;
  FieldKind kind;
};

enum ReplyKind { kNull = 1, kBool = 2, kNumber = 4, kString = 8, kArray = 16, kObject = 32 };

struct EndpointShape {
  std::string path;  // after "/f/"
  unsigned replies = 0;
  std::string first_key;      // of an object reply; alternatives separated by "|"
  std::string unusable_repo;  // the fixed reply when the path names no usable repository
  std::string always;         // the fixed reply whatever the accepted body
  bool starts_action = false;
  bool bare_string = false;  // the body is one JSON string, not a record
  std::vector<FieldShape> fields = {};
};

// `fields` as "key:Kind" words, in the order of the kinds above; a bare string has key "".
inline EndpointShape shape(std::string path, const std::string& fields, unsigned replies,
                           std::string first_key = "", std::string unusable_repo = "",
                           std::string always = "", bool starts_action = false,
                           bool bare_string = false) {
  static const std::vector<std::string> kinds = {
      "Repo", "Path",   "NewDir",    "PathList", "Text",     "Args",    "Commands", "U32", "U64",
      "Bool", "Commit", "OptCommit", "Patch",    "WipPatch", "Filters", "AcKind",   "Data"};
  EndpointShape out{
      std::move(path),   replies,       std::move(first_key), std::move(unusable_repo),
      std::move(always), starts_action, bare_string};
  std::istringstream words(fields);
  for (std::string word; words >> word;) {
    size_t colon = word.find(':');
    size_t kind = std::find(kinds.begin(), kinds.end(), word.substr(colon + 1)) - kinds.begin();
    out.fields.push_back({word.substr(0, colon), static_cast<FieldKind>(kind)});
  }
  return out;
}

inline const std::vector<EndpointShape>& endpoint_shapes() {
  static const std::vector<EndpointShape> shapes = {
      shape("load_commits_and_refs",
            "repoPath:Repo numCommits:U32 filters:Filters fast:Bool skipStashes:Bool",
            kNull | kArray, "", "null"),
      shape("load_head_commit", "repoPath:Repo", kNull | kObject, "author", "null"),
      shape("load_top_commit_for_branch", "repoPath:Repo branchName:Text", kNull | kObject,
            "author", "null"),
      shape("git_version", "repoPath:Repo", kNull | kObject, "major"),
      shape("commit_is_ancestor", "repoPath:Repo commitId:Text ancestorCandidateId:Text", kBool, "",
            "false"),
      shape("commit_is_on_branch", "repoPath:Repo commitId:Text", kBool | kNull, "", "null"),
      shape("get_all_commits_on_current_branch", "repoPath:Repo", kNull | kArray, "", "null"),
      shape("commit_ids_between_commits", "repoPath:Repo commitId1:Text commitId2:Text",
            kNull | kArray, "", "null"),
      shape("get_un_pushed_commits", "repoPath:Repo", kObject, "thisBranch",
            R"({"thisBranch":[],"allBranches":[]})"),
      shape("calc_head_info", "repoPath:Repo", kNull | kObject, "ref", "null"),
      shape("calc_ref_diffs", "repoPath:Repo headCommitId:Text", kNull | kArray, "", "null"),
      shape("is_merge_in_progress", "repoPath:Repo", kString | kNull, "", "null"),
      shape("is_rebase_in_progress", "repoPath:Repo", kBool, "", "false"),
      shape("load_patches_for_commit", "repoPath:Repo commitId:Text", kNull | kArray, "", "null"),
      shape("search_commits", "repoPath:Repo searchText:Text numResults:U64", kNull | kArray, "",
            "null"),
      shape("start_diff_search",
            "repoPath:Repo searchText:Text numResults:U64 startCommitIndex:U64", kNumber),
      shape("poll_diff_search", "searchId:U32", kObject, "searchId"),
      shape("clear_cache", "repoPath:Repo", kNull, "", "", "null"),
      shape("load_wip_patches", "repoPath:Repo", kNull | kArray, "", "null"),
      shape("load_hunks", "repoPath:Repo commit:Commit patch:Patch", kNull | kArray, "", "null"),
      shape("load_wip_hunks", "repoPath:Repo patch:WipPatch headCommit:OptCommit", kNull | kArray,
            "", "null"),
      shape("load_wip_hunk_lines", "repoPath:Repo patch:WipPatch headCommit:OptCommit",
            kNull | kArray, "", "null"),
      shape("load_full_config", "repoPath:Repo", kNull | kObject, "entries", "null"),
      shape("load_conflicted_file", "repoPath:Repo patch:WipPatch", kNull | kObject, "lines",
            "null"),
      shape("run", "repoPath:Repo args:Args", kNull | kString, "", "null"),
      shape("load_commit_image",
            "repoPath:Repo commitId:Text originalImagePath:Text tempImagePath:Path", kBool, "",
            "false"),
      shape("command", "repoPath:Repo args:Args", kNumber, "", "", "", true),
      shape("commands", "repoPath:Repo commands:Commands", kNumber, "", "", "", true),
      shape("stash_changes", "repoPath:Repo", kNumber, "", "", "", true),
      shape("fetch_all", "repoPath:Repo", kNumber, "", "", "", true),
      shape("create_repo", "repoPath:NewDir", kNumber, "", "", "", true),
      shape("clone_repo", "repoPath:NewDir url:Text", kNumber, "", "", "", true),
      shape("stash_staged", "repoPath:Repo headCommitId:Text", kNumber, "", "", "", true),
      shape("poll_action2", "actionId:U32", kNull | kObject, "stdout"),
      shape("set_credentials", "username:Text password:Text", kNull, "", "", "null"),
      shape("override_git_home", "repoPath:Path", kNull, "", "", "null"),
      shape("watch_repo", "repoPaths:PathList rootRepo:Path startChanged:Bool", kNull, "", "",
            "null"),
      shape("stop_watching_repo", "repoPath:Repo", kNull, "", "", "null"),
      shape("repo_has_changed", "repoPath:Repo", kBool | kNull, "", "null"),
      shape("clear_repo_changed_status", "repoPath:Repo", kNull, "", "", "null"),
      shape("clear_all_caches", "repoPath:Repo", kNull, "", "", "null"),
      shape("auto_complete", "currentWord:Text repoPath:Repo maxNum:U64 kind:AcKind",
            kNull | kArray, "", "null"),
      shape("scan_workspace", "repoPath:Path workspacesEnabled:Bool", kArray),
      shape("get_data_store", "repoPath:Repo", kObject, "config|error"),
      shape("set_data_store", "data:Data", kObject, "success"),
      shape("path_exists", ":Path", kBool, "", "", "", false, true),
      shape("temp_dir", ":Text", kString | kNull, "", "", "", false, true),
      shape("file_size", ":Path", kNumber | kNull, "", "", "", false, true),
      shape("write_file", "filePath:Path content:Text", kBool | kNull),
  };
  return shapes;
}

inline const EndpointShape* find_shape(std::string_view path) {
  auto& shapes = endpoint_shapes();
  auto at = std::ranges::find(shapes, path, &EndpointShape::path);
  return at == shapes.end() ? nullptr : &*at;
}

}  // namespace brackwen::test
