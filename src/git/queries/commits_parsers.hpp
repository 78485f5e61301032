// The one log format every commit query asks git for, and the grammar that reads it back.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "git/reading/request_budget.hpp"
#include "model/commit.hpp"
#include "parser/input.hpp"

namespace brackwen {

// Author, e-mail, raw date, id, parents, message and decorations, each ended by a NUL, which
// with "-z" also ends the record. Git cuts names, addresses and messages at a NUL byte and
// allows none in ref names, so nothing a repository holds can move a field or a record
// boundary: a message that imitates a record is only a message.
inline constexpr std::string_view LOG_FORMAT_ARG =
    "--pretty=tformat:%an%x00%ae%x00%ad%x00%H%x00%P%x00%B%x00%D";

// The most of an author name, e-mail address or message that a commit keeps: a longer one is
// cut there, on a character boundary, with one line on standard error naming the commit. No
// honest commit comes near it, and a repository can hold a message of gigabytes that
// compresses to a few kilobytes.
inline constexpr size_t MAX_COMMIT_TEXT_BYTES = size_t{1} << 20;

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

// HEAD where the log leaves it out (git before 2.38 decorates with every ref it is told of but
// HEAD): the id HEAD resolves to and the branch it points at, if any. git shows HEAD first
// among the refs of that commit: "HEAD -> <branch>" in the branch's stead when the branch
// decorates the commit, else "HEAD".
struct HeadDecoration {
  std::string commit_id;
  std::optional<std::string> branch;
};

// Stash entries placed among the log's commits as these are read, each before the first log
// commit strictly older than it (the entries newest first, equal dates in their order), so
// that the long list never moves to make room; what is left goes at the end.
struct StashPlacement {
  std::vector<Commit> entries;
  size_t next = 0;
};

// The log read while git prints it: each segment of whole records is checked as UTF-8,
// repaired only when it needs it, and parsed at once. When every record reads, `log` is what
// parse_commit_log gives for the whole text; when one does not (or the text ends inside a
// record), the stream fails with the failure report of the segment where it stopped. An
// author, e-mail or message field is kept only as far as its cut needs, however long git
// prints it. What it holds is charged to its request as it grows (HeldBytes): past the bound
// the stream fails, without a report of its own.
struct LogStream {
  explicit LogStream(size_t expected_commits);
  // Asked once, when the first record is read: the stash entries to place among the log's
  // commits. Unset: none.
  std::function<StashPlacement()> stashes;
  std::optional<StashPlacement> placement;
  // Set where the log's decorations lack HEAD: it is added to them.
  std::optional<HeadDecoration> head;
  CommitLog log;
  std::string pending;      // the bytes after the last whole record
  size_t pending_nuls = 0;  // NULs in `pending`, fewer than a record has
  size_t open_field = 0;    // where the field being printed begins in `pending`
  bool dropping = false;    // the rest of a text past its cut, up to the NUL that ends it
  bool fed = false;         // some bytes arrived
  bool failed = false;      // a record did not read; later bytes are not parsed
  HeldBytes records{"git log"};
  HeldBytes pending_held{"git log"};
};

void feed_log(LogStream& stream, std::string_view bytes);

// True when bytes arrived, all of them whole records that read; the stash entries not yet
// placed then go at the end.
bool finish_log(LogStream& stream);

}  // namespace brackwen
