// The data-store file: where it lives, and for anything but a map of texts the message the
// front end shows, with its line and column (what it accepts is fuzzed against a JSON parser).
#include "server/data_store.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "server/data_store_reader.hpp"
#include "stores/environment.hpp"
#include "stores/user_dirs.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;

TEST(ReadDataStoreText, SaysWhatIsWrongAndWhere) {
  const std::pair<std::string, std::string> cases[] = {
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
  for (const auto& [text, error] : cases) {
    auto read = read_data_store_text(text);
    EXPECT_TRUE(std::holds_alternative<std::string>(read) && std::get<std::string>(read) == error)
        << text;
  }
}

// Only an absolute XDG_DATA_HOME counts (a relative one would move with the working
// directory); a file that does not read is reported, whatever is wrong with it.
TEST(DataStoreFile, FollowsXdgDataHomeWhenAbsoluteAndReportsWhatDoesNotRead) {
  test::TempDir data;
  auto before = get_environment("XDG_DATA_HOME");
  set_environment("XDG_DATA_HOME", "relative");
  EXPECT_EQ(data_store_dir(), *home_dir() / ".local/share/brackwen");
  set_environment("XDG_DATA_HOME", data.str());
  fs::create_directories(data.path / "brackwen");
  for (auto [text, error] :
       {std::pair{"{\"a\":\"\xff\"}",
                  "Failed to read config file: stream did not contain valid UTF-8"},
        {"{}x", "Failed to parse config file: trailing characters at line 1 column 3"}}) {
    std::ofstream(data.path / "brackwen/data_store.json") << text;
    EXPECT_EQ(load_data_store().error, error);
  }
  set_environment("XDG_DATA_HOME", before.value_or(""));
}

}  // namespace
}  // namespace brackwen
