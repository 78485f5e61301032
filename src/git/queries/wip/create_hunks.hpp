// Hunks of a working-copy diff: runs of changed lines with up to three lines of context.
#pragma once
#include <cstdint>
#include <utility>
#include <vector>

#include "git/queries/wip/wip_diff.hpp"
#include "model/hunk.hpp"

namespace brackwen {

// A hunk as a stretch of the diff's line list: from its first line to the entry after its last.
struct WipHunk {
  LineRange old_line_range;
  LineRange new_line_range;
  WipLineCursor first;
  size_t end = 0;
};

// The hunks of a diff and its number of changed lines. Changes separated by six or fewer
// unchanged lines share a hunk.
std::pair<std::vector<WipHunk>, uint32_t> create_hunks(const WipDiff& diff);

// What the hunks make of the reply "/f/load_wip_hunks" sends: their lines, as
// wip_lines_reply_bytes counts them, and a record's worth for each hunk.
uint64_t hunks_reply_bytes(const WipDiff& diff, const std::vector<WipHunk>& hunks);

}  // namespace brackwen
