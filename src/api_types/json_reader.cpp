// The parser side of the JSON readers: simdjson On-Demand over a padded copy of the body.
//
// On-Demand only checks what it is asked to read and skips the rest unchecked, so nothing is ever
// left to its skipping: values of unknown keys are walked and every scalar in them parsed. Its
// error codes do not tell a wrong kind from a malformed value, so type and range checks, number
// syntax and the end of the body are decided here.
#include "api_types/json_reader.hpp"

#include <simdjson.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>

namespace brackwen {

namespace od = simdjson::ondemand;

struct JsonBodyState {
  std::optional<JsonFailure> failure;
};

struct JsonCursor {
  od::value value;
  JsonBodyState* state;
  int depth;
};

namespace {

// Request records nest a few levels; anything deeper is hostile.
constexpr int MAX_DEPTH = 128;
constexpr std::string_view WHITESPACE = " \t\n\r";

bool fail(JsonCursor& in, JsonFailureKind kind, std::string message) {
  if (!in.state->failure) in.state->failure = JsonFailure{kind, std::move(message)};
  return false;
}

bool syntax(JsonCursor& in, std::string_view message) {
  return fail(in, JsonFailureKind::Syntax, std::string(message));
}

bool syntax(JsonCursor& in, simdjson::error_code error) {
  return syntax(in, simdjson::error_message(error));
}

JsonCursor child(JsonCursor& parent, od::value value) {
  return {value, parent.state, parent.depth + 1};
}

// The kind of value at the cursor; nothing (and a syntax failure) when no value starts there,
// as at the "]" after a trailing comma.
std::optional<od::json_type> value_type(JsonCursor& in) {
  od::json_type type;
  if (in.value.type().get(type) != simdjson::SUCCESS) {
    syntax(in, "expected value");
    return std::nullopt;
  }
  return type;
}

std::string_view type_text(od::json_type type) {
  switch (type) {
    case od::json_type::object:
      return "map";
    case od::json_type::array:
      return "sequence";
    case od::json_type::string:
      return "string";
    case od::json_type::number:
      return "number";
    case od::json_type::boolean:
      return "boolean";
    case od::json_type::null:
      return "null";
  }
  return "value";
}

struct JsonNumber {
  std::string_view text;
  bool negative = false;
  std::string_view integer;
  std::string_view fraction;
  bool has_exponent = false;
  std::string_view exponent;  // with its sign, if any
  bool integral() const { return fraction.empty() && !has_exponent; }
};

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The JSON number grammar: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
std::optional<JsonNumber> scan_number(std::string_view text) {
  JsonNumber n;
  n.text = text;
  size_t i = 0;
  auto digits_from = [&](size_t from) {
    while (i < text.size() && is_digit(text[i])) ++i;
    return text.substr(from, i - from);
  };
  if (i < text.size() && text[i] == '-') {
    n.negative = true;
    ++i;
  }
  if (i >= text.size() || !is_digit(text[i])) return std::nullopt;
  if (text[i] == '0') {
    n.integer = text.substr(i++, 1);
  } else {
    n.integer = digits_from(i);
  }
  if (i < text.size() && text[i] == '.') {
    n.fraction = digits_from(++i);
    if (n.fraction.empty()) return std::nullopt;
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    n.has_exponent = true;
    size_t from = ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits_from(i).empty()) return std::nullopt;
    n.exponent = text.substr(from, i - from);
  }
  if (i != text.size()) return std::nullopt;
  return n;
}

// The number at the cursor. It is not consumed: the enclosing array or object steps over it,
// and the body reader finds the end of a bare number itself.
std::optional<JsonNumber> number_at(JsonCursor& in) {
  std::string_view token = in.value.raw_json_token();
  size_t end = token.find_last_not_of(WHITESPACE);
  token = token.substr(0, end == std::string_view::npos ? 0 : end + 1);
  auto number = scan_number(token);
  if (!number) syntax(in, "invalid number");
  return number;
}

bool skip_value(JsonCursor& in);

// A value of the wrong kind. A malformed value is a syntax failure first.
bool mismatch(JsonCursor& in, std::string_view expected) {
  auto type = value_type(in);
  if (!type) return false;
  if (!skip_value(in)) return false;
  return fail(
      in, JsonFailureKind::InvalidType,
      "invalid type: " + std::string(type_text(*type)) + ", expected " + std::string(expected));
}

// A string as JSON spells it, from just after its opening quote: no raw control character,
// and every escape one of JSON's, "\u" with four hex digits whatever code they name (a lone
// surrogate is well formed, though no text holds it). The indexer found the closing quote.
bool is_well_formed_string(const char* p) {
  constexpr std::string_view ESCAPED = "\"\\/bfnrt";
  for (; *p != '"'; ++p) {
    if (static_cast<unsigned char>(*p) < 0x20) return false;
    if (*p != '\\') continue;
    if (*++p != 'u') {
      if (ESCAPED.find(*p) == std::string_view::npos) return false;
      continue;
    }
    for (int i = 0; i < 4; ++i) {
      if (!std::isxdigit(static_cast<unsigned char>(*++p))) return false;
    }
  }
  return true;
}

// What an object's keys are read for: a map keeps them, a record compares them with its field
// names, a value being skipped is only checked.
enum class KeyUse { Kept, Matched, Checked };

// The key, decoded; none for a well-formed key that is not needed (KeyUse::Checked) or that
// names a lone surrogate, which no field name holds (KeyUse::Matched). Keys without escapes are
// compared where they lie in the body.
bool field_key(JsonCursor& in, od::field& field, KeyUse use, std::optional<std::string_view>& key) {
  const char* start = field.key().raw();
  const char* p = start;
  while (*p != '"' && *p != '\\') ++p;  // the indexer has already found the closing quote
  if (*p == '"') {
    key = std::string_view(start, p - start);
    return true;
  }
  key.reset();
  if (!is_well_formed_string(start)) return syntax(in, "invalid escape");
  if (use == KeyUse::Checked) return true;
  std::string_view text;
  auto error = field.unescaped_key().get(text);
  if (!error) key = text;
  return !error || use == KeyUse::Matched || syntax(in, error);
}

bool read_members(JsonCursor& in, std::string_view expected, KeyUse use,
                  JsonCallback<std::optional<std::string_view>, JsonCursor&> member) {
  auto type = value_type(in);
  if (!type) return false;
  if (*type != od::json_type::object) return mismatch(in, expected);
  if (in.depth >= MAX_DEPTH) return syntax(in, "recursion limit exceeded");
  od::object object;
  if (auto error = in.value.get_object().get(object)) return syntax(in, error);
  for (auto item : object) {
    od::field field;
    if (auto error = std::move(item).get(field)) return syntax(in, error);
    std::optional<std::string_view> key;
    if (!field_key(in, field, use, key)) return false;
    JsonCursor cursor = child(in, field.value());
    if (!member(key, cursor)) return false;
  }
  return true;
}

// Checked for syntax only: nothing of it is kept, so no text needs decoding.
bool skip_value(JsonCursor& in) {
  auto type = value_type(in);
  if (!type) return false;
  switch (*type) {
    case od::json_type::object:
      return read_members(
          in, "", KeyUse::Checked,
          [](std::optional<std::string_view>, JsonCursor& v) { return skip_value(v); });
    case od::json_type::array:
      return json_read_array(in, "", [](JsonCursor& e, size_t) { return skip_value(e); });
    case od::json_type::string: {
      od::raw_json_string text;
      if (auto error = in.value.get_raw_json_string().get(text)) return syntax(in, error);
      return is_well_formed_string(text.raw()) || syntax(in, "invalid escape");
    }
    case od::json_type::number:
      return number_at(in).has_value();
    case od::json_type::boolean: {
      bool value;
      auto error = in.value.get_bool().get(value);
      return error ? syntax(in, "expected true or false") : true;
    }
    case od::json_type::null:
      return json_take_null(in) == JsonNull::Null;
  }
  return syntax(in, "expected value");
}

std::string quoted(std::string_view text) {
  std::string out(1, '`');
  out.append(text);
  out.push_back('`');
  return out;
}

template <class Int>
bool read_integer(JsonCursor& in, Int& out, std::string_view type_name) {
  auto type = value_type(in);
  if (!type) return false;
  if (*type != od::json_type::number) return mismatch(in, type_name);
  auto number = number_at(in);
  if (!number) return false;
  if (!number->integral()) {
    return fail(in, JsonFailureKind::InvalidType,
                "invalid type: floating point " + quoted(number->text) + ", expected " +
                    std::string(type_name));
  }
  auto out_of_range = [&] {
    return fail(
        in, JsonFailureKind::InvalidValue,
        "invalid value: integer " + quoted(number->text) + ", expected " + std::string(type_name));
  };
  uint64_t magnitude = 0;
  const char* first = number->integer.data();
  auto [end, error] = std::from_chars(first, first + number->integer.size(), magnitude);
  if (error != std::errc{}) return out_of_range();
  if (number->negative) {
    // An unsigned field takes no sign at all, not even on zero.
    if constexpr (std::is_unsigned_v<Int>) return out_of_range();
    constexpr uint64_t limit = uint64_t(std::numeric_limits<Int>::max()) + 1;
    if (magnitude > limit) return out_of_range();
    out = static_cast<Int>(-static_cast<int64_t>(magnitude));
    return true;
  }
  if (magnitude > uint64_t(std::numeric_limits<Int>::max())) return out_of_range();
  out = static_cast<Int>(magnitude);
  return true;
}

// Whether a number too large or too small for a float is large: the decimal exponent of its
// first significant digit decides, as floats stop at 3.4e38 and 1.4e-45.
bool is_large(const JsonNumber& n) {
  std::string digits = std::string(n.integer) + std::string(n.fraction);
  size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return false;
  int64_t exponent = 0;
  for (char c : n.exponent) {
    if (is_digit(c) && exponent < 1'000'000'000) exponent = exponent * 10 + (c - '0');
  }
  if (!n.exponent.empty() && n.exponent.front() == '-') exponent = -exponent;
  return int64_t(n.integer.size()) - int64_t(first) + exponent > 0;
}

const JsonVariantReader* find_variant(std::string_view tag, const JsonVariantReader* variants,
                                      size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (variants[i].tag == tag) return &variants[i];
  }
  return nullptr;
}

bool unknown_variant(JsonCursor& in, std::string_view text, const JsonVariantReader* variants,
                     size_t count) {
  std::string message = "unknown variant " + quoted(text) + ", expected one of ";
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) message += ", ";
    message += quoted(variants[i].tag);
  }
  return fail(in, JsonFailureKind::UnknownVariant, std::move(message));
}

