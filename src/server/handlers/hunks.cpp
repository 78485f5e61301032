// The hunk endpoints: commit hunks from git's diff, working-copy hunks from the line diff.
#include "server/handlers/hunks.hpp"

#include <functional>
#include <memory>
#include <tuple>
#include <utility>

#include "git/queries/hunks/load_hunks.hpp"
#include "git/queries/wip/create_hunks.hpp"
#include "git/queries/wip/wip_diff.hpp"
#include "server/endpoint_shell.hpp"

namespace brackwen {
namespace {

// A piece of a reply goes out once it holds this much.
constexpr size_t PIECE_BYTES = 1 << 20;

HunkLine marker(HunkLineStatus status, int32_t hunk_index) {
  HunkLine line;
  line.status = status;
  line.hunk_index = hunk_index;
  line.line_ending = "\n";
  return line;
}

// A reply written while it is sent: `step` adds what comes next and says false once the reply
// is whole. A piece goes out once it holds PIECE_BYTES.
Reply pieces_reply(std::function<bool(std::string& out)> step) {
  auto done = std::make_shared<bool>(false);
  auto next = [step = std::move(step), done](TextPieces& pieces) {
    if (*done) return false;
    pieces.resize(1);
    std::string& out = pieces.front();
    out.clear();
    while (!*done && out.size() < PIECE_BYTES) *done = !step(out);
    return true;
  };
  return Reply{TEXT_CONTENT_TYPE, PieceSource{std::move(next)}};
}

// The reply [hunks, lines], written from git's diff text while it is sent, so that neither
// the reply nor a record of every line is ever held whole: first the hunks, each with its own
// lines; then every line again in one flat list, each hunk's lines led by a "headerStart" and
// a "headerEnd" marker, and a last "headerStart" marker with hunkIndex -1 after them.
struct HunksReply {
  enum class Part { Open, Hunks, Flat, Done };
  std::shared_ptr<const FileDiff> diff;
  Part part = Part::Open;
  size_t next_hunk = 0;
  std::optional<HunkLineCursor> lines;  // the lines of the hunk begun, still to write
  std::string hunk_end;                 // what closes the hunk begun, in the first list
};

// A hunk's record as the record writer writes it, cut where its lines go: what comes before
// them, and what comes after.
std::pair<std::string, std::string> hunk_record_around_lines(LineRange old_range,
                                                             LineRange new_range, int32_t index) {
  Hunk hunk;
  hunk.old_line_range = old_range;
  hunk.new_line_range = new_range;
  hunk.index = index;
  std::string record = to_json(hunk);
  size_t cut = record.find("\"lines\":[]") + std::string_view("\"lines\":[").size();
  return {record.substr(0, cut), record.substr(cut)};
}

void begin_hunk(HunksReply& reply, std::string& out) {
  auto index = static_cast<int32_t>(reply.next_hunk);
  const HunkSpan& span = reply.diff->hunks[reply.next_hunk++];
  if (index > 0) out += ',';
  if (reply.part == HunksReply::Part::Hunks) {
    auto [before, after] =
        hunk_record_around_lines(span.old_line_range, span.new_line_range, index);
    out += before;
    reply.hunk_end = std::move(after);
  } else {
    write_json(out, marker(HunkLineStatus::HeaderStart, index));
    out += ',';
    write_json(out, marker(HunkLineStatus::HeaderEnd, index));
  }
  reply.lines = hunk_line_cursor(span, index);
}

// The begun hunk's lines until the piece is full or they end.
void write_lines(HunksReply& reply, std::string& out) {
  bool flat = reply.part == HunksReply::Part::Flat;
  while (out.size() < PIECE_BYTES) {
    auto line = next_hunk_line(*reply.lines);
    if (!line) {
      if (!flat) out += reply.hunk_end;
      reply.lines.reset();
      return;
    }
    // In the flat list the hunk's markers come before its first line.
    if (flat || line->index > 0) out += ',';
    write_json(out, *line);
  }
}

void end_list(HunksReply& reply, std::string& out) {
  if (reply.part == HunksReply::Part::Hunks) {
    out += "],[";
    reply.part = HunksReply::Part::Flat;
    reply.next_hunk = 0;
    return;
  }
  if (!reply.diff->hunks.empty()) {
    out += ',';
    write_json(out, marker(HunkLineStatus::HeaderStart, -1));
  }
  out += "]]";
  reply.part = HunksReply::Part::Done;
}

void write_step(HunksReply& reply, std::string& out) {
  if (reply.part == HunksReply::Part::Open) {
    out += "[[";
    reply.part = HunksReply::Part::Hunks;
  } else if (reply.lines) {
    write_lines(reply, out);
  } else if (reply.next_hunk < reply.diff->hunks.size()) {
    begin_hunk(reply, out);
  } else {
    end_list(reply, out);
  }
}

std::shared_ptr<const WipDiff> wip_diff_of(const ReqWipHunksOptions& request, WipShown shown) {
  std::optional<std::string> head_id;
  if (request.head_commit) head_id = request.head_commit->id;
  return load_wip_diff(request.repo_path, request.patch, head_id, shown);
}

// The lines from the cursor to the entry `end` until the piece is full, each after a comma
// but the first of its list, which begins at the entry `list_start`.
void write_wip_lines(const WipDiff& diff, WipLineCursor& cursor, size_t end, size_t list_start,
                     int32_t hunk_index, std::string& out) {
  while (cursor.next < end && out.size() < PIECE_BYTES) {
    if (cursor.next > list_start) out += ',';
    HunkLineView line = *next_wip_line(diff, cursor);
    line.hunk_index = hunk_index;
    write_json(out, line);
  }
}

// The reply of every line of a working-copy diff in one list, written from its texts and its
// script while it is sent, as the reply of git's diff is.
struct WipLinesReply {
  std::shared_ptr<const WipDiff> diff;
  WipLineCursor cursor;
  bool open = false;
};

bool write_step(WipLinesReply& reply, std::string& out) {
  size_t end = reply.diff->script.size();
  if (!reply.open) {
    out += '[';
    reply.open = true;
  }
  write_wip_lines(*reply.diff, reply.cursor, end, 0, -1, out);
  if (reply.cursor.next < end) return true;
  out += ']';
  return false;
}

// The reply [hunks, changed-line count] of a working-copy diff, each hunk with its lines.
struct WipHunksReply {
  std::shared_ptr<const WipDiff> diff;
  std::vector<WipHunk> hunks;
  uint32_t changed = 0;
  bool open = false;
  size_t next_hunk = 0;
  std::optional<WipLineCursor> lines;  // the lines of the hunk begun, still to write
  std::string hunk_end;                // what closes the hunk begun
};

void begin_hunk(WipHunksReply& reply, std::string& out) {
  auto index = static_cast<int32_t>(reply.next_hunk);
  const WipHunk& hunk = reply.hunks[reply.next_hunk++];
  if (index > 0) out += ',';
  auto [before, after] = hunk_record_around_lines(hunk.old_line_range, hunk.new_line_range, index);
  out += before;
  reply.hunk_end = std::move(after);
  reply.lines = hunk.first;
}

bool write_step(WipHunksReply& reply, std::string& out) {
  if (!reply.open) {
    out += "[[";
    reply.open = true;
  } else if (reply.lines) {
    auto index = static_cast<int32_t>(reply.next_hunk - 1);
    const WipHunk& hunk = reply.hunks[reply.next_hunk - 1];
    write_wip_lines(*reply.diff, *reply.lines, hunk.end, hunk.first.next, index, out);
    if (reply.lines->next < hunk.end) return true;
    out += reply.hunk_end;
    reply.lines.reset();
  } else if (reply.next_hunk < reply.hunks.size()) {
    begin_hunk(reply, out);
  } else {
    out += "],";
    write_json(out, reply.changed);
    out += ']';
    return false;
  }
  return true;
}

}  // namespace

std::optional<Reply> handle_load_hunks(std::string_view body) {
  auto request = read_body<ReqHunkOptions>(body);
  if (!request) return std::nullopt;
  // A merge without its second parent has no range to diff: the request is dropped.
  if (request->commit.is_merge && request->commit.parent_ids.size() < 2) return std::nullopt;
  auto diff = load_file_diff(request->repo_path, request->commit, request->patch);
  if (!diff) return text_reply(to_json(NULL_REPLY));
  auto reply = std::make_shared<HunksReply>();
  reply->diff = std::move(diff);
  return pieces_reply([reply](std::string& out) {
    write_step(*reply, out);
    return reply->part != HunksReply::Part::Done;
  });
}

std::optional<Reply> handle_load_wip_hunks(std::string_view body) {
  auto request = read_body<ReqWipHunksOptions>(body);
  if (!request) return std::nullopt;
  auto diff = wip_diff_of(*request, WipShown::Hunks);
  if (!diff) return text_reply(to_json(NULL_REPLY));
  auto reply = std::make_shared<WipHunksReply>();
  std::tie(reply->hunks, reply->changed) = create_hunks(*diff);
  // Only the hunks are sent: a large file's line list may pass the cap while they do not.
  if (hunks_reply_bytes(*diff, reply->hunks) > MAX_REPLY_BYTES) {
    report_over_cap("Working-copy diff");
    return text_reply(to_json(NULL_REPLY));
  }
  reply->diff = std::move(diff);
  return pieces_reply([reply](std::string& out) { return write_step(*reply, out); });
}

std::optional<Reply> handle_load_wip_hunk_lines(std::string_view body) {
  auto request = read_body<ReqWipHunksOptions>(body);
  if (!request) return std::nullopt;
  auto diff = wip_diff_of(*request, WipShown::AllLines);
  if (!diff) return text_reply(to_json(NULL_REPLY));
  auto reply = std::make_shared<WipLinesReply>();
  reply->diff = std::move(diff);
  return pieces_reply([reply](std::string& out) { return write_step(*reply, out); });
}

}  // namespace brackwen
