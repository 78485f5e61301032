// What the history view asks for: how many commits, whether a cached history will do, and the
// filters the list is narrowed by.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace brackwen {

// One filter of the commit list; only the fields of its own kind are filled.
struct CommitFilter {
  enum class Kind { Branch, User, Commit, File };
  Kind kind = Kind::Branch;
  std::string id;          // Branch
  std::string short_name;  // Branch
  std::string author;      // User
  std::string email;       // User
  std::string commit_id;   // Commit
  std::string file_name;   // File
  bool operator==(const CommitFilter&) const = default;
};

struct HistoryQuery {
  std::string repo_path;
  uint32_t num_commits = 0;
  std::vector<CommitFilter> filters;
  bool fast = false;  // the cached history, when there is one
  bool skip_stashes = false;
  bool operator==(const HistoryQuery&) const = default;
};

}  // namespace brackwen
