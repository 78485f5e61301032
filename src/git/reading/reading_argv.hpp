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

// A git run that only reads, and the line it writes if it fails.
struct ReadingCommand {
  GitArgs argv;
  // Empty unless the run may fetch and the repository's configuration named programs or a
  // remote for the fetch that the run does not use (set_aside_line).
  std::string failure_line;
};

// The whole argv of a git run that only reads: GIT_PROGRAM, the options that keep out the
// programs a repository names, start no maintenance and pin the formats to git's own
// defaults, then `args`, whose first is the subcommand; the subcommand's own pins follow it. A
// subcommand that may read an object also gets the keys of diff drivers and what a lazy fetch
// would take from the repository's own configuration put back to the user's (read from the
// configuration listing of `repo_path`, kept between reads while the files it came from are
// unchanged); one that may read the work tree also gets the keys of filters that the
// repository's own configuration, and that of every submodule it looks into, sets put back.
// Absent, with one line on standard error when the configuration names what a command line
// cannot put back, when that cannot be found out or put back.
std::optional<ReadingCommand> reading_git_command(const std::string& repo_path,
                                                  const GitArgs& args);

// reading_git_command's argv, for a caller that writes no line of its own when the run fails.
std::optional<GitArgs> reading_git_argv(const std::string& repo_path, const GitArgs& args);

// After a run of `command` that ended by itself with `status`: its failure line when it exited
// non-zero. A run that exits 0 has done its work, an empty one too (no change, no commit); one
// that a limit or its caller ended has said why already.
void report_failed_read(const ReadingCommand& command, int status);

// Whether a reading log decorates HEAD itself. Where it does not (git before 2.38), the log's
// decorations lack HEAD alone, and a query that reads them learns HEAD from git apart.
bool log_decorates_head();

// GIT_PROGRAM and what comes before a reading run's subcommand: the pins when `pinned`, then
// `settings` (each "key=value") as "-c" options.
GitArgs pinned_git_argv(const std::vector<std::string>& settings, bool pinned = true);

}  // namespace brackwen
