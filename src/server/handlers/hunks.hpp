// The hunk endpoints: a file of a commit, and a file of the working copy.
#pragma once
#include <optional>
#include <string_view>

#include "server/reply.hpp"

namespace brackwen {

// "/f/load_hunks": ReqHunkOptions -> [hunks, the lines of all hunks in one list, each hunk led
// by a "headerStart" and a "headerEnd" line, and a closing "headerStart" line with hunkIndex -1
// after the last hunk], or null. Written while it is sent.
std::optional<Reply> handle_load_hunks(std::string_view body);

// "/f/load_wip_hunks": ReqWipHunksOptions -> [hunks, changed-line count], or null.
std::optional<Reply> handle_load_wip_hunks(std::string_view body);

// "/f/load_wip_hunk_lines": ReqWipHunksOptions -> every line of the diff, or null.
std::optional<Reply> handle_load_wip_hunk_lines(std::string_view body);

}  // namespace brackwen
