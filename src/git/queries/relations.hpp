// How two commits relate, answered from the cached commit graph; the commits between two
// ids fall back to `git rev-list` when the cache cannot answer.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace brackwen {

// Whether `candidate` is reached from `commit_id` through one or more parent steps of the
// cached commits; false for a repository never loaded, an unknown commit, or the commit itself.
bool commit_is_ancestor(const std::string& repo_path, const std::string& commit_id,
                        const std::string& candidate);

// Absent without head info; false for an empty branch set.
std::optional<bool> commit_is_on_branch(const std::string& repo_path, const std::string& commit_id);

// The current branch's commits and its upstream's, in no fixed order.
std::optional<std::vector<std::string>> all_commits_on_current_branch(const std::string& repo_path);

// The commits reachable from `to` and not from `from`: from the cache in its order, else from
// `git rev-list from..to` in git's order. Absent when git prints nothing, and for an id
// that begins with "-", which git would read as an option.
std::optional<std::vector<std::string>> commit_ids_between_commits(const std::string& repo_path,
                                                                   const std::string& from,
                                                                   const std::string& to);

}  // namespace brackwen