bool read_object_form(JsonCursor& in, const JsonRecordReader& record, void* out) {
  uint64_t seen = 0;
  auto member = [&](std::optional<std::string_view> key, JsonCursor& value) {
    for (size_t i = 0; key && i < record.count; ++i) {
      if (record.fields[i].key != *key) continue;
      if (seen & (uint64_t(1) << i)) {
        return fail(value, JsonFailureKind::DuplicateField, "duplicate field " + quoted(*key));
      }
      seen |= uint64_t(1) << i;
      return record.fields[i].read(value, out);
    }
    return skip_value(value);
  };
  if (!read_members(in, record.expected, KeyUse::Matched, member)) return false;
  for (size_t i = 0; i < record.count; ++i) {
    if (!(seen & (uint64_t(1) << i)) && !record.fields[i].may_be_absent) {
      return fail(in, JsonFailureKind::MissingField,
                  "missing field " + quoted(record.fields[i].key));
    }
  }
  return true;
}

bool read_array_form(JsonCursor& in, const JsonRecordReader& record, void* out) {
  size_t count = 0;
  bool ok = json_read_array(in, record.expected, [&](JsonCursor& element, size_t index) {
    count = index + 1;
    if (index >= record.count) return json_fail_extra_element(element);
    return record.fields[index].read(element, out);
  });
  if (!ok) return false;
  if (count < record.count) {
    return fail(in, JsonFailureKind::InvalidLength,
                "invalid length " + std::to_string(count) + ", expected " +
                    std::string(record.expected) + " with " + std::to_string(record.count) +
                    (record.count == 1 ? " element" : " elements"));
  }
  return true;
}

