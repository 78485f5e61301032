// Cuts the full line diff of a working-copy file into hunks with three lines of context.
#include "git/queries/wip/create_hunks.hpp"

#include <algorithm>

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

Hunk closed_hunk(std::vector<HunkLine> lines) {
  const auto& first = lines.front();
  const auto& last = lines.back();
  Hunk hunk;
  hunk.old_line_range = {first.old_num.value_or(0), range_length(first.old_num, last.old_num)};
  hunk.new_line_range = {first.new_num.value_or(0), range_length(first.new_num, last.new_num)};
  hunk.index = -1;
  hunk.lines = std::move(lines);
  return hunk;
}

bool is_change(const HunkLine& line) {
  return line.status == HunkLineStatus::Plus || line.status == HunkLineStatus::Minus;
}

}  // namespace

std::pair<std::vector<Hunk>, uint32_t> create_hunks(const std::vector<HunkLine>& lines) {
  std::vector<Hunk> hunks;
  std::vector<HunkLine> open;  // empty while no hunk is open
  uint32_t trailing = 0;
  uint32_t changed = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (is_change(lines[i])) {
      if (open.empty()) {
        open.assign(lines.begin() + static_cast<ptrdiff_t>(i - std::min(i, leading_context)),
                    lines.begin() + static_cast<ptrdiff_t>(i));
      }
      open.push_back(lines[i]);
      ++changed;
      trailing = 0;
      continue;
    }
    if (open.empty()) continue;
    if (trailing == closing_run) {
      open.resize(open.size() - (closing_run - trailing_context));
      hunks.push_back(closed_hunk(std::move(open)));
      open.clear();
      trailing = 0;
      continue;
    }
    open.push_back(lines[i]);
    ++trailing;
  }
  if (!open.empty()) hunks.push_back(closed_hunk(std::move(open)));
  for (size_t p = 0; p < hunks.size(); ++p) {
    hunks[p].index = static_cast<int32_t>(p);
    for (auto& line : hunks[p].lines) line.hunk_index = hunks[p].index;
  }
  return {std::move(hunks), changed};
}

}  // namespace brackwen
