// Thin handlers over the commit queries; the loaded list is written straight from the cached
// snapshot, so the history reply copies no commit on its way out.
#include "server/handlers/commit_log.hpp"

#include <tbb/parallel_for.h>
#include <tbb/task_group.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "api_types/json.hpp"
#include "git/queries/commits.hpp"
#include "server/endpoint_shell.hpp"
#include "server/history.hpp"
#include "stores/threads.hpp"

namespace brackwen {
namespace {

// Every key, brace and comma a commit or ref carries, plus its numbers, with room to spare.
constexpr size_t COMMIT_FRAME_BYTES = 256;
// Commits per piece of the history reply: enough that a piece is worth a task, few enough
// that every core gets several.
constexpr size_t COMMITS_PER_PIECE = 512;

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

// Pieces written per turn: a few per core, so that the writing runs in parallel while at
// most a few megabytes of the reply exist at once.
const size_t PIECES_PER_TURN = 2 * std::max(1u, std::thread::hardware_concurrency());

// The reply [commits, refs], written while it is sent: the history it reads is a shared
// snapshot that no later load changes, so the connection can go on reading it after the
// request loop has moved on. While one turn's pieces are sent, the next turn's are written.
struct HistoryReply {
  explicit HistoryReply(LoadedCommits history) : loaded(std::move(history)) {}
  // A reply dropped midway (its client went) waits for the turn being written.
  ~HistoryReply() {
    run_reported("Writing a history reply", [this] { writing.wait(); });
  }
  LoadedCommits loaded;
  size_t next_piece = 0;
  bool done = false;
  tbb::task_group writing;
  TextPieces ahead;
  bool ahead_written = false;
};

// The next turn's pieces; the last turn ends with the refs.
void write_turn(HistoryReply& reply, TextPieces& pieces) {
  const std::vector<Commit>& commits = reply.loaded.commits();
  size_t count = (commits.size() + COMMITS_PER_PIECE - 1) / COMMITS_PER_PIECE;
  size_t first = reply.next_piece;
  size_t last = std::min(count, first + PIECES_PER_TURN);
  // The strings keep their room from the turn before: freed and taken again, that memory
  // would cost the kernel a round of page faults and returns per turn.
  pieces.resize(last - first + 2);
  for (std::string& piece : pieces) piece.clear();
  if (first == 0) pieces.front() = "[[";
  tbb::parallel_for(first, last, [&](size_t k) {
    const Commit* begin = commits.data() + k * COMMITS_PER_PIECE;
    const Commit* end = commits.data() + std::min(commits.size(), (k + 1) * COMMITS_PER_PIECE);
    std::string& out = pieces[k - first + 1];
    out.reserve(size_hint(begin, end));
    for (const Commit* c = begin; c != end; ++c) {
      if (c != commits.data()) out += ',';
      write_json(out, *c);
    }
  });
  reply.next_piece = last;
  if (last < count) return;
  std::string& tail = pieces.back();
  tail = "],";
  write_json(tail, reply.loaded.refs());
  tail += ']';
  reply.done = true;
}

bool next_pieces(HistoryReply& reply, TextPieces& pieces) {
  if (reply.ahead_written) {
    reply.writing.wait();
    reply.ahead_written = false;
    pieces.swap(reply.ahead);
  } else if (reply.done) {
    return false;
  } else {
    write_turn(reply, pieces);
  }
  if (!reply.done) {
    reply.ahead_written = true;
    reply.writing.run([&reply] { write_turn(reply, reply.ahead); });
  }
  return true;
}

}  // namespace

std::optional<Reply> handle_load_commits_and_refs(std::string_view body) {
  auto request = read_body<ReqCommitsOptions2>(body);
  if (!request) return std::nullopt;
  auto loaded = load_commits_and_refs(*request);
  if (!loaded) return text_reply("null");
  auto reply = std::make_shared<HistoryReply>(std::move(*loaded));
  return Reply{TEXT_CONTENT_TYPE,
               PieceSource{[reply](TextPieces& pieces) { return next_pieces(*reply, pieces); }}};
}

std::optional<Reply> handle_load_head_commit(std::string_view body) {
  return with_record<ReqOptions>(
      body, [](const ReqOptions& request) { return load_head_commit(request.repo_path); });
}

std::optional<Reply> handle_load_top_commit_for_branch(std::string_view body) {
  return with_record<TopCommitOptions>(body, [](const TopCommitOptions& request) {
    return load_top_commit_for_branch(request.repo_path, request.branch_name);
  });
}

}  // namespace brackwen
