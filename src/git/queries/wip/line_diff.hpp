// A line diff: the edit script that turns one list of lines into another.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

namespace brackwen {

// One byte, since a script holds one for every line of both texts.
enum class LineChange : uint8_t { Same, Removed, Added };

// One entry per line of the diff, in order: every old line is Same or Removed, every new
// line Same or Added. The number of Removed and Added lines is the least possible for small
// inputs and for few edits; otherwise it is what git's own diff heuristics find, at a bounded
// cost. Within each run of changes the Removed lines come before the Added ones. Lines are
// equal only when their texts (line ends included) are equal. Only the lines between the
// common first and last ones are diffed, so its cost follows what differs.
std::vector<LineChange> line_diff(const std::vector<std::string_view>& old_lines,
                                  const std::vector<std::string_view>& new_lines);

}  // namespace brackwen
