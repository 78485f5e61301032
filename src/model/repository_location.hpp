// Where the parts of a repository lie, as git itself names them from a folder.
#pragma once
#include <optional>
#include <string>

namespace brackwen {

// Where a git is run to see a repository as a reading git sees it: from a folder, as git finds
// the repository there; or from a submodule's folder, through that folder's ".git" alone, as a
// status runs its git in each submodule it looks into (with GIT_DIR=.git).
struct GitPlace {
  std::string dir;
  bool through_dot_git = false;
};

// Absolute paths, as git names them.
struct RepositoryLocation {
  GitPlace place;
  std::string git_dir;
  std::string common_dir;
  std::string index_file;
  // A shared index is this followed by its hash (split index).
  std::string shared_index_prefix;
  std::string head_file;
  // Absent for a bare repository.
  std::optional<std::string> work_tree_top;
};

}  // namespace brackwen
