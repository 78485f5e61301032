// TEMPORARY
#pragma once
#include <optional>
#include <string>
#include <string_view>
namespace brackwen {
template <class T>
std::optional<T> read_body(std::string_view) {
  return std::nullopt;
}
template <class T>
std::string to_json(const T&) {
  return "{}";
}
}  // namespace brackwen
