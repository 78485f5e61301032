// What a git run that only reads takes from its surroundings, set in one place. git reads
// settings from the system, the user and the repository itself: some name programs (fsmonitor,
// external diffs, text conversions, filters, hooks, gpg) that a repository someone else made
// would choose, and some change the formats the grammars read. A query builds only its own
// arguments; this adds the rest.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "git/revisions.hpp"

namespace brackwen {

// The whole argv of a git run that only reads: GIT_PROGRAM, the options that keep out the
// programs a repository names and pin the formats to git's own defaults, then `args`, whose
// first is the subcommand; the subcommand's own pins follow it. A subcommand that may read an
// object also gets what a lazy fetch would take from the repository's own configuration put
// back to the user's (one `git config` run in `repo_path`); one that may read the work tree
// also gets the clean, smudge and process filters that the repository's own configuration,
// and that of every submodule it looks into, defines switched off. Absent, with one line on
// standard error when the configuration names what a command line cannot switch off, when
// that cannot be found out or switched off.
std::optional<GitArgs> reading_git_argv(const std::string& repo_path, const GitArgs& args);

// GIT_PROGRAM and what comes before a reading run's subcommand: the pins when `pinned`, then
// `settings` (each "key=value") as "-c" options.
GitArgs pinned_git_argv(const std::vector<std::string>& settings, bool pinned = true);

}  // namespace brackwen
