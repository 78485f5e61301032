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

// Scans a file's text (valid UTF-8) for conflict regions. Absent once the rows and cells would
// make the request hold more than a reply may (HeldBytes).
std::optional<ConflictFile> read_conflicts(std::string_view text);

// Reads the file `new_file` and scans it. A relative `new_file`, as git reports it, is joined to
// the top of the work tree git uses for `repo_path`, or to `repo_path` itself where git finds
// no work tree there; an absolute one stands alone, read through any link on its way, and no git
// runs for it. Absent for a path that holds U+FFFD (refuse_listed_path), where git's answer is
// not known (it could not run, or a limit stopped it), when the file is not a regular file, when
// a relative one lies behind a link inside the folder joined to, when it is not UTF-8, and when
// it and its rows would make the request hold more than a reply may.
std::optional<ConflictFile> load_conflicted_file(std::string_view repo_path,
                                                 std::string_view new_file);

}  // namespace brackwen
