// Where the parts of a repository lie, as git itself finds them from a folder: the guards and
// the reads of working files go where git goes, never where a guess beside git would.
#pragma once
#include <optional>
#include <string>

namespace brackwen {

// Absolute paths, as git names them.
struct RepositoryLocation {
  std::string git_dir;
  std::string common_dir;
  std::string index_file;
  // Absent for a bare repository.
  std::optional<std::string> work_tree_top;
};

// What one `git rev-parse` answers in `dir`. Absent when git finds no repository there, fails,
// or names a path its one-per-line answer cannot carry (one holding a line feed).
std::optional<RepositoryLocation> repository_location(const std::string& dir);

}  // namespace brackwen
