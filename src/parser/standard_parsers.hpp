// The character-level parsers that the grammars of git's output share.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "parser/input.hpp"

namespace brackwen {

// Unicode character classes (ASCII answered without a table lookup).
bool is_whitespace(char32_t c);    // White_Space property
bool is_control(char32_t c);       // general category Cc
bool is_numeric(char32_t c);       // 0-9, and Nd, Nl, No above U+007F
bool is_alphanumeric(char32_t c);  // ASCII letters and digits, Alphabetic or numeric above U+007F

// The text without the whitespace code points at both ends; `text` must be valid UTF-8.
std::string_view trim_whitespace(std::string_view text);

std::optional<std::string> optional_whitespace(Input& in);  // never fails
std::optional<std::string> new_line(Input& in);             // "\n" or "\r\n"
std::optional<std::string> until_new_line(Input& in);       // never fails
std::optional<std::string> until_control_char(Input& in);   // never fails
std::optional<std::string> alphanumeric_word(Input& in);
std::optional<std::string> numeric_word(Input& in);
std::optional<std::string> signed_number_text(Input& in);
std::optional<std::vector<std::string>> first_words_of_lines(Input& in);  // never fails

}  // namespace brackwen
