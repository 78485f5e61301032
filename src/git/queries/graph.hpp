// Questions about the commit graph that the loaded commits answer without git, plus the two
// small git-side helpers the ref logic needs.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "model/commit.hpp"

namespace brackwen {

// Commit id -> the commit. Both point into the list the map was built from (normally a
// snapshot of COMMITS_CACHE), which must outlive the map; nothing is copied.
using CommitsById = std::unordered_map<std::string_view, const Commit*>;

// Ids held by the commits of a CommitsById (or by the start commit), never copies.
using CommitIdSet = std::unordered_set<std::string_view>;

// When two commits share an id, the later one wins.
CommitsById commits_by_id(const std::vector<Commit>& commits);

// Every ancestor id reachable through parent ids; parents outside the map are in the set but
// not walked further. The start's own id only when it is its own ancestor.
CommitIdSet reachable_commit_ids(const Commit& start, const CommitsById& map);

// The ids that `a` has and `b` has not (each with itself), in no fixed order. Absent when
// the map is empty or lacks either id.
std::optional<std::vector<std::string>> commit_ids_between(std::string_view a, std::string_view b,
                                                           const CommitsById& map);

// The stretches of `list` where a walk in list order cannot stop: each runs from just after a
// parent listed before its child (a wrong clock) to that child, and the stretches that meet
// are joined, in list order. A parent stands where its id first does.
std::vector<ListStretch> out_of_order_stretches(const std::vector<Commit>& list);

// What commit_ids_between answers over commits_by_id(history.commits), in list order (then the
// parents outside the list, by id), found the way `git rev-list b..a` finds it: a walk from
// both ids in list order, painting what `b` reaches, can stop once nothing left to walk is
// reached from `a` alone, provided no parent listed before its child leads back to what was
// walked (history.out_of_order tells where). Only the part of the list the walk needs is
// indexed. Where the walk would itself step back in the list, meets a stash entry (which may
// share its id with a log commit), or the order is unknown, the whole map is walked as
// commit_ids_between does.
std::optional<std::vector<std::string>> listed_commit_ids_between(std::string_view a,
                                                                  std::string_view b,
                                                                  const CommitsAndRefs& history);

// `git rev-list from..to --count`; 0 when git fails, prints no number, or when the range
// would begin with "-" and so be taken as an option.
uint32_t count_commits_in_range(const std::string& repo_path, std::string_view from,
                                std::string_view to);

// The remote a branch pushes to: branch.<b>.pushremote, remote.pushdefault,
// branch.<b>.remote, else "origin". Keys as `git config --list` prints them.
std::string get_push_remote(const std::unordered_map<std::string, std::string>& entries,
                            std::string_view branch);

}  // namespace brackwen
