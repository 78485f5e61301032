// Fuzzes the line-splitting grammars through parse_all: lists of until_new_line and
// first_words_of_lines, against a plain split of the repaired text.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "parser/input.hpp"
#include "parser/standard_parsers.hpp"
#include "parser/utf8.hpp"

namespace brackwen {
namespace {

// Lines end at LF, a CR right before it belongs to the end, and a final LF opens no line.
std::vector<std::string> plain_lines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    if (lf != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    lines.emplace_back(line);
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
  }
  return lines;
}

}  // namespace
}  // namespace brackwen

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brackwen;
  std::string_view bytes = fuzz_text(data, size);
  std::vector<std::string> expected = plain_lines(decode_utf8_lossy(bytes));

  auto lines = parse_all(bytes, [](Input& in) { return std::optional(many(in, until_new_line)); });
  fuzz_require(lines == expected, "until_new_line lines differ from a plain split");

  // The first words cover the whole text exactly when every line starts with one.
  auto words = parse_all(bytes, first_words_of_lines);
  std::vector<std::string> first_words;
  for (const std::string& line : expected) {
    Input in{line};
    auto word = alphanumeric_word(in);
    if (!word) break;
    first_words.push_back(*word);
  }
  if (first_words.size() == expected.size()) {
    fuzz_require(words == first_words, "first words differ from the lines' first words");
  } else {
    fuzz_require(!words.has_value(), "first words accepted a line without one");
  }
  return 0;
}
