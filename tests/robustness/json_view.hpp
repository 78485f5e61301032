// Reading replies in the robustness tests: a parsed JSON document that owns its parser, and
// the few accessors the assertions need.
#pragma once
#include <simdjson.h>

#include <memory>
#include <string>
#include <vector>

namespace brackwen::test {

struct JsonDoc {
  explicit JsonDoc(const std::string& text) : parser(std::make_unique<simdjson::dom::parser>()) {
    ok = parser->parse(text).get(root) == simdjson::SUCCESS;
  }
  std::unique_ptr<simdjson::dom::parser> parser;
  simdjson::dom::element root;
  bool ok = false;
};

// The element, or a JSON null when the path to it does not exist (so that a wrong reply
// fails the assertions instead of the test program).
inline simdjson::dom::element value_or_null(simdjson::simdjson_result<simdjson::dom::element> r) {
  static const JsonDoc null_value("null");
  simdjson::dom::element element;
  return r.get(element) == simdjson::SUCCESS ? element : null_value.root;
}

inline std::string text_of(simdjson::dom::element element) {
  std::string_view text;
  return element.get(text) == simdjson::SUCCESS ? std::string(text) : "<not a string>";
}

// `key` of every object of an array, in order.
inline std::vector<std::string> field_of_each(simdjson::dom::element array, const char* key) {
  std::vector<std::string> out;
  if (!array.is_array()) return out;
  for (auto item : simdjson::dom::array(array)) out.push_back(text_of(value_or_null(item[key])));
  return out;
}

inline size_t size_of(simdjson::dom::element array) {
  return array.is_array() ? simdjson::dom::array(array).size() : 0;
}

}  // namespace brackwen::test
