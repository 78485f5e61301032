// Fuzzes the UTF-8 repair against ICU's converter, then every standard parser at every position
// of the repaired text: the input contract holds (failures do not move, positions stay on
// code points, the furthest position never drops) and each parser yields what its class says.
#include <unicode/unistr.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "parser/input.hpp"
#include "parser/standard_parsers.hpp"
#include "parser/utf8.hpp"

namespace brackwen {
namespace {

// ICU replaces each maximal invalid subpart with one U+FFFD, as the repair must.
std::string repaired_by_icu(std::string_view bytes) {
  std::string out;
  icu::UnicodeString::fromUTF8(icu::StringPiece(bytes.data(), static_cast<int32_t>(bytes.size())))
      .toUTF8String(out);
  return out;
}

bool on_boundary(std::string_view text, size_t at) {
  return at == text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80;
}

template <class Pred>
bool all_code_points(std::string_view text, Pred pred) {
  Input in{text};
  for (; !in.at_end(); in.advance()) {
    if (!pred(in.peek())) return false;
  }
  return true;
}

// The code point ending just before `at`.
char32_t code_point_before(std::string_view text, size_t at) {
  size_t from = at - 1;
  while (!on_boundary(text, from)) --from;
  Input in{text, from};
  return in.peek();
}

// Runs `parser` at `at` and checks the contract every parser keeps.
template <class P>
auto attempt(Input& in, size_t at, P&& parser) {
  in.reset(at);
  size_t furthest = in.furthest_position;
  auto value = parser(in);
  fuzz_require(in.furthest_position >= furthest, "the furthest position went down");
  fuzz_require(in.furthest_position >= in.position, "position beyond the furthest position");
  fuzz_require(in.position <= in.text.size(), "position past the end");
  fuzz_require(on_boundary(in.text, in.position), "position inside a code point");
  if (!value) {
    fuzz_require(in.position == at, "a failed parser moved");
  } else {
    fuzz_require(in.position >= at, "a parser moved backwards");
  }
  return value;
}

// A word parser: a non-empty run of its class, and the longest one.
template <class P>
void check_run(Input& in, size_t at, P&& parser, bool (*in_class)(char32_t), bool may_be_empty) {
  auto word = attempt(in, at, parser);
  std::string_view text = in.text;
  bool starts_in_class = at < text.size() && in_class(Input{text, at}.peek());
  if (!word) {
    fuzz_require(!starts_in_class && !may_be_empty, "a run parser failed on its own class");
    return;
  }
  fuzz_require(*word == text.substr(at, in.position - at), "a run is not the text it covers");
  fuzz_require(may_be_empty || !word->empty(), "an empty word");
  fuzz_require(all_code_points(*word, in_class), "a run holds a code point of another class");
  fuzz_require(in.at_end() || !in_class(in.peek()), "a run stopped short");
}

void check_line_ends(Input& in, size_t at) {
  std::string_view text = in.text;
  if (auto end = attempt(in, at, new_line)) {
    fuzz_require(*end == "\n" || *end == "\r\n", "a line end other than LF or CR LF");
    fuzz_require(*end == text.substr(at, in.position - at), "a line end is not its text");
  } else {
    fuzz_require(!text.substr(at).starts_with("\n") && !text.substr(at).starts_with("\r\n"),
                 "a line end missed");
  }
  auto line = attempt(in, at, until_new_line);
  fuzz_require(line.has_value(), "until_new_line failed");
  fuzz_require(line->find('\n') == std::string::npos, "a line holds a line feed");
  fuzz_require(in.at_end() || text[in.position - 1] == '\n', "a line ended before its end");
  auto run = attempt(in, at, until_control_char);
  fuzz_require(run.has_value(), "until_control_char failed");
  fuzz_require(all_code_points(*run, [](char32_t c) { return !is_control(c); }),
               "a run up to a control character holds one");
  fuzz_require(*run == text.substr(at, run->size()), "a run up to a control is not its text");
  fuzz_require(in.position == text.size() || is_control(code_point_before(text, in.position)),
               "a run up to a control character stopped elsewhere");
}

void check_number(Input& in, size_t at) {
  auto number = attempt(in, at, signed_number_text);
  if (!number) return;
  std::string_view digits = *number;
  if (digits.starts_with('-') || digits.starts_with('+')) digits.remove_prefix(1);
  fuzz_require(!digits.empty() && all_code_points(digits, is_numeric), "a number without digits");
  fuzz_require(in.text.substr(in.position - digits.size(), digits.size()) == digits,
               "a number's digits are not the text before its end");
}

void check_literal(Input& in, size_t at) {
  size_t end = at;
  for (int n = 0; n < 3 && end < in.text.size(); ++n) end += Input{in.text, end}.peek_length();
  std::string_view next = in.text.substr(at, end - at);
  auto same = attempt(in, at, [&](Input& in) { return literal(in, next); });
  fuzz_require(same && in.position == end, "a literal missed the text it was taken from");
  std::string longer = std::string(next) + "\xEF\xBF\xBF";
  if (attempt(in, at, [&](Input& in) { return literal(in, longer); })) {
    fuzz_require(in.text.substr(at).starts_with(longer), "a literal matched other text");
  }
}

// Any text splits into tokens through parse_all, many and choice, and the tokens rebuild it.
void check_tokens(std::string_view text) {
  auto nonempty_whitespace = [](Input& in) {
    return sequence(in, [](Input& in) -> std::optional<std::string> {
      auto space = optional_whitespace(in);
      if (space->empty()) return std::nullopt;
      return space;
    });
  };
  auto one_code_point = [](Input& in) -> std::optional<std::string> {
    size_t start = in.position;
    in.advance();
    return in.slice(start, in.position);
  };
  auto tokens = parse_all(text, [&](Input& in) {
    return std::optional(many(in, [&](Input& in) {
      return choice(in, alphanumeric_word, numeric_word, new_line, nonempty_whitespace,
                    one_code_point);
    }));
  });
  fuzz_require(tokens.has_value(), "the tokenizer left text over");
  std::string joined;
  for (const std::string& token : *tokens) joined += token;
  fuzz_require(joined == decode_utf8_lossy(text), "the tokens do not rebuild the text");
}

}  // namespace
}  // namespace brackwen

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brackwen;
  std::string_view bytes = fuzz_text(data, size);
  std::string text = decode_utf8_lossy(bytes);
  fuzz_require(is_valid_utf8(text), "the repaired text is not UTF-8");
  fuzz_require(text == repaired_by_icu(bytes), "the repair differs from ICU's");
  std::string in_place(bytes);
  repair_utf8(in_place);
  fuzz_require(in_place == text, "the repair in place differs");
  fuzz_require(count_code_points(text) ==
                   static_cast<size_t>(icu::UnicodeString::fromUTF8(text).countChar32()),
               "the code point count differs from ICU's");

  Input in{text};
  char32_t previous = '\n';
  for (size_t at = 0; at < text.size(); at += Input{text, at}.peek_length()) {
    check_run(in, at, alphanumeric_word, is_alphanumeric, false);
    check_run(in, at, numeric_word, is_numeric, false);
    check_run(in, at, optional_whitespace, is_whitespace, true);
    check_number(in, at);
    check_literal(in, at);
    // The scans to the end of a line run where grammars call them: at line and field starts.
    if (is_control(previous)) check_line_ends(in, at);
    previous = Input{text, at}.peek();
  }
  check_tokens(bytes);
  return 0;
}
