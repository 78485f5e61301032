// The marker files of a merge or rebase in progress, read without running git.
#include "git/queries/merge_rebase.hpp"

#include <sys/stat.h>

#include <string_view>

#include "git/file_io.hpp"
#include "parser/standard_parsers.hpp"
#include "parser/utf8.hpp"

namespace brackwen {
namespace {

// One "/" between the parts unless the left one ends with it; an empty left part leaves the
// path relative to the current directory.
std::string join_path(const std::string& left, std::string_view right) {
  if (left.empty()) return std::string(right);
  if (left.ends_with('/')) return left + std::string(right);
  return left + "/" + std::string(right);
}

// The directory git keeps the markers in. In a linked worktree or a submodule ".git" is a
// file whose "gitdir: " line names that directory, relative to the working directory or not.
std::string git_dir(const std::string& repo_path) {
  std::string dot_git = join_path(repo_path, ".git");
  std::optional<std::string> text = read_regular_file(dot_git);
  if (!text || !text->starts_with("gitdir: ")) return dot_git;
  std::string dir = text->substr(8, text->find_first_of("\r\n") - 8);
  if (dir.empty() || dir.find('\0') != std::string::npos) return dot_git;
  return dir.starts_with('/') ? dir : join_path(repo_path, dir);
}

// A NUL would cut the path short in the system call and name another file.
std::optional<std::string> git_dir_file(const std::string& repo_path, std::string_view name) {
  if (repo_path.find('\0') != std::string::npos) return std::nullopt;
  return join_path(git_dir(repo_path), name);
}

}  // namespace

std::optional<std::string> merge_in_progress(const std::string& repo_path) {
  std::optional<std::string> path = git_dir_file(repo_path, "MERGE_HEAD");
  if (!path) return std::nullopt;
  auto text = read_regular_file(*path);
  if (!text || !is_valid_utf8(*text)) return std::nullopt;
  return std::string(trim_whitespace(*text));
}

bool rebase_in_progress(const std::string& repo_path) {
  std::optional<std::string> path = git_dir_file(repo_path, "rebase-merge");
  struct stat info;
  return path && ::stat(path->c_str(), &info) == 0;
}

}  // namespace brackwen
