// The hunk endpoints: a file of a commit, and a file of the working copy.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/hunk.hpp"
#include "server/reply.hpp"

namespace brackwen {

// The lines of all hunks in one list, each hunk led by a "headerStart" and a "headerEnd"
// line, and a closing "headerStart" line with hunkIndex -1 after the last hunk.
std::vector<HunkLine> hunk_line_list(const std::vector<Hunk>& hunks);

// "/f/load_hunks": ReqHunkOptions -> [hunks, hunk_line_list], or null.
std::optional<Reply> handle_load_hunks(std::string_view body);

// "/f/load_wip_hunks": ReqWipHunksOptions -> [hunks, changed-line count], or null.
std::optional<Reply> handle_load_wip_hunks(std::string_view body);

// "/f/load_wip_hunk_lines": ReqWipHunksOptions -> every line of the diff, or null.
std::optional<Reply> handle_load_wip_hunk_lines(std::string_view body);

}  // namespace brackwen
