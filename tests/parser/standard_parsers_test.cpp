#include "parser/standard_parsers.hpp"

#include <gtest/gtest.h>

namespace brackwen {
namespace {

using StringParser = std::optional<std::string> (*)(Input&);

struct Case {
  const char* name;
  StringParser parser;
  std::string text;
  std::optional<std::string> yields;
  size_t position;  // bytes
  size_t furthest;  // bytes
};

class StandardParsers : public testing::TestWithParam<Case> {};

TEST_P(StandardParsers, YieldAndPositions) {
  const Case& c = GetParam();
  Input in{c.text};
  EXPECT_EQ(c.parser(in), c.yields);
  EXPECT_EQ(in.position, c.position);
  EXPECT_EQ(in.furthest_position, c.furthest);
}

const std::string kNbsp = "\u00A0";
const std::string kArabicDigits = "\u0661\u0662\u0663";  // three 2-byte code points

INSTANTIATE_TEST_SUITE_P(
    Table, StandardParsers,
    testing::Values(
        Case{"line_lf", until_new_line, "abc\ndef", "abc", 4, 4},
        Case{"line_crlf", until_new_line, "abc\r\ndef", "abc", 5, 5},
        Case{"line_no_end", until_new_line, "abc", "abc", 3, 3},
        Case{"line_lone_cr", until_new_line, "a\rb\n", "a\rb", 4, 4},
        Case{"line_empty_input", until_new_line, "", "", 0, 0},
        Case{"line_empty_line", until_new_line, "\nx", "", 1, 1},
        Case{"line_cr_at_end", until_new_line, "ab\r", "ab\r", 3, 3},
        Case{"ctrl_nul", until_control_char, std::string("p/a th\0rest", 11), "p/a th", 7, 7},
        Case{"ctrl_none", until_control_char, "plain é", "plain é", 8, 8},
        Case{"ctrl_c1", until_control_char, "ab\u0085cd", "ab", 4, 4},
        Case{"ctrl_del", until_control_char, "ab\x7F", "ab", 3, 3},
        Case{"ctrl_empty", until_control_char, "", "", 0, 0},
        Case{"ws_nbsp", optional_whitespace, kNbsp + "x", kNbsp, 2, 2},
        Case{"ws_mixed", optional_whitespace, " \t\u3000\u2028x", " \t\u3000\u2028", 8, 8},
        Case{"ws_none", optional_whitespace, "x ", "", 0, 0},
        Case{"ws_info_sep_not_space", optional_whitespace, "\x1F", "", 0, 0},
        Case{"ws_zwsp_not_space", optional_whitespace, "\u200B", "", 0, 0},
        Case{"nl_lf", new_line, "\nx", "\n", 1, 1},
        Case{"nl_crlf", new_line, "\r\nx", "\r\n", 2, 2},
        Case{"nl_lone_cr", new_line, "\rx", std::nullopt, 0, 1},
        Case{"nl_end", new_line, "", std::nullopt, 0, 0},
        Case{"alnum_mixed", alphanumeric_word, "Émile42_x", "Émile42", 8, 8},
        Case{"alnum_cjk", alphanumeric_word, "漢字 x", "漢字", 6, 6},
        Case{"alnum_superscript", alphanumeric_word, "x²", "x²", 3, 3},
        Case{"alnum_none", alphanumeric_word, "-a", std::nullopt, 0, 0},
        Case{"alnum_end", alphanumeric_word, "", std::nullopt, 0, 0},
        Case{"num_ascii", numeric_word, "0042x", "0042", 4, 4},
        Case{"num_arabic_indic", numeric_word, kArabicDigits + "!", kArabicDigits, 6, 6},
        Case{"num_roman_numeral", numeric_word, "\u2167", "\u2167", 3, 3},
        Case{"num_letter", numeric_word, "a1", std::nullopt, 0, 0},
        Case{"signed_minus", signed_number_text, "-5 x", "-5", 2, 2},
        Case{"signed_plus", signed_number_text, "+17", "+17", 3, 3},
        Case{"signed_blanks", signed_number_text, "  42", "42", 4, 4},
        Case{"signed_blank_then_sign", signed_number_text, " -5", std::nullopt, 0, 1},
        Case{"signed_lone_plus", signed_number_text, "+", std::nullopt, 0, 1},
        Case{"signed_lone_minus", signed_number_text, "-x", std::nullopt, 0, 1},
        Case{"signed_blank_only", signed_number_text, " ", std::nullopt, 0, 1}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(CharacterClasses, FollowUnicodeProperties) {
  for (char32_t c : {U'\t', U'\r', U' ', U'\u0085', U'\u00A0', U'\u1680', U'\u2000', U'\u200A',
                     U'\u2028', U'\u2029', U'\u202F', U'\u205F', U'\u3000'})
    EXPECT_TRUE(is_whitespace(c)) << static_cast<uint32_t>(c);
  for (char32_t c : {U'\x1C', U'\u200B', U'\uFEFF', U'a'})
    EXPECT_FALSE(is_whitespace(c)) << static_cast<uint32_t>(c);

  for (char32_t c : {U'\0', U'\x1F', U'\x7F', U'\u0080', U'\u009F'}) EXPECT_TRUE(is_control(c));
  for (char32_t c : {U' ', U'\u00A0', U'\u200E'}) EXPECT_FALSE(is_control(c));

  for (char32_t c : {U'7', U'\u0663', U'\u00BD', U'\u2167', U'\U0001D7CE'})
    EXPECT_TRUE(is_numeric(c)) << static_cast<uint32_t>(c);
  for (char32_t c : {U'a', U'.', U'\u00AA'}) EXPECT_FALSE(is_numeric(c));

  for (char32_t c : {U'z', U'Q', U'5', U'é', U'ß', U'\u0905', U'\u00BD'})
    EXPECT_TRUE(is_alphanumeric(c)) << static_cast<uint32_t>(c);
  for (char32_t c : {U'_', U'-', U'\u00A0', U'\u2014'}) EXPECT_FALSE(is_alphanumeric(c));
}

TEST(FirstWordsOfLines, OneWordPerLineUntilAnEmptyLine) {
  using Words = std::vector<std::string>;
  const std::pair<std::string, std::optional<Words>> cases[] = {
      {"a1b2 rest\nc3d4\n", Words{"a1b2", "c3d4"}},
      {"abc\ndef", Words{"abc", "def"}},
      {"", Words{}},
      {"a1b2\n\nc3d4\n", std::nullopt},  // the list ends at the empty line, short of the end
  };
  for (const auto& [text, words] : cases) {
    EXPECT_EQ(parse_all(text, first_words_of_lines), words) << text;
  }
}

}  // namespace
}  // namespace brackwen
