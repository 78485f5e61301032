// The conflicted-file reader: a working-copy file with git's conflict markers turned into
// side-by-side rows and the two aligned sides of every conflict.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/conflicts.hpp"

namespace brackwen {

// Scans a file's text (valid UTF-8) for conflict regions.
ConflictFile read_conflicts(std::string_view text);

// Reads the file `new_file` joined to `repo_path` and scans it. Absent when it is not a regular
// file that read_joined_file can read (no link inside the repository is followed), or is not
// UTF-8.
std::optional<ConflictFile> load_conflicted_file(std::string_view repo_path,
                                                 std::string_view new_file);

}  // namespace brackwen
