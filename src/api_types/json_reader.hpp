// Strict JSON input: one pass over the body straight into the record, no document tree.
//
// The readers follow the field tables of json_fields.hpp. Every value is checked for syntax,
// including the values of keys a record does not know, which are checked and dropped. The first
// failure ends the read: no partial record survives. Only the fact of failure reaches callers; the
// kind and message are there for tests and diagnostics.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "api_types/json_fields.hpp"

namespace brackwen {

enum class JsonFailureKind {
  Syntax,
  TrailingCharacters,
  MissingField,
  DuplicateField,
  InvalidLength,
  InvalidType,
  InvalidValue,
  UnknownVariant,
};

struct JsonFailure {
  JsonFailureKind kind = JsonFailureKind::Syntax;
  std::string message;
};

// Both empty: the body was the literal null.
template <class T>
struct JsonRead {
  std::optional<T> value;
  std::optional<JsonFailure> failure;
};

// One value of the body being read, at the reader's current position. Defined beside the
// parser so that only one file sees the JSON library.
struct JsonCursor;

// A borrowed callable, so that the generic readers can hand element readers to the parser side
// without allocating.
template <class... Args>
class JsonCallback {
 public:
  template <class F>
  requires(!std::is_same_v<std::decay_t<F>, JsonCallback>)
      JsonCallback(F&& f)  // NOLINT: implicit on purpose, callers pass lambdas
      : context_(const_cast<void*>(static_cast<const void*>(&f))), call_([](void* c, Args... args) {
          return (*static_cast<std::remove_reference_t<F>*>(c))(args...);
        }) {}
  bool operator()(Args... args) const { return call_(context_, args...); }

