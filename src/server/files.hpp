// Small file-system services for the front end: existence, temporary directory, size, and
// writing a text file. Paths are used as given (no "~" expansion, no normalisation).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brackwen {

// True when the path (symbolic links followed) has metadata. A NUL byte gives false.
bool path_exists(std::string_view path);

// TMPDIR as it is set (empty included), "/tmp" when unset; absent when not UTF-8.
std::optional<std::string> temp_dir();

// The size the file system reports, symbolic links followed. A NUL byte gives nothing.
std::optional<uint64_t> file_size(std::string_view path);

// Creates or truncates the file and writes `content` whole. False when it cannot be
// opened or written (the file may then hold part of the content).
bool write_file(std::string_view file_path, std::string_view content);

}  // namespace brackwen
