// Whole-file reads and whole-buffer writes that never stall the request loop.
#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace brackwen {

// Repeats partial writes and writes interrupted by a signal. False on any other error, or
// when a write stores nothing; the descriptor may then hold part of the bytes. errno tells.
bool write_whole(int fd, std::string_view bytes);

// The whole content of a regular file; nothing for anything else. Opened non-blocking, since
// a FIFO would stall the one request thread and a device such as /dev/zero would never end.
std::optional<std::string> read_regular_file(const std::filesystem::path& path);

}  // namespace brackwen
