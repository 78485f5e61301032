// The one log format every commit query asks git for, and the grammar that reads it back.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/commit.hpp"
#include "parser/input.hpp"

namespace brackwen {

// Author, e-mail, raw date, id, parents, message and decorations, each ended by a NUL, which
// with "-z" also ends the record. Git cuts names, addresses and messages at a NUL byte and
// allows none in ref names, so nothing a repository holds can move a field or a record
// boundary: a message that imitates a record is only a message.
inline constexpr std::string_view LOG_FORMAT_ARG =
    "--pretty=tformat:%an%x00%ae%x00%ad%x00%H%x00%P%x00%B%x00%D";

// The options of every commit query that make git print the log format above.
std::vector<std::string> log_format_args();

// The "seconds zone" pair of --date=raw.
std::optional<DateResult> parse_raw_date(Input& in);

// One log record with the NUL that ends it.
std::optional<ParsedCommit> parse_commit(Input& in);

// Every record up to the first that does not read; never fails.
std::optional<std::vector<ParsedCommit>> parse_commits(Input& in);

// A long log in the form the commit list keeps: commits with the ids of their refs, and every
// decoration in full, in log order, beside them.
struct CommitLog {
  std::vector<Commit> commits;
  std::vector<RefInfo> refs;
};

// The same records as parse_commits; `expected_commits` only sizes the list up front.
std::optional<CommitLog> parse_commit_log(Input& in, size_t expected_commits);

}  // namespace brackwen
