// The small file endpoints: "/f/path_exists", "/f/temp_dir", "/f/file_size", "/f/write_file".
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "server/reply.hpp"

namespace brackwen {

// Bodies: a bare JSON string (a path; "/f/temp_dir" reads and ignores it).
std::optional<Reply> handle_path_exists(std::string_view body);
std::optional<Reply> handle_temp_dir(std::string_view body);
std::optional<Reply> handle_file_size(std::string_view body);

// Body: WriteFileOpts. Replies true, or null on any failure; never false.
std::optional<Reply> handle_write_file(std::string_view body);

}  // namespace brackwen
