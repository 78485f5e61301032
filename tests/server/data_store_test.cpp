// The data-store file: where it lives, and the failures of reading it (the messages of the
// reader are checked end to end; what it accepts is fuzzed against a JSON parser).
#include "server/data_store.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "stores/environment.hpp"
#include "stores/user_dirs.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;

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
