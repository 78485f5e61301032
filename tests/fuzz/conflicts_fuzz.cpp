// Fuzzes the conflicted-file reader: every row of the file view points at a real cell, both
// sides of a closed conflict are aligned, and no line of the file is lost or invented.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "git/conflicts/api.hpp"
#include "parser/utf8.hpp"

namespace brackwen {
namespace {

size_t line_count(std::string_view text) {
  size_t lines = 0;
  for (size_t at = 0; at < text.size(); ++lines) {
    size_t lf = text.find('\n', at);
    at = lf == std::string_view::npos ? text.size() : lf + 1;
  }
  return lines;
}

bool is_marker(std::string_view line) {
  return line.starts_with("<<<<<<<") || line.starts_with("=======") || line.starts_with(">>>>>>>");
}

void check_side(const std::vector<ConflictSideLine>& cells, size_t section, ConflictSide side,
                std::string_view name, size_t& content_lines) {
  for (size_t i = 0; i < cells.size(); ++i) {
    const ConflictSideLine& cell = cells[i];
    fuzz_require(cell.section == section, "a cell of another section");
    if (cell.kind == ConflictSideLine::Kind::Blank) continue;
    ++content_lines;
    fuzz_require(cell.side == side, "a cell on the other side");
    fuzz_require(
        cell.key == std::string(name) + "-" + std::to_string(section) + "-" + std::to_string(i),
        "a cell key that does not name its place");
    fuzz_require(cell.text.find('\n') == std::string::npos && !is_marker(cell.text),
                 "a cell holds a line end or a marker");
  }
}

}  // namespace
}  // namespace brackwen

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brackwen;
  // The reader is only handed files that are UTF-8.
  std::string text = decode_utf8_lossy(fuzz_text(data, size));
  ConflictFile file = read_conflicts(text);

  size_t ok_lines = 0, slots = 0, content_lines = 0;
  for (const ConflictLine& line : file.lines) {
    if (line.kind == ConflictLine::Kind::Ok) {
      ++ok_lines;
      fuzz_require(line.text.find('\n') == std::string::npos, "a row holds a line end");
      fuzz_require(!is_marker(line.text), "a marker line shown as text");
      fuzz_require(line.text.size() <= file.max_line_length, "a row longer than the longest");
      continue;
    }
    ++slots;
    fuzz_require(line.section < file.sections.size(), "a row of a missing section");
    const ConflictSection& section = file.sections[line.section];
    fuzz_require(line.index < section.left.size() && line.index < section.right.size(),
                 "a row past its section's cells");
  }
  size_t cells = 0;
  for (size_t s = 0; s < file.sections.size(); ++s) {
    const ConflictSection& section = file.sections[s];
    check_side(section.left, s, ConflictSide::Left, "Left", content_lines);
    check_side(section.right, s, ConflictSide::Right, "Right", content_lines);
    cells += section.left.size();
  }
  fuzz_require(slots <= cells, "more rows than aligned cells");
  // Marker lines are the only lines that are neither rows nor cells.
  size_t markers = 0;
  for (size_t at = 0; at < text.size();) {
    size_t lf = text.find('\n', at);
    std::string_view line = std::string_view(text).substr(at, lf - at);
    markers += is_marker(line);
    at = lf == std::string::npos ? text.size() : lf + 1;
  }
  fuzz_require(ok_lines + content_lines + markers == line_count(text), "lines lost or invented");
  return 0;
}
