// Character classes from ICU's property data, with ASCII answered inline, and the
// character-level parsers built on them.
#include "parser/standard_parsers.hpp"

#include <unicode/uchar.h>

#include <cstring>

namespace brackwen {
namespace {

bool is_ascii_digit(char32_t c) {
  return c >= '0' && c <= '9';
}
bool is_ascii_letter(char32_t c) {
  return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

// Advances over the longest run of code points in the class; returns where the run began.
template <class Pred>
size_t skip_while(Input& in, Pred pred) {
  size_t start = in.position;
  size_t at = in.position;
  while (at < in.text.size()) {
    auto b = static_cast<unsigned char>(in.text[at]);
    if (b < 0x80) {
      if (!pred(static_cast<char32_t>(b))) break;
      ++at;
      continue;
    }
    in.position = at;
    if (!pred(in.peek())) break;
    at += in.peek_length();
  }
  in.position = start;
  if (at > start) in.advance_to(at);
  return start;
}

std::optional<std::string> nonempty_run(Input& in, bool (*pred)(char32_t)) {
  size_t start = skip_while(in, pred);
  if (in.position == start) return std::nullopt;
  return in.slice(start, in.position);
}

// Byte length of the control code point at `at`, or 0 when there is none. C1 controls
// (U+0080 to U+009F) are the only ones outside ASCII and are encoded as C2 80 to C2 9F.
size_t control_length_at(std::string_view text, size_t at) {
  auto b = static_cast<unsigned char>(text[at]);
  if (b < 0x20 || b == 0x7F) return 1;
  if (b == 0xC2 && at + 1 < text.size()) {
    auto next = static_cast<unsigned char>(text[at + 1]);
    if (next >= 0x80 && next <= 0x9F) return 2;
  }
  return 0;
}

}  // namespace

bool is_whitespace(char32_t c) {
  if (c < 0x80) return c == ' ' || (c >= 0x09 && c <= 0x0D);
  return u_isUWhiteSpace(static_cast<UChar32>(c));
}

bool is_control(char32_t c) {
  if (c < 0x80) return c < 0x20 || c == 0x7F;
  return u_charType(static_cast<UChar32>(c)) == U_CONTROL_CHAR;
}

bool is_numeric(char32_t c) {
  if (c < 0x80) return is_ascii_digit(c);
  switch (u_charType(static_cast<UChar32>(c))) {
    case U_DECIMAL_DIGIT_NUMBER:
    case U_LETTER_NUMBER:
    case U_OTHER_NUMBER:
      return true;
    default:
      return false;
  }
}

bool is_alphanumeric(char32_t c) {
  if (c < 0x80) return is_ascii_letter(c) || is_ascii_digit(c);
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_ALPHABETIC) || is_numeric(c);
}

std::optional<std::string> optional_whitespace(Input& in) {
  size_t start = skip_while(in, is_whitespace);
  return in.slice(start, in.position);
}

std::optional<std::string> new_line(Input& in) {
  if (auto lf = literal(in, "\n")) return std::string(*lf);
  if (auto crlf = literal(in, "\r\n")) return std::string(*crlf);
  return std::nullopt;
}

// The scan stops at the first "\n"; a "\r" right before it belongs to the line end.
// Jumping there raises `furthest_position` exactly as stepping one code point at a time.
std::optional<std::string> until_new_line(Input& in) {
  size_t start = in.position;
  size_t lf = in.text.find('\n', start);
  if (lf == std::string_view::npos) {
    in.advance_to(in.text.size());
    return in.slice(start, in.position);
  }
  size_t end = lf > start && in.text[lf - 1] == '\r' ? lf - 1 : lf;
  in.advance_to(lf + 1);
  return in.slice(start, end);
}

std::optional<std::string> until_control_char(Input& in) {
  size_t start = in.position;
  for (size_t at = start; at < in.text.size(); ++at) {
    size_t len = control_length_at(in.text, at);
    if (len == 0) continue;
    in.advance_to(at + len);
    return in.slice(start, at);
  }
  in.advance_to(in.text.size());
  return in.slice(start, in.position);
}

std::optional<std::string> alphanumeric_word(Input& in) {
  return nonempty_run(in, is_alphanumeric);
}

std::optional<std::string> numeric_word(Input& in) {
  return nonempty_run(in, is_numeric);
}

std::optional<std::string> signed_number_text(Input& in) {
  return sequence(in, [](Input& in) -> std::optional<std::string> {
    auto sign = choice(
        in, [](Input& in) { return literal(in, "-"); }, [](Input& in) { return literal(in, "+"); },
        [](Input& in) -> std::optional<std::string_view> {
          optional_whitespace(in);
          return std::string_view();
        });
    auto digits = numeric_word(in);
    if (!digits) return std::nullopt;
    return std::string(*sign) + *digits;
  });
}

std::optional<std::vector<std::string>> first_words_of_lines(Input& in) {
  return many(in, [](Input& in) -> std::optional<std::string> {
    auto word = alphanumeric_word(in);
    if (!word) return std::nullopt;
    until_new_line(in);
    return word;
  });
}

std::string_view trim_whitespace(std::string_view text) {
  Input in{text};
  size_t first = text.size();
  size_t last = 0;
  while (!in.at_end()) {
    size_t at = in.position;
    bool blank = is_whitespace(in.peek());
    in.position += in.peek_length();
    if (blank) continue;
    if (first == text.size()) first = at;
    last = in.position;
  }
  return first < last ? text.substr(first, last - first) : std::string_view{};
}

}  // namespace brackwen
