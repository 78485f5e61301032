// Where the parts of a repository lie, as git itself finds them from a folder: the guards and
// the reads of working files go where git goes, never where a guess beside git would.
#pragma once
#include <optional>
#include <string>

#include "git/revisions.hpp"

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

// What one `git rev-parse` answers at a place, and why it is absent when it is.
struct LocationAnswer {
  std::optional<RepositoryLocation> location;
  // git ran to its end and failed there: it finds no repository, or cannot read it.
  bool git_failed = false;
  // The run was ended before its end (a limit, which says so on standard error).
  bool stopped = false;
  // Otherwise git named a path its one-per-line answer cannot carry (one holding a line feed).
};
LocationAnswer locate_repository(const GitPlace& place);

// The location alone: absent when git finds no repository in `dir`, fails, or its answer
// cannot be read.
std::optional<RepositoryLocation> repository_location(const std::string& dir);

// Puts the option that makes `argv`'s git see the place's repository after its first word.
void add_place_option(GitArgs& argv, const GitPlace& place);

}  // namespace brackwen
