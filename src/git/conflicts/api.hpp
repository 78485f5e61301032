// The conflicted-file reader: a working-copy file with git's conflict markers turned into
// side-by-side rows and the two aligned sides of every conflict.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace brackwen {

enum class ConflictSide { Left, Right };

// "Left" or "Right": the first part of a conflict cell's key.
std::string_view fmt_conflict_side(ConflictSide side);

// Pads the shorter side of a closed conflict.
struct ConflictBlank {
  uint64_t section = 0;
  bool operator==(const ConflictBlank&) const = default;
};

struct ConflictCell {
  std::string text;
  ConflictSide side = ConflictSide::Left;
  uint64_t section = 0;
  std::string key;
  bool operator==(const ConflictCell&) const = default;
};

using ConflictSideLine = std::variant<ConflictBlank, ConflictCell>;

// Row `index` of conflict section `section`.
struct ConflictSlot {
  uint64_t section = 0;
  uint64_t index = 0;
  bool operator==(const ConflictSlot&) const = default;
};

// An unconflicted line, without its line end.
struct ConflictOk {
  std::string text;
  bool operator==(const ConflictOk&) const = default;
};

using ConflictLine = std::variant<ConflictSlot, ConflictOk>;

struct ConflictSection {
  std::vector<ConflictSideLine> left;
  std::vector<ConflictSideLine> right;
  bool operator==(const ConflictSection&) const = default;
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

// Reads `new_file` (relative to `repo_path` unless absolute) and scans it. Absent when the
// file cannot be read, is not UTF-8, or either path holds a NUL byte.
std::optional<ConflictFile> load_conflicted_file(std::string_view repo_path,
                                                 std::string_view new_file);

}  // namespace brackwen
