#include "parser/input.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "parser/diagnostics.hpp"

namespace brackwen {
namespace {

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

std::optional<std::string_view> letter_a(Input& in) {
  return literal(in, "a");
}

// "ab" then "c": on "abd" it fails after consuming "ab" and backtracks to its start.
std::optional<std::string> ab_then_c(Input& in) {
  auto abc = sequence(in, [](Input& in) -> std::optional<std::string> {
    if (!literal(in, "ab") || !literal(in, "c")) return std::nullopt;
    return "abc";
  });
  return abc;
}

// A writer thread writes the report: flushed before (earlier lines stay out) and after.
std::string report(const std::function<void()>& run) {
  flush_diagnostics(std::chrono::seconds(5));
  testing::internal::CaptureStderr();
  run();
  flush_diagnostics(std::chrono::seconds(5));
  return testing::internal::GetCapturedStderr();
}

TEST(ParseAll, ReportsLeftoverTextAtFurthestPositionInCodePoints) {
  std::optional<std::string> v;
  std::string text = report([&] { v = parse_all("éabcdxyz", take_five); });
  EXPECT_FALSE(v);
  EXPECT_EQ(text,
            "\nPARSE FAILURE AT POSITION 5:\n  SUCCESSFULLY PARSED:\n  \"éabcd\"\n  \n"
            "  FAILED AT:\n  \"xyz\"\n\n");
}

TEST(ParseAll, FailedGrammarIsReportedAtItsFurthestAttempt) {
  std::string text = report([] { EXPECT_FALSE(parse_all("abd\"", ab_then_c)); });
  EXPECT_EQ(text,
            "\nPARSE FAILURE AT POSITION 2:\n  SUCCESSFULLY PARSED:\n  \"ab\"\n  \n"
            "  FAILED AT:\n  \"d\"\"\n\n");
}

TEST(ParseAll, WholeTextConsumedIsSilent) {
  std::string text = report([] {
    EXPECT_EQ(parse_all("ab€cd", take_five), "ab€cd");
    EXPECT_EQ(parse_all("", [](Input& in) { return std::optional(many(in, letter_a)); }),
              std::vector<std::string_view>{});
    EXPECT_FALSE(parse_all("", take_five));
  });
  EXPECT_EQ(text, "");
}

TEST(ParseAll, InvalidUtf8IsParsedAsReplacementCharacters) {
  std::string text = report([] { EXPECT_FALSE(parse_all("ab\xFF\xFE", letter_a)); });
  EXPECT_EQ(text,
            "\nPARSE FAILURE AT POSITION 1:\n  SUCCESSFULLY PARSED:\n  \"a\"\n  \n"
            "  FAILED AT:\n  \"b\uFFFD\uFFFD\"\n\n");
}

TEST(Literal, PartialMatchRestoresPositionButCountsFurthest) {
  Input in{"\rx"};
  EXPECT_FALSE(literal(in, "\r\n"));
  EXPECT_EQ(in.position, 0u);
  EXPECT_EQ(in.furthest_position, 1u);
}

TEST(Literal, ComparesWholeCodePoints) {
  Input in{"é"};
  EXPECT_FALSE(literal(in, "e"));
  EXPECT_EQ(literal(in, "é"), "é");
  EXPECT_TRUE(in.at_end());
}

TEST(Choice, LaterAlternativeStartsWhereTheChoiceStarted) {
  Input in{"abx"};
  auto v = choice(
      in, [](Input& in) { return literal(in, "abc"); },
      [](Input& in) { return literal(in, "ab"); });
  EXPECT_EQ(v, "ab");
  EXPECT_EQ(in.position, 2u);
  EXPECT_EQ(in.furthest_position, 2u);
}

TEST(Many, StopsAtFirstFailureAndNeverFails) {
  Input in{"aab"};
  EXPECT_EQ(many(in, letter_a).size(), 2u);
  EXPECT_EQ(in.position, 2u);
  Input none{"b"};
  EXPECT_TRUE(many(none, letter_a).empty());
  EXPECT_EQ(none.position, 0u);
}

TEST(Sequence, FailureRestoresStartButKeepsFurthest) {
  Input in{"abd"};
  EXPECT_FALSE(ab_then_c(in));
  EXPECT_EQ(in.position, 0u);
  EXPECT_EQ(in.furthest_position, 2u);
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
