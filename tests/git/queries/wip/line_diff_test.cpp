#include "git/queries/wip/line_diff.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace brackwen {
namespace {

size_t lcs_length(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b) {
  std::vector<std::vector<size_t>> t(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = a.size(); i-- > 0;) {
    for (size_t j = b.size(); j-- > 0;) {
      t[i][j] = a[i] == b[j] ? t[i + 1][j + 1] + 1 : std::max(t[i + 1][j], t[i][j + 1]);
    }
  }
  return t[0][0];
}

// Replays the script: it must rebuild both sides, and no "+" may come right before a "-".
void expect_valid_script(const std::vector<std::string_view>& a,
                         const std::vector<std::string_view>& b,
                         const std::vector<LineChange>& script) {
  size_t i = 0;
  size_t j = 0;
  for (size_t k = 0; k < script.size(); ++k) {
    switch (script[k]) {
      case LineChange::Same:
        ASSERT_LT(i, a.size());
        ASSERT_LT(j, b.size());
        ASSERT_EQ(a[i++], b[j++]);
        break;
      case LineChange::Removed:
        ASSERT_LT(i++, a.size());
        ASSERT_TRUE(k == 0 || script[k - 1] != LineChange::Added) << "added before removed";
        break;
      case LineChange::Added:
        ASSERT_LT(j++, b.size());
        break;
    }
  }
  EXPECT_EQ(i, a.size());
  EXPECT_EQ(j, b.size());
}

TEST(LineDiff, RandomTextsGetAMinimalScript) {
  std::mt19937 random(7);
  // Lines drawn from `alphabet`, with `percent` odds from its first three lines alone.
  auto check = [&](const std::vector<std::string>& alphabet, unsigned percent, size_t max_lines,
                   int rounds) {
    auto make = [&](size_t n) {
      std::vector<std::string_view> lines;
      for (size_t k = 0; k < n; ++k) {
        bool repeated = random() % 100 < percent;
        lines.push_back(alphabet[random() % (repeated ? 3 : alphabet.size())]);
      }
      return lines;
    };
    for (int round = 0; round < rounds; ++round) {
      auto a = make(random() % max_lines);
      auto b = make(random() % max_lines);
      auto script = line_diff(a, b);
      expect_valid_script(a, b, script);
      auto same = static_cast<size_t>(std::count(script.begin(), script.end(), LineChange::Same));
      ASSERT_EQ(same, lcs_length(a, b)) << max_lines << " lines, round " << round;
    }
  };
  std::vector<std::string> small = {"\n", "}\n", "c\r\n", "c\n", "c\r", "c"};
  for (char c = 'a'; c <= 'r'; ++c) small.push_back(std::string(1, c) + "\n");
  check(small, 0, 80, 500);
  // A few lines that repeat often among many that occur once: xdiff on its own sets the
  // repeated lines aside where they stand among unmatched ones, and misses matches.
  std::vector<std::string> often;
  for (int k = 0; k < 3000; ++k) often.push_back(std::to_string(k) + "u\n");
  check(often, 40, 300, 200);
  // Past about 512 edits xdiff's heuristics could engage; an input this small stays exact.
  check(std::vector<std::string>(often.begin(), often.begin() + 40), 0, 1000, 10);
}

TEST(LineDiff, ReplacedBlockListsRemovedLinesFirst) {
  std::vector<std::string_view> a = {"1\n", "x\n", "y\n", "2\n"};
  std::vector<std::string_view> b = {"1\n", "p\n", "q\n", "r\n", "2\n"};
  using C = LineChange;
  EXPECT_EQ(line_diff(a, b), (std::vector<C>{C::Same, C::Removed, C::Removed, C::Added, C::Added,
                                             C::Added, C::Same}));
  EXPECT_EQ(line_diff({}, {}), std::vector<C>());
  EXPECT_EQ(line_diff({}, {"n"}), std::vector<C>{C::Added});
  EXPECT_EQ(line_diff({"o"}, {}), std::vector<C>{C::Removed});
}

}  // namespace
}  // namespace brackwen
