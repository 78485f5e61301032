// The memory a line diff may take, judged from counts of lines before each stage allocates for
// them: numbering the lines between the common ones, giving them tokens, and xdiff's records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "git/queries/wip/line_diff.hpp"

namespace brackwen {
namespace {

std::vector<std::string> numbered_lines(int count) {
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) lines.push_back(std::to_string(i) + "\n");
  return lines;
}

std::vector<std::string_view> views(const std::vector<std::string>& lines) {
  return {lines.begin(), lines.end()};
}

TEST(LineDiffBudget, EachStageIsJudgedBeforeItRuns) {
  constexpr int kLines = 2000;
  std::vector<std::string> old_lines = numbered_lines(kLines);
  // The two halves swapped: every line lies between the common ones (there are none), each is
  // on both sides, and the token texts differ, so xdiff is needed.
  std::vector<std::string> swapped(old_lines.begin() + kLines / 2, old_lines.end());
  swapped.insert(swapped.end(), old_lines.begin(), old_lines.begin() + kLines / 2);
  // Two lines changed near the ends: the lines between are on both sides in the same order,
  // their token texts alike, and xdiff is not needed.
  std::vector<std::string> edited = old_lines;
  edited[10] = "ten\n";
  edited[kLines - 10] = "almost the last\n";
  constexpr uint64_t moved = 2 * kLines;        // lines between the common ones
  constexpr uint64_t kept = 2 * (kLines - 21);  // lines 11 to 1989 on each side
  constexpr uint64_t edited_middle = kept + 4;  // and the two changed ones
  const std::tuple<const char*, const std::vector<std::string>*, uint64_t, bool> cases[] = {
      {"moved, short of numbering", &swapped, moved * NUMBERED_LINE_BYTES - 1, false},
      {"moved, short of tokens", &swapped, moved * (NUMBERED_LINE_BYTES + TOKEN_LINE_BYTES) - 1,
       false},
      {"moved, short of xdiff", &swapped,
       moved * (NUMBERED_LINE_BYTES + TOKEN_LINE_BYTES + XDIFF_LINE_BYTES) - 1, false},
      {"moved", &swapped, moved * (NUMBERED_LINE_BYTES + TOKEN_LINE_BYTES + XDIFF_LINE_BYTES),
       true},
      {"edited, short of numbering", &edited, edited_middle * NUMBERED_LINE_BYTES - 1, false},
      {"edited, short of tokens", &edited,
       edited_middle * NUMBERED_LINE_BYTES + kept * TOKEN_LINE_BYTES - 1, false},
      // Nothing is charged for xdiff, which is not asked.
      {"edited", &edited, edited_middle * NUMBERED_LINE_BYTES + kept * TOKEN_LINE_BYTES, true},
  };
  auto old_views = views(old_lines);
  for (const auto& [name, new_lines, most_bytes, diffed] : cases) {
    auto new_views = views(*new_lines);
    auto script = line_diff_within(old_views, new_views, most_bytes);
    ASSERT_EQ(script.has_value(), diffed) << name;
    if (script) {
      EXPECT_EQ(*script, line_diff(old_views, new_views)) << name;
    }
  }
}

}  // namespace
}  // namespace brackwen
