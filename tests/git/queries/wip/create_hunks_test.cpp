#include "git/queries/wip/create_hunks.hpp"

#include <gtest/gtest.h>

#include <string>

namespace brackwen {
namespace {

// A line diff of an n-line file in which the lines in `changed` (1-based) were modified:
// each becomes a "-" line followed by a "+" line.
std::vector<HunkLine> modified(int n, std::vector<int> changed) {
  std::vector<HunkLine> out;
  auto push = [&](HunkLineStatus status, std::optional<int32_t> old_num,
                  std::optional<int32_t> new_num) {
    out.push_back(
        HunkLine{status, old_num, new_num, -1, "line", static_cast<uint32_t>(out.size()), "\n"});
  };
  for (int i = 1; i <= n; ++i) {
    if (std::find(changed.begin(), changed.end(), i) == changed.end()) {
      push(HunkLineStatus::Unchanged, i, i);
    } else {
      push(HunkLineStatus::Minus, i, std::nullopt);
      push(HunkLineStatus::Plus, std::nullopt, i);
    }
  }
  return out;
}

std::vector<int32_t> old_numbers(const Hunk& hunk) {
  std::vector<int32_t> out;
  for (const auto& line : hunk.lines) out.push_back(line.old_num.value_or(-1));
  return out;
}

TEST(CreateHunks, MiddleChangeGetsThreeLinesOfContextEachSide) {
  auto [hunks, count] = create_hunks(modified(20, {11}));
  EXPECT_EQ(count, 2u);
  ASSERT_EQ(hunks.size(), 1u);
  EXPECT_EQ(hunks[0].lines.size(), 8u);
  EXPECT_EQ(old_numbers(hunks[0]), (std::vector<int32_t>{8, 9, 10, 11, -1, 12, 13, 14}));
  EXPECT_EQ(hunks[0].old_line_range, (LineRange{8, 7}));
  EXPECT_EQ(hunks[0].new_line_range, (LineRange{8, 7}));
  EXPECT_EQ(hunks[0].index, 0);
  EXPECT_EQ(hunks[0].context_line, "");
  for (const auto& line : hunks[0].lines) EXPECT_EQ(line.hunk_index, 0);
}

TEST(CreateHunks, EndOfFileKeepsAllTrailingLinesAndTopOfFileHasLessContext) {
  auto near_end = create_hunks(modified(20, {15})).first;
  ASSERT_EQ(near_end.size(), 1u);
  EXPECT_EQ(old_numbers(near_end[0]),
            (std::vector<int32_t>{12, 13, 14, 15, -1, 16, 17, 18, 19, 20}));
  EXPECT_EQ(create_hunks(modified(10, {1})).first[0].lines.front().old_num, 1);
  EXPECT_EQ(old_numbers(create_hunks(modified(10, {3})).first[0]).front(), 1);
}

TEST(CreateHunks, SixUnchangedLinesJoinChangesAndSevenSplitThem) {
  auto joined = create_hunks(modified(30, {10, 17})).first;  // 11..16 between
  ASSERT_EQ(joined.size(), 1u);
  auto split = create_hunks(modified(30, {10, 18}));  // 11..17 between
  ASSERT_EQ(split.first.size(), 2u);
  EXPECT_EQ(split.second, 4u);
  EXPECT_EQ(old_numbers(split.first[0]).back(), 13);
  EXPECT_EQ(old_numbers(split.first[1]).front(), 15);  // line 14 is in neither hunk
  EXPECT_EQ(split.first[1].index, 1);
  for (const auto& line : split.first[1].lines) EXPECT_EQ(line.hunk_index, 1);
}

TEST(CreateHunks, OneSidedFilesAndNoChanges) {
  std::vector<HunkLine> added(3);
  std::vector<HunkLine> removed(3);
  for (int i = 0; i < 3; ++i) {
    added[i].status = HunkLineStatus::Plus;
    added[i].new_num = i + 1;
    removed[i].status = HunkLineStatus::Minus;
    removed[i].old_num = i + 1;
  }
  auto plus = create_hunks(added).first;
  ASSERT_EQ(plus.size(), 1u);
  EXPECT_EQ(plus[0].old_line_range, (LineRange{0, 1}));
  EXPECT_EQ(plus[0].new_line_range, (LineRange{1, 3}));
  auto minus = create_hunks(removed).first;
  EXPECT_EQ(minus[0].old_line_range, (LineRange{1, 3}));
  EXPECT_EQ(minus[0].new_line_range, (LineRange{0, 1}));

  // A removal at the end: the first line has a new number, the last has none.
  auto tail = modified(5, {});
  tail.push_back(HunkLine{HunkLineStatus::Minus, 6, std::nullopt, -1, "x", 5, "\n"});
  EXPECT_EQ(create_hunks(tail).first[0].new_line_range, (LineRange{3, 0}));

  EXPECT_EQ(create_hunks({}), (std::pair<std::vector<Hunk>, uint32_t>{{}, 0}));
  EXPECT_EQ(create_hunks(modified(9, {})).first.size(), 0u);
}

}  // namespace
}  // namespace brackwen
