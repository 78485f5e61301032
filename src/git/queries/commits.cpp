// The argument lists of the commit queries and the stash rewrite.
#include "git/queries/commits.hpp"

#include <algorithm>

#include "git/process.hpp"
#include "git/queries/commits_parsers.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"
#include "parser/input.hpp"
#include "parser/utf8.hpp"

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

std::optional<ParsedCommit> load_one_commit(const std::string& repo_path,
                                            const std::optional<GitArgs>& args) {
  if (!args) return std::nullopt;
  auto out = run_git(repo_path, *args);
  if (!out) return std::nullopt;
  return parse_all(*out, parse_commit);
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

// The long log is parsed while git prints it, into a file rather than a pipe: git flushes
// after every commit to a pipe, and the reader would wake as often. What the one-pass read
// of run_git and parse_all would give is given still: when the streamed parse cannot read
// everything, the whole text is read once more and parsed as a whole.
std::optional<CommitLog> load_commits(const std::string& repo_path, uint32_t count,
                                      std::function<StashPlacement()> stashes) {
  // Sized once, with room for the stashes merged in later; room that is never used is never
  // touched, so it costs no memory.
  LogStream stream(commit_room(count));
  stream.stashes = std::move(stashes);
  StreamHandlers handlers;
  handlers.out_to_file = true;
  handlers.on_out = [&](std::string_view bytes) { feed_log(stream, bytes); };
  std::optional<GitArgs> argv = reading_git_argv(repo_path, load_commits_args(count));
  if (!argv) return std::nullopt;
  std::optional<StreamEnd> end = stream_reading_process(*argv, repo_path, handlers);
  if (!end || !stream.fed) return std::nullopt;
  if (finish_log(stream)) return std::move(stream.log);
  std::optional<std::string> text = read_whole_file(end->out_file.fd);
  if (!text || text->empty()) return std::nullopt;
  repair_utf8(*text);
  return parse_all(*text, [&](Input& in) { return parse_commit_log(in, commit_room(count)); });
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
  auto out = run_git(repo_path, load_stashes_args());
  if (!out) return std::nullopt;
  auto stashes = parse_all(*out, parse_commits);
  if (!stashes) return std::nullopt;
  for (size_t i = 0; i < stashes->size(); ++i) make_stash_entry((*stashes)[i], i);
  return stashes;
}

Commit commit_from_parsed(ParsedCommit parsed) {
  Commit c;
  c.author = std::move(parsed.author);
  c.email = std::move(parsed.email);
  c.date = parsed.date;
  c.id = std::move(parsed.id);
  c.index = parsed.index;
  c.parent_ids = std::move(parsed.parent_ids);
  c.is_merge = parsed.is_merge;
  c.message = std::move(parsed.message);
  c.stash_id = std::move(parsed.stash_id);
  c.refs.reserve(parsed.refs.size());
  for (RefInfo& ref : parsed.refs) c.refs.push_back(std::move(ref.id));
  c.filtered = parsed.filtered;
  c.num_skipped = parsed.num_skipped;
  return c;
}

}  // namespace brackwen
