// The commit queries: the head commit, a ref's newest commit, the log of all refs, the stashes.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "git/queries/commits_parsers.hpp"
#include "model/commit.hpp"

namespace brackwen {

// Absent in a repository without commits.
std::optional<ParsedCommit> load_head_commit(const std::string& repo_path);

// Absent when git cannot resolve the name, and for a name that begins with "-", which git
// would take as an option.
std::optional<ParsedCommit> load_top_commit_for_branch(const std::string& repo_path,
                                                       const std::string& branch_name);

// The arguments after the program name of load_commits and load_stashes.
std::vector<std::string> load_commits_args(uint32_t count);
std::vector<std::string> load_stashes_args();

// The newest `count` commits of every branch, tag and remote-tracking ref, in git's order,
// already in list form (the decorations beside them), since this is the long list.
// With `stashes`, the entries it gives (asked when the first record arrives, so that they can
// be loaded meanwhile) are placed among the commits as load_commits_and_refs merges them.
std::optional<CommitLog> load_commits(const std::string& repo_path, uint32_t count,
                                      std::function<StashPlacement()> stashes = {});

// The stash list, newest first: stash ids set, only the first parent kept, no refs, and the
// message cut to the text before its first ":", with "WIP" read as "Stash".
std::optional<std::vector<ParsedCommit>> load_stashes(const std::string& repo_path);

// The stash form of one reflog record; `position` is its place in the stash list.
void make_stash_entry(ParsedCommit& entry, size_t position);

// The list form: refs become their ids, all of them, in order.
Commit commit_from_parsed(ParsedCommit parsed);

}  // namespace brackwen
