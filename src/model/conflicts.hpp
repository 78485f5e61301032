// A conflicted working-copy file: its rows, and the two aligned sides of every conflict.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brackwen {

enum class ConflictSide { Left, Right };

// One cell of one side of a conflict: a line, or a blank that pads the shorter side.
struct ConflictSideLine {
  enum class Kind { Blank, Conflict };
  Kind kind = Kind::Blank;
  std::string text;                        // Conflict
  ConflictSide side = ConflictSide::Left;  // Conflict
  size_t section = 0;
  std::string key;  // Conflict: side, section and index, as "Left-0-2"
  bool operator==(const ConflictSideLine&) const = default;
};

struct ConflictSection {
  std::vector<ConflictSideLine> left;
  std::vector<ConflictSideLine> right;
  bool operator==(const ConflictSection&) const = default;
};

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

}  // namespace brackwen
