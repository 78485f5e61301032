#include "git/queries/hunks/hunk_line_parsers.hpp"

#include <gtest/gtest.h>

namespace brackwen {
namespace {

struct RangeCase {
  std::string text;
  std::optional<LineRange> range;
  size_t position;
};

TEST(HunkRange, ReadsBothFormsAndFallsBackToOneNumber) {
  const RangeCase cases[] = {
      {"-12,5 +13", LineRange{12, 5}, 5},
      {"+13 @@", LineRange{13, 1}, 3},
      {"-0,0", LineRange{0, 0}, 4},
      {"-7,x", LineRange{7, 1}, 2},                      // no length after the comma
      {"-99999999999999999999,2", LineRange{0, 2}, 23},  // start does not read: 0
      {"+1,99999999999", LineRange{1, 0}, 14},           // length overflows: 0
      {"-4294967297,1", LineRange{1, 1}, 13},            // low 32 bits of the start
      {"@@", std::nullopt, 0},
      {"-", std::nullopt, 0},
  };
  for (const auto& c : cases) {
    Input in{c.text};
    EXPECT_EQ(hunk_range(in), c.range) << c.text;
    EXPECT_EQ(in.position, c.position) << c.text;
  }
}

TEST(HunkLineText, SplitsTextFromItsLineEnd) {
  struct Case {
    std::string text;
    std::string line;
    std::string ending;
    size_t position;
  };
  const Case cases[] = {
      {"abc\ndef", "abc", "\n", 4},
      {"a\r\nb", "a", "\r\n", 3},
      {"a\rb\n", "a\rb", "\n", 4},
      {"last", "last", "", 4},
      {"", "", "", 0},
      {"\n", "", "\n", 1},
      {"é\r", "é\r", "", 3},
  };
  for (const auto& c : cases) {
    Input in{c.text};
    auto v = hunk_line_text(in);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->first, c.line);
    EXPECT_EQ(v->second, c.ending);
    EXPECT_EQ(in.position, c.position);
  }
}

}  // namespace
}  // namespace brackwen
