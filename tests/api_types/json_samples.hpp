// Sample values for the JSON tests: every field of a record filled with a non-default value,
// found through the same field tables the reader and writer use.
#pragma once
#include <limits>
#include <string>
#include <tuple>

#include "api_types/json.hpp"

namespace brackwen::samples {

template <class T>
void fill(T& value);
template <class T>
void fill(std::optional<T>& v);
template <class T>
void fill(std::vector<T>& v);
template <class A, class B>
void fill(std::pair<A, B>& v);
template <class T>
void fill(std::unordered_map<std::string, T>& v);
template <class T>
void fill(std::map<std::string, T>& v);

inline void fill(std::string& v) {
  v = "p\"a\\t/h\n\x01 é\x7f";
}
inline void fill(bool& v) {
  v = true;
}
inline void fill(uint32_t& v) {
  v = std::numeric_limits<uint32_t>::max();
}
inline void fill(int32_t& v) {
  v = std::numeric_limits<int32_t>::min();
}
inline void fill(uint64_t& v) {
  v = std::numeric_limits<uint64_t>::max();
}
inline void fill(float& v) {
  v = 1.7e12f;
}

template <class T>
void fill(std::optional<T>& v) {
  fill(v.emplace());
}

template <class T>
void fill(std::vector<T>& v) {
  v.resize(2);
  for (auto& e : v) fill(e);
}

template <class A, class B>
void fill(std::pair<A, B>& v) {
  fill(v.first);
  fill(v.second);
}

template <class Map>
void fill_map(Map& v) {
  fill(v["one"]);
  fill(v["tw\"o"]);
}

template <class T>
void fill(std::unordered_map<std::string, T>& v) {
  fill_map(v);
}

template <class T>
void fill(std::map<std::string, T>& v) {
  fill_map(v);
}

template <class R, class Fields>
void fill_fields(R& v, const Fields& fields) {
  std::apply([&](const auto&... f) { (fill(v.*f.member), ...); }, fields);
}

// Records get every field, enums their last name, variants their last variant's data.
template <class T>
void fill(T& v) {
  if constexpr (JsonRecordType<T>) {
    fill_fields(v, JsonRecord<T>::fields);
  } else if constexpr (JsonEnumType<T>) {
    v = static_cast<T>(JsonEnum<T>::names.size() - 1);
  } else {
    constexpr const auto& variants = JsonVariants<T>::variants;
    const auto& last = std::get<std::tuple_size_v<std::decay_t<decltype(variants)>> - 1>(variants);
    using V = std::decay_t<decltype(last)>;
    v.kind = last.kind;
    if constexpr (IsJsonValueVariant<V>::value) {
      fill(v.*last.member);
    } else if constexpr (!IsJsonUnitVariant<V>::value) {
      fill_fields(v, last.fields);
    }
  }
}

template <class T>
T sample() {
  T v{};
  fill(v);
  return v;
}

// The array form of a record: its field values in declaration order.
template <class R>
std::string array_form(const R& v) {
  std::string out = "[";
  std::apply(
      [&](const auto&... f) {
        bool first = true;
        ((out += first ? "" : ",", first = false, write_json(out, v.*f.member)), ...);
      },
      JsonRecord<R>::fields);
  return out + "]";
}

}  // namespace brackwen::samples
