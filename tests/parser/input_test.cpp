// The parser input: backtracking, the furthest position, and the whole-text failure report.
#include "parser/input.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "parser/diagnostics.hpp"

namespace brackwen {
namespace {

using Parser = std::function<std::optional<std::string>(Input&)>;

std::optional<std::string> take_five(Input& in) {
  return sequence(in, [](Input& in) -> std::optional<std::string> {
    size_t start = in.position;
    for (int i = 0; i < 5; ++i) {
      if (in.at_end()) return std::nullopt;
      in.advance();
    }
    return in.slice(start, in.position);
  });
}

// "ab" then "c": on "abd" it fails after consuming "ab" and backtracks to its start.
std::optional<std::string> ab_then_c(Input& in) {
  return sequence(in, [](Input& in) -> std::optional<std::string> {
    if (!literal(in, "ab") || !literal(in, "c")) return std::nullopt;
    return "abc";
  });
}

std::optional<std::string> letters_a(Input& in) {
  std::string out;
  for (auto a : many(in, [](Input& in) { return literal(in, "a"); })) out += a;
  return out;
}

std::optional<std::string> abc_or_ab(Input& in) {
  auto v = choice(
      in, [](Input& in) { return literal(in, "abc"); },
      [](Input& in) { return literal(in, "ab"); });
  return v ? std::optional<std::string>(*v) : std::nullopt;
}

TEST(Input, ParsersBacktrackButKeepTheFurthestPosition) {
  struct Case {
    Parser parser;
    std::string text;
    std::optional<std::string> yields;
    size_t position, furthest;
  };
  const Case cases[] = {
      {[](Input& in) { return std::optional<std::string>(literal(in, "\r\n")); }, "\rx",
       std::nullopt, 0, 1},
      {[](Input& in) { return std::optional<std::string>(literal(in, "e")); }, "é", std::nullopt, 0,
       0},  // whole code points
      {ab_then_c, "abd", std::nullopt, 0, 2},
      {abc_or_ab, "abx", "ab", 2, 2},  // the second alternative starts where the choice did
      {letters_a, "aab", "aa", 2, 2},
      {letters_a, "b", "", 0, 0},
  };
  for (const auto& c : cases) {
    Input in{c.text};
    EXPECT_EQ(c.parser(in), c.yields) << c.text;
    EXPECT_EQ(in.position, c.position) << c.text;
    EXPECT_EQ(in.furthest_position, c.furthest) << c.text;
  }
}

TEST(ParseAll, LeftoverTextIsReportedAtTheFurthestPositionInCodePoints) {
  const std::tuple<Parser, std::string, std::optional<std::string>, std::string> cases[] = {
      {take_five, "éabcdxyz", std::nullopt,
       "5:\n  SUCCESSFULLY PARSED:\n  \"éabcd\"\n  \n"
       "  FAILED AT:\n  \"xyz\"\n\n"},
      {ab_then_c, "abd\"", std::nullopt,
       "2:\n  SUCCESSFULLY PARSED:\n  \"ab\"\n  \n"
       "  FAILED AT:\n  \"d\"\"\n\n"},
      // Text that is not UTF-8 is parsed as its repair.
      {letters_a, "ab\xFF\xFE", std::nullopt,
       "1:\n  SUCCESSFULLY PARSED:\n  \"a\"\n  \n"
       "  FAILED AT:\n  \"b\uFFFD\uFFFD\"\n\n"},
      {take_five, "ab€cd", "ab€cd", ""},
      {letters_a, "", "", ""},
      {take_five, "", std::nullopt, ""},  // failing on an empty text is silent
  };
  for (const auto& [parser, text, yields, report] : cases) {
    flush_diagnostics(std::chrono::seconds(5));  // earlier lines stay out of the capture
    testing::internal::CaptureStderr();
    EXPECT_EQ(parse_all(text, parser), yields) << text;
    flush_diagnostics(std::chrono::seconds(5));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              report.empty() ? "" : "\nPARSE FAILURE AT POSITION " + report)
        << text;
  }
}

TEST(InputDeathTest, ReadingPastTheEndStopsTheProgram) {
  EXPECT_DEATH(
      {
        Input in{"a"};
        in.advance();
        in.peek();
      },
      "");
}

}  // namespace
}  // namespace brackwen
