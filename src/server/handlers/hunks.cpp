// The hunk endpoints: commit hunks from git's diff, working-copy hunks from the line diff.
#include "server/handlers/hunks.hpp"

#include <utility>

#include "git/queries/hunks/load_hunks.hpp"
#include "git/queries/wip/create_hunks.hpp"
#include "git/queries/wip/wip_diff.hpp"
#include "server/endpoint_shell.hpp"

namespace brackwen {
namespace {

HunkLine marker(HunkLineStatus status, int32_t hunk_index) {
  HunkLine line;
  line.status = status;
  line.hunk_index = hunk_index;
  line.line_ending = "\n";
  return line;
}

std::optional<std::vector<HunkLine>> wip_diff_of(const ReqWipHunksOptions& request) {
  std::optional<std::string> head_id;
  if (request.head_commit) head_id = request.head_commit->id;
  return load_wip_diff(request.repo_path, request.patch, head_id);
}

}  // namespace

std::vector<HunkLine> hunk_line_list(const std::vector<Hunk>& hunks) {
  std::vector<HunkLine> lines;
  for (const auto& hunk : hunks) {
    lines.push_back(marker(HunkLineStatus::HeaderStart, hunk.index));
    lines.push_back(marker(HunkLineStatus::HeaderEnd, hunk.index));
    lines.insert(lines.end(), hunk.lines.begin(), hunk.lines.end());
  }
  if (!hunks.empty()) lines.push_back(marker(HunkLineStatus::HeaderStart, -1));
  return lines;
}

std::optional<Reply> handle_load_hunks(std::string_view body) {
  auto request = read_body<ReqHunkOptions>(body);
  if (!request) return std::nullopt;
  // A merge without its second parent has no range to diff: the request is dropped.
  if (request->commit.is_merge && request->commit.parent_ids.size() < 2) return std::nullopt;
  using Reply = std::pair<std::vector<Hunk>, std::vector<HunkLine>>;
  std::optional<Reply> reply;
  if (auto hunks = load_hunks(request->repo_path, request->commit, request->patch)) {
    auto lines = hunk_line_list(*hunks);
    reply = Reply{std::move(*hunks), std::move(lines)};
  }
  return text_reply(to_json(reply));
}

std::optional<Reply> handle_load_wip_hunks(std::string_view body) {
  return with_record<ReqWipHunksOptions>(body, [](const ReqWipHunksOptions& request) {
    using Reply = std::pair<std::vector<Hunk>, uint32_t>;
    std::optional<Reply> reply;
    if (auto lines = wip_diff_of(request)) reply = create_hunks(*lines);
    return reply;
  });
}

std::optional<Reply> handle_load_wip_hunk_lines(std::string_view body) {
  return with_record<ReqWipHunksOptions>(body, wip_diff_of);
}

}  // namespace brackwen
