// Code-point decoding and the failure report of the whole-text driver.
#include "parser/input.hpp"

#include "parser/diagnostics.hpp"

namespace brackwen {

char32_t Input::peek_multibyte() const {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[position + i]) & 0x3Fu; };
  auto b = static_cast<unsigned char>(text[position]);
  if (b < 0xE0) return ((b & 0x1Fu) << 6) | byte(1);
  if (b < 0xF0) return ((b & 0x0Fu) << 12) | (byte(1) << 6) | byte(2);
  return ((b & 0x07u) << 18) | (byte(1) << 12) | (byte(2) << 6) | byte(3);
}

size_t count_code_points(std::string_view text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

void report_parse_failure(const Input& in) {
  std::string report = "\nPARSE FAILURE AT POSITION ";
  report += std::to_string(count_code_points(in.text.substr(0, in.furthest_position)));
  report += ":\n  SUCCESSFULLY PARSED:\n  \"";
  report += in.text.substr(0, in.furthest_position);
  report += "\"\n  \n  FAILED AT:\n  \"";
  report += in.text.substr(in.furthest_position);
  report += "\"\n\n";
  write_stderr(std::move(report));
}

std::optional<std::string_view> literal(Input& in, std::string_view fixed) {
  size_t start = in.position;
  size_t i = 0;
  while (i < fixed.size()) {
    if (in.at_end()) break;
    size_t len = in.peek_length();
    if (in.text.compare(in.position, len, fixed.substr(i, len)) != 0) break;
    in.advance_to(in.position + len);
    i += len;
  }
  if (i == fixed.size()) return fixed;
  in.reset(start);
  return std::nullopt;
}

}  // namespace brackwen