// The parser and the padded copy of the body are kept per thread for ordinary bodies; a large
// body (the disk cache of a big repository) gets its own, so that its memory is given back.
struct ParseBuffers {
  od::parser parser;
  std::string text;
};
constexpr size_t KEPT_BODY_SIZE = size_t(1) << 20;

}  // namespace

JsonNull json_take_null(JsonCursor& in) {
  auto type = value_type(in);
  if (!type) return JsonNull::Failed;
  if (*type != od::json_type::null) return JsonNull::Value;
  bool is_null = false;
  if (in.value.is_null().get(is_null) != simdjson::SUCCESS || !is_null) {
    syntax(in, "expected null");
    return JsonNull::Failed;
  }
  return JsonNull::Null;
}

bool read_json(JsonCursor& in, std::string& out) {
  auto type = value_type(in);
  if (!type) return false;
  if (*type != od::json_type::string) return mismatch(in, "a string");
  std::string_view text;
  auto error = in.value.get_string().get(text);
  if (error) return syntax(in, error);
  out.assign(text);
  return true;
}

bool read_json(JsonCursor& in, bool& out) {
  auto type = value_type(in);
  if (!type) return false;
  if (*type != od::json_type::boolean) return mismatch(in, "a boolean");
  if (in.value.get_bool().get(out) != simdjson::SUCCESS)
    return syntax(in, "expected true or false");
  return true;
}

