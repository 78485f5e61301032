// The branch list's counts: every local branch against its push remote's counterpart and
// against a head commit, and every ref against the head commit.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "api_types/replies.hpp"
#include "git/queries/refs/head_info.hpp"
#include "stores/stores.hpp"

namespace brackwen {

// A local branch and its sibling, the sibling only when it belongs to the branch's push remote.
struct BranchPair {
  const RefInfo* local = nullptr;
  const RefInfo* remote = nullptr;
};

std::vector<BranchPair> branch_push_remote_pairs(const TextMap& config_entries,
                                                 const RefsById& refs);

using RefDiffs = std::unordered_map<std::string, RefDiff>;

// [local branches' RefDiff, every ref's RefHeadDiff]; absent when the repository was never
// loaded. Without a cached configuration every branch pushes to "origin".
std::optional<std::pair<RefDiffs, RefHeadDiffs>> load_ref_diffs(const std::string& repo_path,
                                                                std::string_view head_commit_id);

}  // namespace brackwen
