// The scalar writers: string escapes, integers and the float layout the front end expects.
#include "api_types/json_writer.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace brackwen {
namespace {

constexpr uint64_t ONES = 0x0101010101010101ull;
constexpr uint64_t HIGH_BITS = 0x8080808080808080ull;

uint64_t zero_byte_bits(uint64_t w) {
  return (w - ONES) & ~w & HIGH_BITS;
}

// Whether any of eight bytes is a control character, a double quote or a backslash. Strings are
// mostly plain paths and messages, so whole words are skipped at once.
bool word_needs_escape(uint64_t w) {
  uint64_t control = (w - ONES * 0x20) & ~w & HIGH_BITS;
  return (control | zero_byte_bits(w ^ (ONES * '"')) | zero_byte_bits(w ^ (ONES * '\\'))) != 0;
}

bool byte_needs_escape(unsigned char c) {
  return c < 0x20 || c == '"' || c == '\\';
}

void append_escape(std::string& out, unsigned char c) {
  switch (c) {
    case '"':
      out.append("\\\"");
      return;
    case '\\':
      out.append("\\\\");
      return;
    case '\b':
      out.append("\\b");
      return;
    case '\t':
      out.append("\\t");
      return;
    case '\n':
      out.append("\\n");
      return;
    case '\f':
      out.append("\\f");
      return;
    case '\r':
      out.append("\\r");
      return;
  }
  static constexpr char HEX_DIGITS[] = "0123456789abcdef";
  char escape[6] = {'\\', 'u', '0', '0', HEX_DIGITS[c >> 4], HEX_DIGITS[c & 0xf]};
  out.append(escape, 6);
}

template <class Int>
void append_integer(std::string& out, Int value) {
  char buf[24];
  auto result = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, result.ptr - buf);
}

}  // namespace

void write_json(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size() + 2);
  out.push_back('"');
  const char* p = text.data();
  const char* end = p + text.size();
  const char* run = p;
  while (p < end) {
    if (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if (!word_needs_escape(word)) {
        p += 8;
        continue;
      }
    }
    auto c = static_cast<unsigned char>(*p);
    if (byte_needs_escape(c)) {
      out.append(run, p - run);
      append_escape(out, c);
      run = p + 1;
    }
    ++p;
  }
  out.append(run, end - run);
  out.push_back('"');
}

void write_json(std::string& out, bool value) {
  out.append(value ? "true" : "false");
}
void write_json(std::string& out, uint32_t value) {
  append_integer(out, value);
}
void write_json(std::string& out, int32_t value) {
  append_integer(out, value);
}
void write_json(std::string& out, uint64_t value) {
  append_integer(out, value);
}

// The shortest digits come from std::to_chars; the layout is the one the front end has always
// received: whole values up to 13 digits as "digits.0", small ones as "0.000ddd", others in
// exponent form without "+" or leading zeros in the exponent.
void write_json(std::string& out, float value) {
  if (!std::isfinite(value)) {
    out.append("null");
    return;
  }
  char buf[32];
  auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  std::string_view text(buf, result.ptr - buf);
  if (text.front() == '-') {
    out.push_back('-');
    text.remove_prefix(1);
  }
  size_t e_at = text.find('e');
  char digits[16];
  int n = 0;
  for (char c : text.substr(0, e_at)) {
    if (c != '.') digits[n++] = c;
  }
  std::string_view exponent = text.substr(e_at + 1);
  if (exponent.front() == '+') exponent.remove_prefix(1);
  int scientific = 0;
  std::from_chars(exponent.data(), exponent.data() + exponent.size(), scientific);

  if (n == 1 && digits[0] == '0') {
    out.append("0.0");
    return;
  }
  int k = scientific + 1;  // the position of the decimal point after the first digit
  int e = k - n;
  if (e >= 0 && k <= 13) {
    out.append(digits, n);
    out.append(e, '0');
    out.append(".0");
  } else if (k > 0 && k <= 13) {
    out.append(digits, k);
    out.push_back('.');
    out.append(digits + k, n - k);
  } else if (k > -6 && k <= 0) {
    out.append("0.");
    out.append(-k, '0');
    out.append(digits, n);
  } else {
    out.push_back(digits[0]);
    if (n > 1) {
      out.push_back('.');
      out.append(digits + 1, n - 1);
    }
    out.push_back('e');
    append_integer(out, k - 1);
  }
}

}  // namespace brackwen
