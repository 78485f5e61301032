// The data-store file reader. Failures are placed the way the front end has always shown
// them: at the character looked at when the fault is seen ("peek"), or just after the last
// character consumed ("here"); columns count bytes from 0 at a line's start.
#include "server/data_store_reader.hpp"

#include <unicode/utf8.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "server/static_files.hpp"

namespace brackwen {
namespace {

using Store = std::unordered_map<std::string, std::string>;

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

void append_utf8(std::string& out, uint32_t cp) {
  uint8_t buf[4];
  int32_t n = 0;
  U8_APPEND_UNSAFE(buf, n, cp);
  out.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
}

// How a number that stands where a text was expected is named.
std::string describe_number(std::string_view digits, bool is_integer) {
  if (is_integer) {
    if (digits.front() == '-') {
      int64_t v;
      auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
      if (ec == std::errc()) return "integer `" + std::to_string(v) + "`";
    } else {
      uint64_t v;
      auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
      if (ec == std::errc()) return "integer `" + std::to_string(v) + "`";
    }
  }
  double d = std::strtod(std::string(digits).c_str(), nullptr);
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed);
  std::string text(buf, ec == std::errc() ? end : buf);
  if (text.find('.') == std::string::npos) text += ".0";
  return "floating point `" + text + "`";
}

struct Reader {
  std::string_view text;
  size_t i = 0;
  std::string error;

  bool at_end() const { return i >= text.size(); }
  char peek() const { return text[i]; }

  void skip_whitespace() {
    while (!at_end() && (peek() == ' ' || peek() == '\n' || peek() == '\t' || peek() == '\r')) ++i;
  }

  bool fail_at(std::string_view what, size_t index) {
    size_t line = 1;
    size_t line_start = 0;
    for (size_t k = 0; k < index; ++k) {
      if (text[k] == '\n') {
        ++line;
        line_start = k + 1;
      }
    }
    error = std::string(what) + " at line " + std::to_string(line) + " column " +
            std::to_string(index - line_start);
    return false;
  }
  bool fail_peek(std::string_view what) { return fail_at(what, std::min(i + 1, text.size())); }
  bool fail_here(std::string_view what) { return fail_at(what, i); }

  std::optional<uint32_t> hex4() {
    if (text.size() - i < 4) {
      i = text.size();
      fail_here("EOF while parsing a string");
      return std::nullopt;
    }
    uint32_t n = 0;
    for (int k = 0; k < 4; ++k) {
      int v = hex_value(text[i++]);
      if (v < 0) {
        fail_here("invalid escape");
        return std::nullopt;
      }
      n = n * 16 + static_cast<uint32_t>(v);
    }
    return n;
  }

  bool read_unicode_escape(std::string& out) {
    auto first = hex4();
    if (!first) return false;
    uint32_t cp = *first;
    if (cp >= 0xDC00 && cp <= 0xDFFF) return fail_here("lone leading surrogate in hex escape");
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      for (char want : {'\\', 'u'}) {
        if (at_end()) return fail_here("EOF while parsing a string");
        if (text[i++] != want) return fail_here("unexpected end of hex escape");
      }
      auto second = hex4();
      if (!second) return false;
      if (*second < 0xDC00 || *second > 0xDFFF) {
        return fail_here("lone leading surrogate in hex escape");
      }
      cp = 0x10000 + ((cp - 0xD800) << 10) + (*second - 0xDC00);
    }
    append_utf8(out, cp);
    return true;
  }

  bool read_escape(std::string& out) {
    if (at_end()) return fail_here("EOF while parsing a string");
    switch (text[i++]) {
      case '"':
        out += '"';
        return true;
      case '\\':
        out += '\\';
        return true;
      case '/':
        out += '/';
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        return read_unicode_escape(out);
      default:
        return fail_here("invalid escape");
    }
  }

  // After the opening quote.
  bool read_string(std::string& out) {
    while (!at_end()) {
      auto c = static_cast<unsigned char>(text[i++]);
      if (c == '"') return true;
      if (c < 0x20)
        return fail_here("control character (\\u0000-\\u001F) found while parsing a string");
      if (c == '\\') {
        if (!read_escape(out)) return false;
        continue;
      }
      out += static_cast<char>(c);
    }
    return fail_here("EOF while parsing a string");
  }

