// Hunks of a working-copy diff: runs of changed lines with up to three lines of context.
#pragma once
#include <cstdint>
#include <utility>
#include <vector>

#include "model/hunk.hpp"

namespace brackwen {

// The hunks of a full line diff (as `load_wip_diff` gives it) and its number of changed
// lines. Changes separated by six or fewer unchanged lines share a hunk.
std::pair<std::vector<Hunk>, uint32_t> create_hunks(const std::vector<HunkLine>& lines);

}  // namespace brackwen
