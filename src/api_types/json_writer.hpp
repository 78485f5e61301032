// Compact JSON output: every writer appends to one growing std::string, with no tree in between.
#pragma once
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "api_types/json_fields.hpp"

namespace brackwen {

void write_json(std::string& out, std::string_view text);
inline void write_json(std::string& out, const std::string& text) {
  write_json(out, std::string_view(text));
}
inline void write_json(std::string& out, const char* text) {
  write_json(out, std::string_view(text));
}
void write_json(std::string& out, bool value);
void write_json(std::string& out, uint32_t value);
void write_json(std::string& out, int32_t value);
void write_json(std::string& out, uint64_t value);
// Shortest text that reads back to the same float; not-a-number and infinities as null.
void write_json(std::string& out, float value);

template <class T>
void write_json(std::string& out, const std::optional<T>& value);
template <class T, class A>
void write_json(std::string& out, const std::vector<T, A>& values);
template <class T, class H, class E, class A>
void write_json(std::string& out, const std::unordered_map<std::string, T, H, E, A>& entries);
template <class T, class C, class A>
void write_json(std::string& out, const std::map<std::string, T, C, A>& entries);
template <class A, class B>
void write_json(std::string& out, const std::pair<A, B>& pair);
template <JsonRecordType R>
void write_json(std::string& out, const R& record);
template <JsonEnumType E>
void write_json(std::string& out, E value);
template <JsonVariantType T>
void write_json(std::string& out, const T& value);

template <class T>
std::string to_json(const T& value) {
  std::string out;
  write_json(out, value);
  return out;
}

// `"key":`, preceded by "," unless it is the object's first member. Keys are our own
// identifiers and never need escapes.
inline void write_json_key(std::string& out, std::string_view key, bool first) {
  size_t at = out.size();
  out.resize(at + key.size() + 3 + (first ? 0 : 1));
  char* p = out.data() + at;
  if (!first) *p++ = ',';
  *p++ = '"';
  std::memcpy(p, key.data(), key.size());
  p += key.size();
  *p++ = '"';
  *p = ':';
}

template <class T>
void write_json(std::string& out, const std::optional<T>& value) {
  if (!value) {
    out.append("null");
    return;
  }
  write_json(out, *value);
}

template <class T, class A>
void write_json(std::string& out, const std::vector<T, A>& values) {
  out.push_back('[');
  bool first = true;
  for (const auto& v : values) {
    if (!first) out.push_back(',');
    first = false;
    write_json(out, v);
  }
  out.push_back(']');
}

template <class Map>
void write_json_map(std::string& out, const Map& entries) {
  out.push_back('{');
  bool first = true;
  for (const auto& [key, value] : entries) {
    if (!first) out.push_back(',');
    first = false;
    write_json(out, std::string_view(key));
    out.push_back(':');
    write_json(out, value);
  }
  out.push_back('}');
}

template <class T, class H, class E, class A>
void write_json(std::string& out, const std::unordered_map<std::string, T, H, E, A>& entries) {
  write_json_map(out, entries);
}

template <class T, class C, class A>
void write_json(std::string& out, const std::map<std::string, T, C, A>& entries) {
  write_json_map(out, entries);
}

template <class A, class B>
void write_json(std::string& out, const std::pair<A, B>& pair) {
  out.push_back('[');
  write_json(out, pair.first);
  out.push_back(',');
  write_json(out, pair.second);
  out.push_back(']');
}

template <class R, class Fields>
void write_json_fields(std::string& out, const R& record, const Fields& fields) {
  out.push_back('{');
  std::apply(
      [&](const auto&... field) {
        bool first = true;
        ((write_json_key(out, field.key, first), first = false,
          write_json(out, record.*field.member)),
         ...);
      },
      fields);
  out.push_back('}');
}

template <JsonRecordType R>
void write_json(std::string& out, const R& record) {
  write_json_fields(out, record, JsonRecord<R>::fields);
}

template <JsonEnumType E>
void write_json(std::string& out, E value) {
  std::string_view name = JsonEnum<E>::names[static_cast<size_t>(value)];
  out.push_back('"');
  out.append(name);
  out.push_back('"');
}

template <JsonVariantType T>
void write_json(std::string& out, const T& value) {
  std::apply(
      [&](const auto&... variant) {
        auto write_if_chosen = [&](const auto& v) {
          if (v.kind != value.kind) return false;
          using V = std::decay_t<decltype(v)>;
          if constexpr (IsJsonUnitVariant<V>::value) {
            write_json(out, v.tag);
          } else {
            out.push_back('{');
            write_json_key(out, v.tag, true);
            if constexpr (IsJsonValueVariant<V>::value) {
              write_json(out, value.*v.member);
            } else {
              write_json_fields(out, value, v.fields);
            }
            out.push_back('}');
          }
          return true;
        };
        (write_if_chosen(variant) || ...);
      },
      JsonVariants<T>::variants);
}

}  // namespace brackwen
