// The parsers where the fuzz targets cannot check them: the whole-text driver's failure report,
// how far a failed attempt looked, and the Unicode classes. Backtracking, runs, lines and the
// UTF-8 repair are checked there for every parser at every position.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "parser/diagnostics.hpp"
#include "parser/input.hpp"
#include "parser/standard_parsers.hpp"

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

TEST(ParseAll, LeftoverTextIsReportedAtTheFurthestPositionInCodePoints) {
  const std::tuple<Parser, std::string, std::optional<std::string>, std::string> cases[] = {
      {take_five, "éabcdxyz", std::nullopt,
       "5:\n  SUCCESSFULLY PARSED:\n  \"éabcd\"\n  \n"
       "  FAILED AT:\n  \"xyz\"\n\n"},
      {ab_then_c, "abd\"", std::nullopt,
       "2:\n  SUCCESSFULLY PARSED:\n  \"ab\"\n  \n"
       "  FAILED AT:\n  \"d\"\"\n\n"},
      // Text that is not UTF-8 is parsed as its repair.
      {ab_then_c, "ab\xFF\xFE", std::nullopt,
       "2:\n  SUCCESSFULLY PARSED:\n  \"ab\"\n  \n"
       "  FAILED AT:\n  \"\uFFFD\uFFFD\"\n\n"},
      {take_five, "ab€cd", "ab€cd", ""},
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
  Input in{"a", 1};
  EXPECT_DEATH(in.peek(), "");
}

TEST(StandardParsers, YieldsAndPositions) {
  using P = std::optional<std::string> (*)(Input&);
  const std::tuple<P, std::string, std::optional<std::string>, size_t, size_t> cases[] = {
      // parser, text, yield, position and furthest position in bytes
      {new_line, "\r\nx", "\r\n", 2, 2},
      {new_line, "\rx", std::nullopt, 0, 1},
      {until_new_line, "a\rb\n", "a\rb", 4, 4},
      {until_control_char, "ab\u0085cd", "ab", 4, 4},
      {until_control_char, "plain \u00e9", "plain \u00e9", 8, 8},
      {signed_number_text, "-5 x", "-5", 2, 2},
      {signed_number_text, "+17", "+17", 3, 3},
      {signed_number_text, "  42", "42", 4, 4},
      {signed_number_text, " -5", std::nullopt, 0, 1},
      {signed_number_text, "+", std::nullopt, 0, 1},
      {signed_number_text, "-x", std::nullopt, 0, 1},
      {signed_number_text, " ", std::nullopt, 0, 1},
  };
  for (const auto& [parser, text, yields, position, furthest] : cases) {
    Input in{text};
    EXPECT_EQ(parser(in), yields) << text;
    EXPECT_EQ(in.position, position) << text;
    EXPECT_EQ(in.furthest_position, furthest) << text;
  }
}

TEST(CharacterClasses, FollowUnicodeProperties) {
  using Class = bool (*)(char32_t);
  const std::tuple<Class, std::u32string, std::u32string> cases[] = {
      // class, members, non-members
      {is_whitespace, U"\t\r \u0085\u00A0\u1680\u2000\u200A\u2028\u2029\u202F\u205F\u3000",
       U"\x1C\u200B\uFEFFa"},
      {is_control, std::u32string(U"\0\x1F\x7F\u0080\u009F", 5), U" \u00A0\u200E"},
      {is_numeric, U"7\u0663\u00BD\u2167\U0001D7CE", U"a.\u00AA"},
      {is_alphanumeric, U"zQ5éß\u0905\u00BD", U"_-\u00A0\u2014"},
  };
  for (const auto& [in_class, members, others] : cases) {
    for (char32_t c : members) EXPECT_TRUE(in_class(c)) << static_cast<uint32_t>(c);
    for (char32_t c : others) EXPECT_FALSE(in_class(c)) << static_cast<uint32_t>(c);
  }
}

}  // namespace
}  // namespace brackwen
