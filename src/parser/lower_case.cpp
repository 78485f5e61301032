// Lower-casing through ICU, which knows the full and context-dependent mappings.
#include "parser/lower_case.hpp"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>

namespace brackwen {

std::string to_lower_unicode(std::string_view utf8) {
  bool ascii = std::all_of(utf8.begin(), utf8.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) {
    std::string out(utf8);
    for (char& c : out) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
  }
  auto text = icu::UnicodeString::fromUTF8(
      icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
  text.toLower(icu::Locale::getRoot());
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace brackwen
