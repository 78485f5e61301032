#include "server/data_store_reader.hpp"

#include <gtest/gtest.h>

namespace brackwen {
namespace {

using Store = std::unordered_map<std::string, std::string>;

TEST(ReadDataStoreText, AcceptsAnyLayout) {
  struct Case {
    std::string text;
    Store store;
  };
  for (const auto& c : std::vector<Case>{
           {"{}", {}},
           {" \t\r\n{ } \n", {}},
           {R"({"a":"1","b":"2"})", {{"a", "1"}, {"b", "2"}}},
           {"{\n\t\"a\" :\t\"1\" ,\r\n\t\"b\":\"x\"\n}", {{"a", "1"}, {"b", "x"}}},
           {R"({"a":"1","a":"2"})", {{"a", "2"}}},
           {R"({"e":"\"\\\/\b\f\n\r\t\u00fc\u20AC\ud83d\ude00"})", {{"e", "\"\\/\b\f\n\r\tü€😀"}}},
           {"{\"ü\":\"日本\"}", {{"ü", "日本"}}},
       }) {
    auto r = read_data_store_text(c.text);
    ASSERT_TRUE(std::holds_alternative<Store>(r)) << c.text << ": " << std::get<std::string>(r);
    EXPECT_EQ(std::get<Store>(r), c.store) << c.text;
  }
}

TEST(ReadDataStoreText, DescribesWhatIsWrongAndWhere) {
  struct Case {
    std::string text;
    std::string error;
  };
  for (const auto& c : std::vector<Case>{
           {"", "EOF while parsing a value at line 1 column 0"},
           {"  \n ", "EOF while parsing a value at line 2 column 1"},
           {R"({"a":"1"}x)", "trailing characters at line 1 column 10"},
           {"{}\n\n  {}", "trailing characters at line 3 column 3"},
           {"{\n  \"a\": 1\n}", "invalid type: integer `1`, expected a string at line 2 column 8"},
           {R"({"a":-12})", "invalid type: integer `-12`, expected a string at line 1 column 8"},
           {R"({"a":1.5})",
            "invalid type: floating point `1.5`, expected a string at line 1 column 8"},
           {R"({"a":1e2})",
            "invalid type: floating point `100.0`, expected a string at line 1 column 8"},
           {R"({"a":true})", "invalid type: boolean `true`, expected a string at line 1 column 9"},
           {R"({"a":null})", "invalid type: null, expected a string at line 1 column 9"},
           {R"({"a":[]})", "invalid type: sequence, expected a string at line 1 column 5"},
           {R"({"a":{}})", "invalid type: map, expected a string at line 1 column 5"},
           {"[]", "invalid type: sequence, expected a map at line 1 column 0"},
           {R"("x")", "invalid type: string \"x\", expected a map at line 1 column 3"},
           {"{", "EOF while parsing an object at line 1 column 1"},
           {R"({"a")", "EOF while parsing an object at line 1 column 4"},
           {R"({"a":)", "EOF while parsing a value at line 1 column 5"},
           {R"({"a":"1")", "EOF while parsing an object at line 1 column 8"},
           {R"({"a":"1)", "EOF while parsing a string at line 1 column 7"},
           {R"({"a" "1"})", "expected `:` at line 1 column 6"},
           {R"({"a":"1" "b":"2"})", "expected `,` or `}` at line 1 column 10"},
           {R"({"a":"1",})", "trailing comma at line 1 column 10"},
           {R"({a:"1"})", "key must be a string at line 1 column 2"},
           {R"({"a":x})", "expected value at line 1 column 6"},
           {R"({"a":nul})", "expected ident at line 1 column 9"},
           {"{\"a\":\"\t\"}",
            "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 7"},
           {R"({"a":"\q"})", "invalid escape at line 1 column 8"},
           {R"({"a":"\u12G4"})", "invalid escape at line 1 column 11"},
           {R"({"a":"\udc00"})", "lone leading surrogate in hex escape at line 1 column 12"},
           {R"({"a":"\ud800x"})", "unexpected end of hex escape at line 1 column 13"},
           {R"({"a":01})", "invalid number at line 1 column 7"},
       }) {
    auto r = read_data_store_text(c.text);
    ASSERT_TRUE(std::holds_alternative<std::string>(r)) << c.text;
    EXPECT_EQ(std::get<std::string>(r), c.error) << c.text;
  }
}

}  // namespace
}  // namespace brackwen
