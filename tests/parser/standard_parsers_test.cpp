// The standard parsers' yields and positions, and the Unicode classes under them.
#include "parser/standard_parsers.hpp"

#include <gtest/gtest.h>

namespace brackwen {
namespace {

TEST(StandardParsers, YieldsAndPositions) {
  using P = std::optional<std::string> (*)(Input&);
  const std::string digits = "\u0661\u0662\u0663";  // three 2-byte code points
  const std::tuple<P, std::string, std::optional<std::string>, size_t, size_t> cases[] = {
      // parser, text, yield, position and furthest position in bytes
      {until_new_line, "abc\r\ndef", "abc", 5, 5},
      {until_new_line, "a\rb\n", "a\rb", 4, 4},
      {until_new_line, "ab\r", "ab\r", 3, 3},
      {until_new_line, "\nx", "", 1, 1},
      {until_control_char, std::string("p/a th\0rest", 11), "p/a th", 7, 7},
      {until_control_char, "plain é", "plain é", 8, 8},
      {until_control_char, "ab\u0085cd", "ab", 4, 4},
      {until_control_char, "ab\x7F", "ab", 3, 3},
      {optional_whitespace, " \t\u00A0\u3000\u2028x", " \t\u00A0\u3000\u2028", 10, 10},
      {optional_whitespace, "\x1F", "", 0, 0},
      {optional_whitespace, "\u200B", "", 0, 0},
      {new_line, "\r\nx", "\r\n", 2, 2},
      {new_line, "\rx", std::nullopt, 0, 1},
      {new_line, "", std::nullopt, 0, 0},
      {alphanumeric_word, "Émile42_x", "Émile42", 8, 8},
      {alphanumeric_word, "漢字 x", "漢字", 6, 6},
      {alphanumeric_word, "x²", "x²", 3, 3},
      {alphanumeric_word, "-a", std::nullopt, 0, 0},
      {numeric_word, "0042x", "0042", 4, 4},
      {numeric_word, digits + "!", digits, 6, 6},
      {numeric_word, "\u2167", "\u2167", 3, 3},
      {numeric_word, "a1", std::nullopt, 0, 0},
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
