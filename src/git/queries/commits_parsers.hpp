// The one log format every commit query asks git for, and the grammar that reads it back.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "git/commit.hpp"
#include "parser/input.hpp"

namespace brackwen {

// Written straight after the message body, so that a body may hold any text at all.
inline constexpr std::string_view COMMIT_LOG_MARKER = "4a41380f-a4e8-4251-9ca2-bf55186ed32a";

inline constexpr std::string_view DECORATE_ARG = "--decorate=full";
inline constexpr std::string_view PRETTY_FORMAT_ARG =
    "--pretty=format:%an; %ae; %ad; %H; %P; %B4a41380f-a4e8-4251-9ca2-bf55186ed32a; %d";
inline constexpr std::string_view DATE_ARG = "--date=raw";

// The text up to the next ";" (not consumed); fails when that text is empty.
std::optional<std::string> commit_field(Input& in);

// Whitespace, ";", whitespace.
std::optional<std::string_view> field_separator(Input& in);

// The "seconds zone" pair of --date=raw.
std::optional<DateResult> parse_raw_date(Input& in);

// One log record, with the line end (or the NUL of "-z") that follows it.
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
