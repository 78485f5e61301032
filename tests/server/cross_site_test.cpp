// Which Host and Origin headers count as the server's own pages.
#include "server/cross_site.hpp"

#include <gtest/gtest.h>

namespace brackwen {
namespace {

constexpr uint16_t PORT = 43127;

TEST(IsOwnSite, AcceptsLoopbackHostsOnTheServersPortOnly) {
  struct Case {
    std::vector<std::string> hosts;
    std::vector<std::string> origins;
    bool own;
    std::vector<std::string> fetch_sites = {};
  };
  const Case cases[] = {
      {{"127.0.0.1:43127"}, {}, true},
      {{"localhost:43127"}, {}, true},
      {{"LocalHost:43127"}, {}, true},
      {{"127.0.0.1:43127"}, {"http://127.0.0.1:43127"}, true},
      {{"127.0.0.1:43127"}, {"http://localhost:43127"}, true},
      {{"localhost:43127"}, {"HTTP://LOCALHOST:43127"}, true},
      // DNS rebinding: a foreign name that resolves to 127.0.0.1.
      {{"evil.example:43127"}, {}, false},
      {{"127.0.0.1"}, {}, false},
      {{"127.0.0.1:80"}, {}, false},
      {{"127.0.0.1:431270"}, {}, false},
      {{"127.0.0.1:43127 "}, {}, false},
      {{}, {}, false},
      {{"127.0.0.1:43127", "127.0.0.1:43127"}, {}, false},
      // A page from elsewhere posting to the server.
      {{"127.0.0.1:43127"}, {"http://evil.example"}, false},
      {{"127.0.0.1:43127"}, {"null"}, false},
      {{"127.0.0.1:43127"}, {"https://127.0.0.1:43127"}, false},
      {{"127.0.0.1:43127"}, {"http://127.0.0.1:43128"}, false},
      {{"127.0.0.1:43127"}, {"http://127.0.0.1:43127/"}, false},
      {{"127.0.0.1:43127"}, {""}, false},
      {{"127.0.0.1:43127"}, {"http://127.0.0.1:43127", "http://evil.example"}, false},
      // What browsers say of every request: an <img> tag on another site sends no Origin.
      {{"127.0.0.1:43127"}, {}, true, {"same-origin"}},
      {{"127.0.0.1:43127"}, {}, true, {"none"}},
      {{"127.0.0.1:43127"}, {}, false, {"cross-site"}},
      {{"127.0.0.1:43127"}, {}, false, {"same-site"}},
      {{"127.0.0.1:43127"}, {}, false, {"none", "cross-site"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_own_site({c.hosts, c.origins, c.fetch_sites}, PORT), c.own)
        << (c.hosts.empty() ? "(no host)" : c.hosts[0]) << " "
        << (c.origins.empty() ? "(no origin)" : c.origins[0]) << " " << c.fetch_sites.size();
  }
}

}  // namespace
}  // namespace brackwen
