// Cuts the line list of a working-copy diff into hunks with three lines of context.
#include "git/queries/wip/create_hunks.hpp"

#include <algorithm>

#include "git/queries/hunks/reply_size.hpp"

namespace brackwen {
namespace {

constexpr size_t leading_context = 3;
// A seventh unchanged line after a change closes the hunk, which then keeps three of them.
constexpr uint32_t closing_run = 6;
constexpr size_t trailing_context = 3;

int32_t range_length(std::optional<int32_t> first, std::optional<int32_t> last) {
  int32_t length = last.value_or(0) - first.value_or(0) + 1;
  return std::max(length, 0);
}

// Each hunk's first script entry and the one after its last.
std::vector<std::pair<size_t, size_t>> hunk_spans(const std::vector<LineChange>& script) {
  std::vector<std::pair<size_t, size_t>> spans;
  bool open = false;
  uint32_t trailing = 0;
  for (size_t i = 0; i < script.size(); ++i) {
    if (script[i] != LineChange::Same) {
      if (!open) spans.emplace_back(i - std::min(i, leading_context), 0);
      open = true;
      trailing = 0;
    } else if (open && trailing == closing_run) {
      spans.back().second = i - (closing_run - trailing_context);
      open = false;
    } else {
      trailing += open;
    }
  }
  if (open) spans.back().second = script.size();
  return spans;
}

// The hunk of the lines from the cursor to the entry `end`; the cursor ends there.
WipHunk hunk_from(const WipDiff& diff, WipLineCursor& at, size_t end) {
  WipHunk hunk;
  hunk.first = at;
  hunk.end = end;
  HunkLineView first = *next_wip_line(diff, at);
  HunkLineView last = first;
  while (at.next < end) last = *next_wip_line(diff, at);
  hunk.old_line_range = {first.old_num.value_or(0), range_length(first.old_num, last.old_num)};
  hunk.new_line_range = {first.new_num.value_or(0), range_length(first.new_num, last.new_num)};
  return hunk;
}

}  // namespace

std::pair<std::vector<WipHunk>, uint32_t> create_hunks(const WipDiff& diff) {
  std::vector<WipHunk> hunks;
  WipLineCursor at;
  for (auto [first, end] : hunk_spans(diff.script)) {
    while (at.next < first) next_wip_line(diff, at);
    hunks.push_back(hunk_from(diff, at, end));
  }
  auto same = std::count(diff.script.begin(), diff.script.end(), LineChange::Same);
  return {std::move(hunks), static_cast<uint32_t>(diff.script.size() - static_cast<size_t>(same))};
}

uint64_t hunks_reply_bytes(const WipDiff& diff, const std::vector<WipHunk>& hunks) {
  uint64_t bytes = 0;
  for (const WipHunk& hunk : hunks) {
    bytes += LINE_RECORD_BYTES + wip_lines_reply_bytes(diff, hunk.first, hunk.end);
  }
  return bytes;
}

}  // namespace brackwen
