// Diff hunks and their lines.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brackwen {

struct LineRange {
  int32_t start = 0;
  int32_t length = 0;
  bool operator==(const LineRange&) const = default;
};

// Plus = "+", Minus = "-", Unchanged = " ".
enum class HunkLineStatus { Plus, Minus, Unchanged, HeaderStart, HeaderEnd };

struct HunkLine {
  HunkLineStatus status = HunkLineStatus::Unchanged;
  std::optional<int32_t> old_num;
  std::optional<int32_t> new_num;
  int32_t hunk_index = 0;
  std::string text;
  uint32_t index = 0;
  std::string line_ending;
  bool operator==(const HunkLine&) const = default;
};

// A HunkLine whose texts are views into the diff text it was read from: the lines of a large
// diff are written out from git's own text, never copied one by one.
struct HunkLineView {
  HunkLineStatus status = HunkLineStatus::Unchanged;
  std::optional<int32_t> old_num;
  std::optional<int32_t> new_num;
  int32_t hunk_index = 0;
  std::string_view text;
  uint32_t index = 0;
  std::string_view line_ending;
};

struct Hunk {
  LineRange old_line_range;
  LineRange new_line_range;
  std::string context_line;
  std::vector<HunkLine> lines;
  int32_t index = 0;
  bool operator==(const Hunk&) const = default;
};

}  // namespace brackwen
