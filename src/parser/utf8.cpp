// UTF-8 validation (simdjson's vectorised checker) and the replacement decoder.
#include "parser/utf8.hpp"

#include <simdjson.h>

#include <cstdint>

namespace brackwen {
namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";

// Length of the well-formed sequence at `i`, or the length of its maximal invalid subpart
// (at least 1) negated. Ranges are those of the standard's table of well-formed sequences.
int sequence_at(std::string_view s, size_t i) {
  auto b = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  uint8_t lead = b(i);
  if (lead < 0x80) return 1;
  int need;
  uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the first continuation byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    return -1;
  }
  size_t k = i + 1;
  for (int n = 0; n < need; ++n, ++k) {
    if (k >= s.size()) return -static_cast<int>(k - i);
    uint8_t c = b(k);
    uint8_t min = n == 0 ? lo : 0x80, max = n == 0 ? hi : 0xBF;
    if (c < min || c > max) return -static_cast<int>(k - i);
  }
  return need + 1;
}

std::string replace_invalid(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 8);
  size_t i = 0, run = 0;  // [run, i) is valid text not yet copied
  while (i < s.size()) {
    if (static_cast<uint8_t>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    int n = sequence_at(s, i);
    if (n > 0) {
      i += static_cast<size_t>(n);
      continue;
    }
    out.append(s.substr(run, i - run));
    out.append(REPLACEMENT);
    i += static_cast<size_t>(-n);
    run = i;
  }
  out.append(s.substr(run));
  return out;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  return simdjson::validate_utf8(bytes.data(), bytes.size());
}

std::string decode_utf8_lossy(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  return replace_invalid(bytes);
}

void repair_utf8(std::string& bytes) {
  if (!is_valid_utf8(bytes)) bytes = replace_invalid(bytes);
}

}  // namespace brackwen
