// The data-store file's reader: any layout of a map of texts, and for anything else the message
// the front end shows, with its line and column.
#include "server/data_store_reader.hpp"

#include <gtest/gtest.h>

#include <map>

namespace brackwen {
namespace {

// "= key:value,..." in key order, or the error.
std::string outcome(const std::string& text) {
  auto read = read_data_store_text(text);
  if (auto* error = std::get_if<std::string>(&read)) return *error;
  auto store = std::get<std::unordered_map<std::string, std::string>>(read);
  std::string out = "=";
  for (const auto& [key, value] : std::map(store.begin(), store.end())) {
    out += " " + key + ":" + value;
  }
  return out;
}

TEST(ReadDataStoreText, AcceptsAnyLayoutAndSaysWhatIsWrongWhere) {
  const std::pair<std::string, std::string> cases[] = {
      {" \t\r\n{ } \n", "="},
      {"{\n\t\"a\" :\t\"1\" ,\r\n\t\"b\":\"x\"\n}", "= a:1 b:x"},
      {R"({"a":"1","a":"2"})", "= a:2"},
      {R"({"e":"\"\\\/\b\f\n\r\t\u00fc\u20AC\ud83d\ude00"})", "= e:\"\\/\b\f\n\r\tü€😀"},
      {"  \n ", "EOF while parsing a value at line 2 column 1"},
      {"{}\n\n  {}", "trailing characters at line 3 column 3"},
      {"{\n  \"a\": 1\n}", "invalid type: integer `1`, expected a string at line 2 column 8"},
      {R"({"a":true})", "invalid type: boolean `true`, expected a string at line 1 column 9"},
      {R"({"a":[]})", "invalid type: sequence, expected a string at line 1 column 5"},
      {"[]", "invalid type: sequence, expected a map at line 1 column 0"},
      {R"("x")", "invalid type: string \"x\", expected a map at line 1 column 3"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {R"({"a":"1)", "EOF while parsing a string at line 1 column 7"},
      {R"({"a":"1" "b":"2"})", "expected `,` or `}` at line 1 column 10"},
      {R"({"a":"1",})", "trailing comma at line 1 column 10"},
      {R"({a:"1"})", "key must be a string at line 1 column 2"},
      {R"({"a":x})", "expected value at line 1 column 6"},
      {"{\"a\":\"\t\"}",
       "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 7"},
      {R"({"a":"\q"})", "invalid escape at line 1 column 8"},
      {R"({"a":"\udc00"})", "lone leading surrogate in hex escape at line 1 column 12"},
      {R"({"a":01})", "invalid number at line 1 column 7"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(outcome(text), expected) << text;
}

}  // namespace
}  // namespace brackwen
