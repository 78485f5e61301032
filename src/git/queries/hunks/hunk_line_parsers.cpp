// Hunk header ranges and hunk line texts of git's unified diff.
#include "git/queries/hunks/hunk_line_parsers.hpp"

#include <charconv>
#include <cstdint>
#include <string_view>

#include "parser/standard_parsers.hpp"

namespace brackwen {
namespace {

// Reads an optional sign and ASCII digits; anything else, or overflow, reads as 0.
template <class Int>
Int read_integer(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  Int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return 0;
  return value;
}

int32_t range_start(std::string_view text) {
  int64_t value = read_integer<int64_t>(text);
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : value;
  return static_cast<int32_t>(static_cast<uint32_t>(magnitude));
}

}  // namespace

std::optional<LineRange> hunk_range(Input& in) {
  auto with_length = sequence(in, [](Input& in) -> std::optional<LineRange> {
    auto start = signed_number_text(in);
    if (!start || !literal(in, ",")) return std::nullopt;
    auto length = signed_number_text(in);
    if (!length) return std::nullopt;
    return LineRange{range_start(*start), read_integer<int32_t>(*length)};
  });
  if (with_length) return with_length;
  auto start = signed_number_text(in);
  if (!start) return std::nullopt;
  return LineRange{range_start(*start), 1};
}

std::optional<std::pair<std::string_view, std::string_view>> hunk_line_text(Input& in) {
  size_t start = in.position;
  size_t feed = in.text.find('\n', start);
  if (feed == std::string_view::npos) {
    in.advance_to(in.text.size());
    return std::pair{in.text.substr(start), in.text.substr(in.text.size())};
  }
  bool crlf = feed > start && in.text[feed - 1] == '\r';
  size_t text_end = crlf ? feed - 1 : feed;
  in.advance_to(feed + 1);
  return std::pair{in.text.substr(start, text_end - start),
                   in.text.substr(text_end, feed + 1 - text_end)};
}

}  // namespace brackwen