bool read_json(JsonCursor& in, uint32_t& out) {
  return read_integer(in, out, "u32");
}
bool read_json(JsonCursor& in, int32_t& out) {
  return read_integer(in, out, "i32");
}
bool read_json(JsonCursor& in, uint64_t& out) {
  return read_integer(in, out, "usize");
}

bool read_json(JsonCursor& in, float& out) {
  auto type = value_type(in);
  if (!type) return false;
  if (*type != od::json_type::number) return mismatch(in, "f32");
  auto number = number_at(in);
  if (!number) return false;
  const char* first = number->text.data();
  auto [end, error] = std::from_chars(first, first + number->text.size(), out);
  if (error == std::errc::result_out_of_range) {
    out = is_large(*number) ? std::numeric_limits<float>::infinity() : 0.0f;
    if (number->negative) out = -out;
  }
  return true;
}

bool json_read_array(JsonCursor& in, std::string_view expected,
                     JsonCallback<JsonCursor&, size_t> element) {
  auto type = value_type(in);
  if (!type) return false;
  if (*type != od::json_type::array) return mismatch(in, expected);
  if (in.depth >= MAX_DEPTH) return syntax(in, "recursion limit exceeded");
  od::array array;
  if (auto error = in.value.get_array().get(array)) return syntax(in, error);
  size_t index = 0;
  for (auto item : array) {
    od::value value;
    if (auto error = std::move(item).get(value)) return syntax(in, error);
    JsonCursor cursor = child(in, value);
    if (!element(cursor, index++)) return false;
  }
  // Only the closing bracket wrapped around the body can be the last token: the body itself
  // ended inside this array.
  const char* after;
  if (in.value.current_location().get(after) != simdjson::SUCCESS) {
    return syntax(in, "EOF while parsing a list");
  }
  return true;
}

bool json_read_object(JsonCursor& in, std::string_view expected,
                      JsonCallback<std::string_view, JsonCursor&> member) {
  return read_members(
      in, expected, KeyUse::Kept,
      [&](std::optional<std::string_view> key, JsonCursor& value) { return member(*key, value); });
}

bool json_fail_extra_element(JsonCursor& element) {
  if (!value_type(element)) return false;  // "," then "]" is malformed, not an extra element
  return fail(element, JsonFailureKind::TrailingCharacters, "trailing characters");
}

bool json_read_record(JsonCursor& in, const JsonRecordReader& record, void* out) {
  auto type = value_type(in);
  if (!type) return false;
  if (*type == od::json_type::object) return read_object_form(in, record, out);
  if (*type == od::json_type::array) return read_array_form(in, record, out);
  return mismatch(in, record.expected);
}

