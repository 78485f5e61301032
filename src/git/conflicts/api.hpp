// The conflicted-file reader: a working-copy file with git's conflict markers turned into
// side-by-side rows and the two aligned sides of every conflict.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api_types/replies.hpp"

namespace brackwen {

// One row of the file view: row `index` of conflict section `section`, or an unconflicted
// line's text without its line end.
struct ConflictLine {
  enum class Kind { Slot, Ok };
  Kind kind = Kind::Ok;
  uint64_t section = 0;  // Slot
  uint64_t index = 0;    // Slot
  std::string text;      // Ok
  bool operator==(const ConflictLine&) const = default;
};

struct ConflictFile {
  std::vector<ConflictLine> lines;
  std::vector<ConflictSection> sections;
  std::string ref_name_top;
  std::string ref_name_bottom;
  std::string line_ending = "\n";
  uint64_t max_line_length = 0;
  bool operator==(const ConflictFile&) const = default;
};

// Scans a file's text (valid UTF-8) for conflict regions.
ConflictFile read_conflicts(std::string_view text);

// Reads the work-tree file `new_file` of `repo_path` and scans it. Absent when it is not a
// regular file that read_work_tree_entry can read (a symbolic link is not read through), or
// is not UTF-8.
std::optional<ConflictFile> load_conflicted_file(std::string_view repo_path,
                                                 std::string_view new_file);

}  // namespace brackwen
