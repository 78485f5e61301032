// What a git run that only reads takes from its surroundings, set in one place. git reads
// settings from the system, the user and the repository itself: some name programs (fsmonitor,
// external diffs, text conversions, filters, hooks, gpg) that a repository someone else made
// would choose, and some change the formats the grammars read. A query builds only its own
// arguments; this adds the rest.
#pragma once
#include <optional>
#include <string>

#include "git/revisions.hpp"

namespace brackwen {

// The whole argv of a git run that only reads: GIT_PROGRAM, the options that keep out the
// programs a repository names and pin the formats to git's own defaults, then `args`, whose
// first is the subcommand; the subcommand's own pins follow it. A subcommand that may read the
// work tree also gets the clean, smudge and process filters that the repository's own
// configuration defines switched off, which costs one `git config` run in `repo_path`; absent
// when that run fails or a filter has a name git's "-c" cannot carry.
std::optional<GitArgs> reading_git_argv(const std::string& repo_path, const GitArgs& args);

}  // namespace brackwen