bool json_read_variant(JsonCursor& in, std::string_view expected, const JsonVariantReader* variants,
                       size_t count, void* out) {
  auto type = value_type(in);
  if (!type) return false;
  if (*type == od::json_type::string) {
    std::string_view text;
    if (auto error = in.value.get_string().get(text)) return syntax(in, error);
    const JsonVariantReader* variant = find_variant(text, variants, count);
    if (!variant) return unknown_variant(in, text, variants, count);
    if (!variant->unit) {
      return fail(in, JsonFailureKind::InvalidType,
                  "invalid type: unit variant, expected a variant with data");
    }
    return variant->read(nullptr, out);
  }
  // Numbers are never taken as positions, nor anything else but a tag or a one-key object.
  if (*type != od::json_type::object) return syntax(in, "expected " + std::string(expected));
  if (in.depth >= MAX_DEPTH) return syntax(in, "recursion limit exceeded");
  od::object object;
  if (auto error = in.value.get_object().get(object)) return syntax(in, error);
  od::object_iterator it;
  od::object_iterator end;
  if (auto error = object.begin().get(it)) return syntax(in, error);
  if (auto error = object.end().get(end)) return syntax(in, error);
  if (!(it != end)) return syntax(in, "expected " + std::string(expected));
  od::field field;
  if (auto error = (*it).get(field)) return syntax(in, error);
  std::optional<std::string_view> tag;
  if (!field_key(in, field, KeyUse::Kept, tag)) return false;
  const JsonVariantReader* variant = find_variant(*tag, variants, count);
  if (!variant) return unknown_variant(in, *tag, variants, count);
  JsonCursor content = child(in, field.value());
  if (variant->unit) {
    switch (json_take_null(content)) {
      case JsonNull::Failed:
        return false;
      case JsonNull::Value:
        return mismatch(content, "unit");
      case JsonNull::Null:
        break;
    }
    if (!variant->read(nullptr, out)) return false;
  } else if (!variant->read(&content, out)) {
    return false;
  }
  ++it;
  if (it != end) return syntax(in, "expected `}` after the variant");
  return true;
}

std::optional<JsonFailure> read_json_body(std::string_view body, bool& is_null,
                                          JsonCallback<JsonCursor&> read) {
  is_null = false;
  size_t start = body.find_first_not_of(WHITESPACE);
  if (start == std::string_view::npos) {
    return JsonFailure{JsonFailureKind::Syntax, "EOF while parsing a value"};
  }
  if (body[start] == 'n') {
    if (body.substr(start, 4) != "null") {
      return JsonFailure{JsonFailureKind::Syntax, "expected null"};
    }
    if (body.find_first_not_of(WHITESPACE, start + 4) != std::string_view::npos) {
      return JsonFailure{JsonFailureKind::TrailingCharacters, "trailing characters"};
    }
    is_null = true;
    return std::nullopt;
  }

  // The body goes inside an array of our own, so that a bare string or number is read like
  // any other value; the closing bracket then marks where the body ended.
  thread_local ParseBuffers kept;
  std::unique_ptr<ParseBuffers> large;
  ParseBuffers& buffers =
      body.size() <= KEPT_BODY_SIZE ? kept : *(large = std::make_unique<ParseBuffers>());
  std::string& text = buffers.text;
  text.clear();
  text.reserve(body.size() + 2 + simdjson::SIMDJSON_PADDING);
  text.push_back('[');
  text.append(body);
  text.push_back(']');
  const char* body_end = text.data() + text.size() - 1;
  text.append(simdjson::SIMDJSON_PADDING, ' ');

  JsonBodyState state;
  auto failure = [&](std::string_view message) {
    return JsonFailure{JsonFailureKind::Syntax, std::string(message)};
  };
  od::document document;
  auto padded = simdjson::padded_string_view(text.data(), body.size() + 2, text.size());
  if (auto error = buffers.parser.iterate(padded).get(document)) {
    return failure(simdjson::error_message(error));
  }
  od::array root;
  if (auto error = document.get_array().get(root)) return failure(simdjson::error_message(error));
  od::array_iterator it;
  od::array_iterator end;
  if (auto error = root.begin().get(it)) return failure(simdjson::error_message(error));
  if (auto error = root.end().get(end)) return failure(simdjson::error_message(error));
  if (!(it != end)) return failure("expected value");
  od::value value;
  if (auto error = (*it).get(value)) return failure(simdjson::error_message(error));

  JsonCursor cursor{value, &state, 0};
  auto type = value_type(cursor);
  if (!type) return state.failure;
  const char* after = nullptr;
  if (*type != od::json_type::object && *type != od::json_type::array) {
    std::string_view token = value.raw_json_token();  // runs up to the next token
    after = token.data() + token.size();
  }
  if (!read(cursor)) {
    return state.failure ? state.failure : failure("invalid value");
  }
  if (!after && document.current_location().get(after) != simdjson::SUCCESS) {
    return failure("EOF while parsing a value");
  }
  if (after != body_end) {
    return JsonFailure{JsonFailureKind::TrailingCharacters, "trailing characters"};
  }
  return std::nullopt;
}

}  // namespace brackwen
