// The branch list's counts: every local branch against its push remote's counterpart and
// against a head commit, and every ref against the head commit.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "git/queries/refs/head_info.hpp"
#include "model/ref_diffs.hpp"
#include "stores/stores.hpp"

namespace brackwen {

// A local branch and its sibling, the sibling only when it belongs to the branch's push remote.
struct BranchPair {
  const RefInfo* local = nullptr;
  const RefInfo* remote = nullptr;
};

std::vector<BranchPair> branch_push_remote_pairs(const TextMap& config_entries,
                                                 const RefsById& refs);

// "/f/calc_ref_diffs": [local branches' counts, every ref's counts against the head]; absent
// when the repository was never loaded. Without a cached configuration every branch pushes
// to "origin".
std::optional<std::pair<RefDiffs, HeadDiffs>> calc_ref_diffs(const std::string& repo_path,
                                                             std::string_view head_commit_id);

}  // namespace brackwen
