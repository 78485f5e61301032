// Paths the diff readers take from git's listings, which print every byte sequence of a name
// that is not UTF-8 as U+FFFD: such a path no longer tells which file it came from.
#pragma once
#include <string_view>

namespace brackwen {

// True when `path` holds U+FFFD: "caf\xe9.txt" and a file named with U+FFFD itself are then
// listed alike, and reading the path as written would show the second file's lines for both.
// One line on standard error then says that `read` stopped for it; the path is not in it.
bool refuse_listed_path(std::string_view read, std::string_view path);

}  // namespace brackwen