  bool literal(std::string_view rest) {
    for (char want : rest) {
      if (at_end()) return fail_here("EOF while parsing a value");
      if (text[i++] != want) return fail_here("expected ident");
    }
    return true;
  }

  bool read_number(std::string& description) {
    size_t start = i;
    if (peek() == '-') ++i;
    if (at_end()) return fail_here("EOF while parsing a value");
    char lead = text[i++];
    if (!is_digit(lead)) return fail_here("invalid number");
    if (lead == '0' && !at_end() && is_digit(peek())) return fail_peek("invalid number");
    while (!at_end() && is_digit(peek())) ++i;
    bool is_integer = true;
    if (!at_end() && peek() == '.') {
      ++i;
      is_integer = false;
      if (at_end()) return fail_peek("EOF while parsing a value");
      if (!is_digit(peek())) return fail_peek("invalid number");
      while (!at_end() && is_digit(peek())) ++i;
    }
    if (!at_end() && (peek() == 'e' || peek() == 'E')) {
      ++i;
      is_integer = false;
      if (!at_end() && (peek() == '+' || peek() == '-')) ++i;
      if (at_end()) return fail_here("EOF while parsing a value");
      if (!is_digit(text[i++])) return fail_here("invalid number");
      while (!at_end() && is_digit(peek())) ++i;
    }
    std::string_view digits = text.substr(start, i - start);
    if (!is_integer && std::isinf(std::strtod(std::string(digits).c_str(), nullptr))) {
      return fail_here("number out of range");
    }
    description = describe_number(digits, is_integer);
    return true;
  }

  // Names the value at the position, consuming scalars; false when it is malformed.
  bool describe_value(std::string& description) {
    switch (peek()) {
      case 'n':
        ++i;
        description = "null";
        return literal("ull");
      case 't':
        ++i;
        description = "boolean `true`";
        return literal("rue");
      case 'f':
        ++i;
        description = "boolean `false`";
        return literal("alse");
      case '"': {
        ++i;
        std::string s;
        if (!read_string(s)) return false;
        description = "string " + quote_path(s);
        return true;
      }
      case '[':
        description = "sequence";
        return true;
      case '{':
        description = "map";
        return true;
      default:
        break;
    }
    if (peek() == '-' || is_digit(peek())) return read_number(description);
    return fail_peek("expected value");
  }

  bool invalid_type(std::string_view expected) {
    std::string unexpected;
    if (!describe_value(unexpected)) return false;
    return fail_here("invalid type: " + unexpected + ", expected " + std::string(expected));
  }

  bool read_value(std::string& out) {
    skip_whitespace();
    if (at_end()) return fail_peek("EOF while parsing a value");
    if (peek() != '"') return invalid_type("a string");
    ++i;
    return read_string(out);
  }

  // After the opening brace.
  bool read_entries(Store& store) {
    for (bool first = true;; first = false) {
      skip_whitespace();
      if (at_end()) return fail_peek("EOF while parsing an object");
      if (peek() == '}') {
        ++i;
        return true;
      }
      if (!first) {
        if (peek() != ',') return fail_peek("expected `,` or `}`");
        ++i;
        skip_whitespace();
        if (at_end()) return fail_peek("EOF while parsing a value");
        if (peek() == '}') return fail_peek("trailing comma");
      }
      if (peek() != '"') return fail_peek("key must be a string");
      ++i;
      std::string key;
      std::string value;
      if (!read_string(key)) return false;
      skip_whitespace();
      if (at_end()) return fail_peek("EOF while parsing an object");
      if (peek() != ':') return fail_peek("expected `:`");
      ++i;
      if (!read_value(value)) return false;
      store.insert_or_assign(std::move(key), std::move(value));
    }
  }

  bool read_document(Store& store) {
    skip_whitespace();
    if (at_end()) return fail_peek("EOF while parsing a value");
    if (peek() != '{') return invalid_type("a map");
    ++i;
    if (!read_entries(store)) return false;
    skip_whitespace();
    if (!at_end()) return fail_peek("trailing characters");
    return true;
  }
};

}  // namespace

std::variant<Store, std::string> read_data_store_text(std::string_view text) {
  Reader reader{text, 0, {}};
  Store store;
  if (!reader.read_document(store)) return std::move(reader.error);
  return store;
}

}  // namespace brackwen
