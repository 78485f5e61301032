// The head's commits that no remote has.
#pragma once
#include <string>
#include <vector>

namespace brackwen {

struct UnpushedCommits {
  std::vector<std::string> this_branch;
  std::vector<std::string> all_branches;
  bool operator==(const UnpushedCommits&) const = default;
};

}  // namespace brackwen
