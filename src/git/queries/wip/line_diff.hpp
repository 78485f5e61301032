// A line diff: the edit script that turns one list of lines into another.
#pragma once
#include <cstdint>
#include <optional>
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

// The most memory the diff takes: for each line of either side between the lines both sides
// begin and end with (its number, and its share of the table that numbers the lines); for
// each line it gives a token; and for each token line xdiff gets, where the two token texts
// differ (xdiff's records of it).
inline constexpr uint64_t NUMBERED_LINE_BYTES = 56;
inline constexpr uint64_t TOKEN_LINE_BYTES = 24;
inline constexpr uint64_t XDIFF_LINE_BYTES = 192;

// The same diff, or nothing when it would take more than `most_bytes`: known from the count
// of the lines between the common ones before any is numbered, and from the count of those
// given tokens before any is made and before xdiff runs. The script itself is the caller's
// to count.
std::optional<std::vector<LineChange>> line_diff_within(
    const std::vector<std::string_view>& old_lines, const std::vector<std::string_view>& new_lines,
    uint64_t most_bytes);

}  // namespace brackwen
