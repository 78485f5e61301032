// The argument lists of the commit queries and the stash rewrite.
#include "git/queries/commits.hpp"

#include <algorithm>

#include "git/process.hpp"
#include "git/queries/commits_parsers.hpp"
#include "git/queries/refs/head_decoration.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"

namespace brackwen {
namespace {

constexpr std::string_view STASH_REF_PREFIX = "refs/stash@{";
constexpr size_t STASH_ROOM = 32;
// A count beyond any history (a caller may ask for everything with the largest count) must
// not reserve terabytes, which fails: past this many commits the list grows as it is read.
constexpr size_t MOST_RESERVED_COMMITS = size_t{1} << 20;

size_t commit_room(uint32_t count) {
  return std::min<size_t>(count, MOST_RESERVED_COMMITS) + STASH_ROOM;
}

GitArgs log_args(GitArgs args) {
  auto format = log_format_args();
  args.insert(args.end(), format.begin(), format.end());
  return args;
}

// Whether a log's decorations are kept: the stash list's are dropped.
enum class Decorations { Kept, Dropped };

// The records git prints for `args`, read as they come (LogStream), into a file rather than a
// pipe: git flushes after every commit to a pipe, and the reader would wake as often. Absent
// when git cannot run, prints nothing, or prints what does not read.
std::optional<CommitLog> stream_log(const std::string& repo_path, const GitArgs& args,
                                    size_t expected_commits,
                                    std::function<StashPlacement()> stashes = {},
                                    Decorations decorations = Decorations::Kept) {
  std::optional<GitArgs> argv = reading_git_argv(repo_path, args);
  if (!argv) return std::nullopt;
  LogStream stream(expected_commits);
  stream.stashes = stashes;
  // Asked before the log starts, since its records are read as they come, and only once the
  // log's own guards have let it run: a configuration they refuse would stall every git run.
  if (decorations == Decorations::Kept) stream.head = load_head_decoration(repo_path);
  std::optional<HeadDecoration> head = stream.head;
  StreamHandlers handlers;
  handlers.out_to_file = true;
  handlers.on_out = [&](std::string_view bytes) { feed_log(stream, bytes); };
  handlers.cancelled = [&] { return stream.records.too_much(); };
  handlers.restart = [&] {
    stream = LogStream(expected_commits);
    stream.stashes = stashes;
    stream.head = head;
  };
  if (!stream_reading_process(*argv, repo_path, handlers)) return std::nullopt;
  if (!finish_log(stream)) return std::nullopt;
  // The records are handed on: they stay charged to the request.
  stream.records.keep();
  return std::move(stream.log);
}

// A commit in the other form: every field but `refs` moved over, and `refs` in their place.
template <class To, class From>
CommitOf<To> with_refs(CommitOf<From> c, std::vector<To> refs) {
  CommitOf<To> out;
  out.author = std::move(c.author);
  out.email = std::move(c.email);
  out.date = c.date;
  out.id = std::move(c.id);
  out.index = c.index;
  out.parent_ids = std::move(c.parent_ids);
  out.is_merge = c.is_merge;
  out.message = std::move(c.message);
  out.stash_id = std::move(c.stash_id);
  out.refs = std::move(refs);
  out.filtered = c.filtered;
  out.num_skipped = c.num_skipped;
  return out;
}

// Exactly one record, as a one-commit log prints it.
std::optional<ParsedCommit> load_one_commit(const std::string& repo_path,
                                            const std::optional<GitArgs>& args) {
  if (!args) return std::nullopt;
  std::optional<CommitLog> log = stream_log(repo_path, *args, 1);
  if (!log || log->commits.size() != 1) return std::nullopt;
  return with_refs(std::move(log->commits[0]), std::move(log->refs));
}

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0;;) {
    size_t found = text.find(from, at);
    out.append(text.substr(at, found - at));
    if (found == std::string_view::npos) return out;
    out.append(to);
    at = found + from.size();
  }
}

}  // namespace

GitArgs load_commits_args(uint32_t count) {
  return log_args({"log", "--branches", "--tags", "--remotes", "-n" + std::to_string(count)});
}

GitArgs load_stashes_args() {
  return log_args({"reflog", "show", "stash"});
}

std::optional<ParsedCommit> load_head_commit(const std::string& repo_path) {
  return load_one_commit(repo_path, log_args({"log", "-n1"}));
}

std::optional<ParsedCommit> load_top_commit_for_branch(const std::string& repo_path,
                                                       const std::string& branch_name) {
  // Without "--" a branch named like a file of the working tree is "ambiguous" to git.
  return load_one_commit(repo_path,
                         revision_args(log_args({"log", "-n1"}), {branch_name}, Paths{}));
}

// Sized once, with room for the stashes merged in later; room that is never used is never
// touched, so it costs no memory.
std::optional<CommitLog> load_commits(const std::string& repo_path, uint32_t count,
                                      std::function<StashPlacement()> stashes) {
  return stream_log(repo_path, load_commits_args(count), commit_room(count), std::move(stashes));
}

void make_stash_entry(ParsedCommit& entry, size_t position) {
  entry.stash_id = std::string(STASH_REF_PREFIX) + std::to_string(position) + "}";
  entry.is_merge = false;
  entry.refs.clear();
  if (entry.parent_ids.size() > 1) entry.parent_ids.resize(1);
  std::string_view message = entry.message;
  entry.message = replace_all(message.substr(0, message.find(':')), "WIP", "Stash");
}

std::optional<std::vector<ParsedCommit>> load_stashes(const std::string& repo_path) {
  std::optional<CommitLog> log =
      stream_log(repo_path, load_stashes_args(), STASH_ROOM, {}, Decorations::Dropped);
  if (!log) return std::nullopt;
  std::vector<ParsedCommit> stashes;
  stashes.reserve(log->commits.size());
  for (Commit& c : log->commits) {
    // The entries' decorations are dropped.
    stashes.push_back(with_refs<RefInfo>(std::move(c), {}));
    make_stash_entry(stashes.back(), stashes.size() - 1);
  }
  return stashes;
}

Commit commit_from_parsed(ParsedCommit parsed) {
  std::vector<std::string> ref_ids;
  ref_ids.reserve(parsed.refs.size());
  for (RefInfo& ref : parsed.refs) ref_ids.push_back(std::move(ref.id));
  return with_refs(std::move(parsed), std::move(ref_ids));
}

}  // namespace brackwen
