// The PATH amendment and the port line.
#include "server/startup.hpp"

#include <gtest/gtest.h>

namespace brackwen {
namespace {

TEST(AmendedPath, AppendsUsrLocalBinOnlyWhenNoPartMentionsIt) {
  struct Case {
    std::optional<std::string> path;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"/usr/bin", "/usr/bin:/usr/local/bin"},
      {"", "/usr/local/bin"},  // never an empty entry, which would search the repository
      {"/usr/local/bin:/usr/bin", std::nullopt},
      {"/x/usr/local/bin2", std::nullopt},
      {"/opt/USR/LOCAL/BIN", "/opt/USR/LOCAL/BIN:/usr/local/bin"},
      {"/bin:/usr/local/binary", std::nullopt},
      {"/d\xc3\xa9j\xc3\xa0", "/d\xc3\xa9j\xc3\xa0:/usr/local/bin"},
      {"/bad\xff", std::nullopt},    // not UTF-8: left alone
      {std::nullopt, std::nullopt},  // unset stays unset
  };
  for (const Case& c : cases) {
    EXPECT_EQ(amended_path(c.path), c.expected) << c.path.value_or("(unset)");
  }
}

TEST(PortLine, IsPortLeftAlignedInTwelveColumnsEighteenBytesInAll) {
  EXPECT_EQ(port_line(54321), "PORT:54321       \n");
  EXPECT_EQ(port_line(80), "PORT:80          \n");
  EXPECT_EQ(port_line(0), "PORT:0           \n");
  for (uint16_t port : {1, 9, 10, 999, 1024, 65535}) EXPECT_EQ(port_line(port).size(), 18u);
}

}  // namespace
}  // namespace brackwen