 private:
  void* context_;
  bool (*call_)(void*, Args...);
};

// Reads `read` over the body: whitespace around the value, the literal null as no value, and
// nothing but whitespace after it.
std::optional<JsonFailure> read_json_body(std::string_view body, bool& is_null,
                                          JsonCallback<JsonCursor&> read);

template <class T>
JsonRead<T> parse_json(std::string_view body);

// The value, or nothing when the body was null or did not read as a T.
template <class T>
std::optional<T> read_body(std::string_view body) {
  return parse_json<T>(body).value;
}

// Every reader consumes exactly one value and returns false once it has recorded a failure.
bool read_json(JsonCursor& in, std::string& out);
bool read_json(JsonCursor& in, bool& out);
bool read_json(JsonCursor& in, uint32_t& out);
bool read_json(JsonCursor& in, int32_t& out);
bool read_json(JsonCursor& in, uint64_t& out);
bool read_json(JsonCursor& in, float& out);

template <class T>
bool read_json(JsonCursor& in, std::optional<T>& out);
template <class T, class A>
bool read_json(JsonCursor& in, std::vector<T, A>& out);
template <class T, class H, class E, class A>
bool read_json(JsonCursor& in, std::unordered_map<std::string, T, H, E, A>& out);
template <class T, class C, class A>
bool read_json(JsonCursor& in, std::map<std::string, T, C, A>& out);
template <JsonRecordType R>
bool read_json(JsonCursor& in, R& out);
template <JsonEnumType E>
bool read_json(JsonCursor& in, E& out);
template <JsonVariantType T>
bool read_json(JsonCursor& in, T& out);

// The building blocks the generic readers are made of.

enum class JsonNull { Null, Value, Failed };
// Consumes the value when it is null.
JsonNull json_take_null(JsonCursor& in);

// `element` is called with each element in turn; `expected` names the type in failures.
bool json_read_array(JsonCursor& in, std::string_view expected,
                     JsonCallback<JsonCursor&, size_t> element);
// `member` is called with each key (escapes decoded) and its value.
bool json_read_object(JsonCursor& in, std::string_view expected,
                      JsonCallback<std::string_view, JsonCursor&> member);
// An element found after the last one a fixed-size array form allows.
bool json_fail_extra_element(JsonCursor& element);

struct JsonFieldReader {
  std::string_view key;
  bool may_be_absent;
  bool (*read)(JsonCursor&, void* record);
};

struct JsonRecordReader {
  std::string_view expected;  // "struct Patch", "struct variant CommitFilter::Branch"
  const JsonFieldReader* fields;
  size_t count;
};

// The object form (keys in any order, unknown keys checked and dropped) or the array form
// (every field in declaration order).
bool json_read_record(JsonCursor& in, const JsonRecordReader& record, void* out);

struct JsonVariantReader {
  std::string_view tag;
  bool unit;                                   // a variant without data
  bool (*read)(JsonCursor* in, void* target);  // sets the variant; reads its data unless unit
};

// "tag" for a unit variant, {"tag":null} too, {"tag":data} for the others.
bool json_read_variant(JsonCursor& in, std::string_view expected, const JsonVariantReader* variants,
                       size_t count, void* out);

// ---- Templates ----

template <class T>
JsonRead<T> parse_json(std::string_view body) {
  JsonRead<T> result;
  T value{};
  bool is_null = false;
  result.failure =
      read_json_body(body, is_null, [&](JsonCursor& in) { return read_json(in, value); });
  if (!result.failure && !is_null) result.value = std::move(value);
  return result;
}

template <class T>
bool read_json(JsonCursor& in, std::optional<T>& out) {
  switch (json_take_null(in)) {
    case JsonNull::Null:
      out.reset();
      return true;
    case JsonNull::Failed:
      return false;
    case JsonNull::Value:
      break;
  }
  return read_json(in, out.emplace());
}

template <class T, class A>
bool read_json(JsonCursor& in, std::vector<T, A>& out) {
  out.clear();
  return json_read_array(in, "a sequence", [&](JsonCursor& element, size_t) {
    return read_json(element, out.emplace_back());
  });
}

template <class Map>
bool read_json_map(JsonCursor& in, Map& out) {
  out.clear();
  return json_read_object(in, "a map", [&](std::string_view key, JsonCursor& value) {
    typename Map::mapped_type v{};
    if (!read_json(value, v)) return false;
    out.insert_or_assign(std::string(key), std::move(v));  // a repeated key keeps its last value
    return true;
  });
}

template <class T, class H, class E, class A>
bool read_json(JsonCursor& in, std::unordered_map<std::string, T, H, E, A>& out) {
  return read_json_map(in, out);
}

template <class T, class C, class A>
bool read_json(JsonCursor& in, std::map<std::string, T, C, A>& out) {
  return read_json_map(in, out);
}

// Where a reader finds a field table: a record's own, or the fields of one struct variant.
template <class R>
struct JsonRecordFields {
  static constexpr const auto& get() { return JsonRecord<R>::fields; }
};

template <class T, size_t V>
struct JsonVariantFields {
  static constexpr const auto& get() { return std::get<V>(JsonVariants<T>::variants).fields; }
};

template <class R, class Source, size_t I>
bool json_read_field_at(JsonCursor& in, void* record) {
  return read_json(in, static_cast<R*>(record)->*(std::get<I>(Source::get()).member));
}

template <class R, class Source, size_t... I>
constexpr auto json_field_readers(std::index_sequence<I...>) {
  return std::array<JsonFieldReader, sizeof...(I)>{
      JsonFieldReader{std::get<I>(Source::get()).key, std::get<I>(Source::get()).may_be_absent,
                      &json_read_field_at<R, Source, I>}...};
}

template <class R, class Source>
inline constexpr auto JSON_FIELD_READERS = json_field_readers<R, Source>(
    std::make_index_sequence<std::tuple_size_v<std::decay_t<decltype(Source::get())>>>{});

template <std::size_t N>
struct JsonText {  // a compile-time text, for the failure names built from table entries
  std::array<char, N> chars{};
  size_t size = 0;
  constexpr std::string_view view() const { return {chars.data(), size}; }
};

template <std::size_t N>
constexpr JsonText<N> json_join(std::initializer_list<std::string_view> parts) {
  JsonText<N> text;
  for (std::string_view part : parts) {
    for (char c : part) text.chars[text.size++] = c;
  }
  return text;
}

template <JsonRecordType R>
inline constexpr auto JSON_RECORD_NAME = json_join<128>({"struct ", JsonRecord<R>::name});

template <JsonRecordType R>
bool read_json(JsonCursor& in, R& out) {
  constexpr const auto& fields = JSON_FIELD_READERS<R, JsonRecordFields<R>>;
  return json_read_record(in, {JSON_RECORD_NAME<R>.view(), fields.data(), fields.size()}, &out);
}

template <class E, size_t I>
bool json_set_enum(JsonCursor*, void* target) {
  *static_cast<E*>(target) = static_cast<E>(I);
  return true;
}

template <class E, size_t... I>
constexpr auto json_enum_readers(std::index_sequence<I...>) {
  return std::array<JsonVariantReader, sizeof...(I)>{
      JsonVariantReader{JsonEnum<E>::names[I], true, &json_set_enum<E, I>}...};
}

template <JsonEnumType E>
bool read_json(JsonCursor& in, E& out) {
  static constexpr auto readers =
      json_enum_readers<E>(std::make_index_sequence<JsonEnum<E>::names.size()>{});
  return json_read_variant(in, "variant identifier", readers.data(), readers.size(), &out);
}

template <class T, size_t V>
inline constexpr auto JSON_STRUCT_VARIANT_NAME = json_join<128>(
    {"struct variant ", JsonVariants<T>::name, "::", std::get<V>(JsonVariants<T>::variants).name});

template <class T, size_t V>
bool json_read_variant_at(JsonCursor* in, void* target) {
  constexpr const auto& variant = std::get<V>(JsonVariants<T>::variants);
  using Variant = std::decay_t<decltype(variant)>;
  auto& value = *static_cast<T*>(target);
  value.kind = variant.kind;
  if constexpr (IsJsonUnitVariant<Variant>::value) {
    return true;
  } else if constexpr (IsJsonValueVariant<Variant>::value) {
    return read_json(*in, value.*variant.member);
  } else {
    constexpr const auto& fields = JSON_FIELD_READERS<T, JsonVariantFields<T, V>>;
    return json_read_record(
        *in, {JSON_STRUCT_VARIANT_NAME<T, V>.view(), fields.data(), fields.size()}, &value);
  }
}

template <class T, size_t... V>
constexpr auto json_variant_readers(std::index_sequence<V...>) {
  return std::array<JsonVariantReader, sizeof...(V)>{JsonVariantReader{
      std::get<V>(JsonVariants<T>::variants).tag,
      IsJsonUnitVariant<std::decay_t<decltype(std::get<V>(JsonVariants<T>::variants))>>::value,
      &json_read_variant_at<T, V>}...};
}

template <JsonVariantType T>
bool read_json(JsonCursor& in, T& out) {
  static constexpr auto readers = json_variant_readers<T>(
      std::make_index_sequence<std::tuple_size_v<decltype(JsonVariants<T>::variants)>>{});
  return json_read_variant(in, "variant identifier", readers.data(), readers.size(), &out);
}

}  // namespace brackwen
