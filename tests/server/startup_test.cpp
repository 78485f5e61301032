// The PATH amendment: git is looked for in /usr/local/bin too, without ever adding an empty
// entry (which would search the current directory).
#include "server/startup.hpp"

#include <gtest/gtest.h>

namespace brackwen {
namespace {

TEST(AmendedPath, AppendsUsrLocalBinOnlyWhenNoPartMentionsIt) {
  const std::pair<std::optional<std::string>, std::optional<std::string>> cases[] = {
      {"/usr/bin", "/usr/bin:/usr/local/bin"},
      {"", "/usr/local/bin"},
      {"/usr/local/bin:/usr/bin", std::nullopt},
      {"/x/usr/local/bin2", std::nullopt},
      {"/opt/USR/LOCAL/BIN", "/opt/USR/LOCAL/BIN:/usr/local/bin"},
      {"/d\xc3\xa9j\xc3\xa0", "/d\xc3\xa9j\xc3\xa0:/usr/local/bin"},
      {"/bad\xff", std::nullopt},    // not UTF-8: left alone
      {std::nullopt, std::nullopt},  // unset stays unset
  };
  for (const auto& [path, amended] : cases) {
    EXPECT_EQ(amended_path(path), amended) << path.value_or("(unset)");
  }
}

}  // namespace
}  // namespace brackwen
