// Thin handlers over the commit queries; the loaded list is written straight from the cached
// snapshot, so the history reply copies no commit on its way out.
#include "server/handlers/commit_log.hpp"

#include <tbb/parallel_for.h>

#include <algorithm>

#include "api_types/json.hpp"
#include "git/queries/commits.hpp"
#include "server/endpoint_shell.hpp"
#include "server/history.hpp"

namespace brackwen {
namespace {

// Every key, brace and comma a commit or ref carries, plus its numbers, with room to spare.
constexpr size_t COMMIT_FRAME_BYTES = 256;
// Commits per piece of the history reply: enough that a piece is worth a task, few enough
// that every core gets several.
constexpr size_t COMMITS_PER_PIECE = 2048;

// A piece's size up front, so that it is written once instead of grown by doubling. Texts
// count twice, for escapes: an over-estimate costs address space, not memory, since pages
// that are never written are never mapped in.
size_t size_hint(const Commit* first, const Commit* last) {
  size_t size = 0;
  for (const Commit* c = first; c != last; ++c) {
    size += COMMIT_FRAME_BYTES + 2 * (c->author.size() + c->email.size() + c->message.size());
    size += c->id.size() + c->parent_ids.size() * (c->id.size() + 3);
    for (const std::string& ref : c->refs) size += 2 * ref.size() + 3;
  }
  return size;
}

// The reply [commits, refs] in pieces: the commits written in parallel, a piece per task,
// and never joined, since the HTTP layer sends pieces one after the other.
TextPieces history_reply(const std::vector<Commit>& commits, const std::vector<RefInfo>& refs) {
  size_t count = (commits.size() + COMMITS_PER_PIECE - 1) / COMMITS_PER_PIECE;
  TextPieces pieces(count + 2);
  pieces.front() = "[[";
  tbb::parallel_for(size_t{0}, count, [&](size_t k) {
    const Commit* first = commits.data() + k * COMMITS_PER_PIECE;
    const Commit* last = commits.data() + std::min(commits.size(), (k + 1) * COMMITS_PER_PIECE);
    std::string& out = pieces[k + 1];
    out.reserve(size_hint(first, last));
    for (const Commit* c = first; c != last; ++c) {
      if (c != commits.data()) out += ',';
      write_json(out, *c);
    }
  });
  std::string& tail = pieces.back();
  tail = "],";
  write_json(tail, refs);
  tail += ']';
  return pieces;
}

}  // namespace

std::optional<TextPieces> handle_load_commits_and_refs(std::string_view body) {
  auto request = read_body<ReqCommitsOptions2>(body);
  if (!request) return std::nullopt;
  auto loaded = load_commits_and_refs(*request);
  if (!loaded) return TextPieces{"null"};
  return history_reply(loaded->commits(), loaded->refs());
}

std::optional<TextPieces> handle_load_head_commit(std::string_view body) {
  return with_record<ReqOptions>(
      body, [](const ReqOptions& request) { return load_head_commit(request.repo_path); });
}

std::optional<TextPieces> handle_load_top_commit_for_branch(std::string_view body) {
  return with_record<TopCommitOptions>(body, [](const TopCommitOptions& request) {
    return load_top_commit_for_branch(request.repo_path, request.branch_name);
  });
}

}  // namespace brackwen
