// Fuzzes the unified-diff grammar of one file: hunks and lines numbered in order, each line's
// numbers as its kind says, and line numbers that count on from the hunk header.
#include <cstdint>
#include <string_view>

#include "fuzz_check.hpp"
#include "git/queries/hunks/load_hunks.hpp"

namespace brackwen {
namespace {

void check_line(const HunkLine& line, size_t index, int32_t hunk_index) {
  fuzz_require(line.index == index && line.hunk_index == hunk_index, "a line out of place");
  fuzz_require(line.text.find('\n') == std::string::npos, "a line holds a line feed");
  fuzz_require(line.line_ending.empty() || line.line_ending == "\n" || line.line_ending == "\r\n",
               "an odd line ending");
  switch (line.status) {
    case HunkLineStatus::Plus:
      fuzz_require(!line.old_num && line.new_num, "an added line numbered as old");
      break;
    case HunkLineStatus::Minus:
      fuzz_require(line.old_num && !line.new_num, "a removed line numbered as new");
      break;
    case HunkLineStatus::Unchanged:
      fuzz_require(line.old_num && line.new_num, "a context line without both numbers");
      break;
    default:
      fuzz_require(false, "a header line inside a parsed hunk");
  }
}

// Each side's numbers start at the header's start and count on by one, past the largest
// int32_t by wrapping; a line that is no line of the file repeats the next number.
void check_side(std::optional<int32_t> number, uint32_t& next, std::string_view property) {
  if (!number) return;
  auto n = static_cast<uint32_t>(*number);
  fuzz_require(n == next || n == next - 1, property);
  next = n + 1;
}

void check_numbers(const Hunk& hunk) {
  auto old_next = static_cast<uint32_t>(hunk.old_line_range.start);
  auto new_next = static_cast<uint32_t>(hunk.new_line_range.start);
  for (const HunkLine& line : hunk.lines) {
    check_side(line.old_num, old_next, "old numbers skip");
    check_side(line.new_num, new_next, "new numbers skip");
  }
}

}  // namespace
}  // namespace brackwen

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brackwen;
  auto hunks = diff_hunks(fuzz_text(data, size));
  if (!hunks) return 0;
  for (size_t h = 0; h < hunks->size(); ++h) {
    const Hunk& hunk = (*hunks)[h];
    if (hunk.lines.empty() && hunk.index == 0) continue;  // a binary file's one empty hunk
    fuzz_require(hunk.index == static_cast<int32_t>(h), "a hunk out of place");
    for (size_t i = 0; i < hunk.lines.size(); ++i) check_line(hunk.lines[i], i, hunk.index);
    check_numbers(hunk);
  }
  return 0;
}
