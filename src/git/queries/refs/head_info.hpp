// The checked-out branch and its remote counterpart, how far refs are from a head commit,
// the commits of the current branch, and the walk that finds the head's unpushed commits.
//
// count(a, b) is the number of commits reachable from a (a included) that are not reachable
// from b (b included), over the cached commits: what `git rev-list --count b..a` prints.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "git/queries/graph.hpp"
#include "git/queries/refs/ancestry_counts.hpp"
#include "model/commit.hpp"
#include "model/head_info.hpp"
#include "model/ref_diffs.hpp"

namespace brackwen {

// Ref id -> the ref, pointing into the list it was built from (later duplicates win).
using RefsById = std::unordered_map<std::string_view, const RefInfo*>;
RefsById refs_by_id(const std::vector<RefInfo>& refs);

// A branch's counterpart on its push remote, and how far the branch is ahead of it and behind.
struct RemoteCounterpart {
  RefInfo ref;
  Commit commit;
  AheadBehind counts;
};

// Absent when the repository was never loaded, and when the head is not among the cached
// refs and git finds no head branch with a counterpart on its push remote either.
std::optional<HeadInfo> calc_head_info(const std::string& repo_path);

// Asks git for `local`'s branch on its push remote and counts both ways with rev-list. On
// success the two refs name each other as siblings (`local` is changed in place).
std::optional<RemoteCounterpart> calc_remote_ahead_behind(const std::string& repo_path,
                                                          RefInfo& local);

// The cached commits reachable from the head and from its remote counterpart, both tips
// included. Absent without head info or cached commits.
std::optional<std::unordered_set<std::string>> get_commits_on_current_branch(
    const std::string& repo_path);

// Every ref's counts against the head commit, counted in parallel with the counter of a
// request that counts more pairs over the same commits.
HeadDiffs head_diffs(std::string_view head_commit_id, const RefsById& refs,
                     const AncestryCounter& counter);

// count(a, b); 0 when a equals b or either is not in `commits` (such zeros are not kept).
// Counts are kept in REACHABLE_IDS_CACHE for the life of the process.
uint32_t calc_ref_diff_count(std::string_view a, std::string_view b, const CommitsById& commits);

// Both counts of a pair from one walk of each side, each kept as calc_ref_diff_count keeps it.
AheadBehind calc_ref_diff_counts(std::string_view a, std::string_view b,
                                 const CommitsById& commits);

// Depth-first from `start` through first parents first, in pre-order, appending to `out` the
// ids that `wanted` holds. It does not pass the stop commit, a commit already visited, or a
// commit a remote branch points at (that history is already pushed). Iterative, so a long
// linear history needs no deep call stack. `visited` keeps views of the commits' own ids.
void walk_commit_graph(const Commit& start, std::string_view stop_id, const CommitsById& commits,
                       const RefsById& refs, const CommitIdSet& wanted, CommitIdSet& visited,
                       std::vector<std::string>& out);

}  // namespace brackwen
