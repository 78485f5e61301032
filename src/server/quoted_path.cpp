// Quoting a path for a diagnostic line.
#include "server/quoted_path.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdio>

namespace brackwen {
namespace {

bool is_printable(UChar32 c) {
  if (c == ' ') return true;
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_SURROGATE:
    case U_PRIVATE_USE_CHAR:
    case U_UNASSIGNED:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
    case U_SPACE_SEPARATOR:
      return false;
    default:
      return true;
  }
}

void append_char(std::string& out, UChar32 c, std::string_view bytes) {
  switch (c) {
    case '\t':
      out += "\\t";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\\':
    case '"':
    case '\'':
      out += '\\';
      out += static_cast<char>(c);
      return;
    default:
      break;
  }
  if (is_printable(c) && !u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND)) {
    out += bytes;
    return;
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
  out += buf;
}

}  // namespace

std::string quoted_path(std::string_view path) {
  std::string out = "\"";
  int32_t i = 0;
  const auto* s = reinterpret_cast<const uint8_t*>(path.data());
  auto length = static_cast<int32_t>(path.size());
  while (i < length) {
    int32_t start = i;
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c >= 0) {
      append_char(out, c, path.substr(start, i - start));
      continue;
    }
    for (int32_t b = start; b < i; ++b) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", s[b]);
      out += buf;
    }
  }
  return out + "\"";
}

}  // namespace brackwen
