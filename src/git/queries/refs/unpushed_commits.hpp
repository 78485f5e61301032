// The commits of the checked-out branch that its remote counterpart, or any remote, lacks.
#pragma once
#include <string>

#include "model/unpushed_commits.hpp"

namespace brackwen {

// From the cache: thisBranch = the head's commits its sibling lacks (no fixed order);
// allBranches = those of them the walk from the head reaches before any remote branch, newest
// first. Without a cached head and sibling, git's `log HEAD --not --remotes` fills
// allBranches alone; when git fails both lists are empty.
UnpushedCommits get_un_pushed_commits(const std::string& repo_path);

}  // namespace brackwen
