// The parser input and the whole-text driver every grammar over git's output runs under.
//
// A parser is any callable `std::optional<T>(Input&)`. On success it leaves `position`
// after what it consumed; on failure it leaves `position` where it started. Positions are
// byte offsets into valid UTF-8 and always lie on code-point boundaries, so reading and
// backtracking are constant time and slices need no re-encoding; the failure report
// converts the furthest position to a count of code points.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "parser/utf8.hpp"

namespace brackwen {

struct Input {
  std::string_view text;  // valid UTF-8: parse_all repairs any other text first
  size_t position = 0;
  size_t furthest_position = 0;

  bool at_end() const { return position >= text.size(); }

  // The code point at `position`. Reading past the end is a grammar bug, so it stops the
  // program rather than reading out of bounds.
  char32_t peek() const {
    if (at_end()) [[unlikely]]
      std::abort();
    auto b = static_cast<unsigned char>(text[position]);
    if (b < 0x80) return b;
    return peek_multibyte();
  }

  // Byte length of the code point at `position`; stops the program at the end, as peek.
  size_t peek_length() const {
    if (at_end()) [[unlikely]]
      std::abort();
    auto b = static_cast<unsigned char>(text[position]);
    return b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
  }

  // Moves past one code point, raising `furthest_position` when it was not beyond.
  void advance() { advance_to(position + peek_length()); }

  // Moves forward to `to` (a code-point boundary), as if advancing one code point at a time.
  void advance_to(size_t to) {
    position = to;
    if (furthest_position < to) furthest_position = to;
  }

  // Backtracking never lowers `furthest_position`.
  void reset(size_t to) { position = to; }

  std::string slice(size_t from, size_t to) const {
    return std::string(text.substr(from, to - from));
  }

 private:
  char32_t peek_multibyte() const;
};

size_t count_code_points(std::string_view text);

// Writes the failure report of a grammar that stopped before the end of its text.
void report_parse_failure(const Input& in);

// Matches `fixed` code point by code point; yields the fixed text on a full match.
std::optional<std::string_view> literal(Input& in, std::string_view fixed);

template <class P>
using parser_value_t = typename std::invoke_result_t<P&, Input&>::value_type;

// Tries each alternative from the same start; the first success wins.
template <class P, class... Ps>
std::optional<parser_value_t<P>> choice(Input& in, P&& first, Ps&&... rest) {
  if (auto v = first(in)) return v;
  if constexpr (sizeof...(rest) == 0) {
    return std::nullopt;
  } else {
    return choice(in, std::forward<Ps>(rest)...);
  }
}

// Runs `p` while input is left and it succeeds; never fails. `p` must consume on success.
template <class P>
std::vector<parser_value_t<P>> many(Input& in, P&& p) {
  std::vector<parser_value_t<P>> out;
  while (!in.at_end()) {
    auto v = p(in);
    if (!v) break;
    out.push_back(std::move(*v));
  }
  return out;
}

// Runs a grammar body; when it yields nothing, `position` goes back to where it started.
template <class F>
auto sequence(Input& in, F&& body) -> decltype(body(in)) {
  size_t start = in.position;
  auto v = body(in);
  if (!v) in.reset(start);
  return v;
}

// Runs `parser` over the whole text. Text left over prints the failure report on
// standard error and yields nothing; a parser failing on an empty text yields nothing
// silently.
// Text that is not valid UTF-8 is parsed as its lossy decoding.
template <class P>
std::optional<parser_value_t<P>> parse_all(std::string_view text, P&& parser) {
  if (!is_valid_utf8(text)) {
    std::string repaired = decode_utf8_lossy(text);
    return parse_all(std::string_view(repaired), parser);
  }
  Input in{text};
  auto v = parser(in);
  if (in.at_end()) return v;
  report_parse_failure(in);
  return std::nullopt;
}

}  // namespace brackwen
