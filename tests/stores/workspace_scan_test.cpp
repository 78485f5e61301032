// The workspace scan: depth and size limits, hidden folders, odd repositories and odd names.
#include "stores/workspace_scan.hpp"

#include <gtest/gtest.h>

#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using Paths = std::vector<std::string>;

TEST(WorkspaceScan, Table) {
  struct Case {
    std::string layout;  // run in the workspace folder
    std::string root;    // appended to the workspace folder
    bool descend;
    Paths found;  // appended to the workspace folder; the folder itself first, then sorted
  };
  const std::string nul("\0/r", 3);
  const Case cases[] = {
      {"mkdir -p r/.git", "", false, {}},
      {"mkdir -p .git", "", false, {""}},
      {"mkdir -p .git", "/", false, {"/"}},  // as sent
      {"mkdir -p .git a/.git b/.git", "", true, {"", "/a", "/b"}},
      {"mkdir -p 1/2/3/4/5/.git", "", true, {"/1/2/3/4/5"}},
      {"mkdir -p 1/2/3/4/5/6/.git", "", true, {}},
      // Folders of more than 49 entries are not entered; the folder scanned is still tested.
      {"mkdir -p s/r/.git l/r/.git; cd s; touch $(seq 48); cd ../l; touch $(seq 49)",
       "",
       true,
       {"/s/r"}},
      {"mkdir -p l/r/.git l/.git; cd l; touch $(seq 48)", "/l", true, {"/l"}},
      {"mkdir -p .hidden/r/.git outer/.git outer/src/inner/.git",
       "",
       true,
       {"/outer", "/outer/src/inner"}},
      {"mkdir -p .t/.git w; touch w/.git; ln -s .t link; ln -s missing broken",
       "",
       true,
       {"/link", "/w"}},
      // Not text, so not taken as hidden either.
      {"mkdir -p \"$(printf 'caf\\351')/.git\" \"$(printf '.\\377')/in/.git\"",
       "",
       true,
       {"/.\uFFFD/in", "/caf\uFFFD"}},
      {"mkdir -p r/.git", "/missing", true, {}},
      {"mkdir -p r/.git", nul, false, {}},
      {"touch file", "/file", true, {}},
  };
  for (const auto& c : cases) {
    test::TempDir ws;
    test::sh(ws.path, c.layout);
    Paths found = scan_workspace(ws.str() + c.root, c.descend);
    if (found.size() > 1) std::sort(found.begin() + (found[0] == ws.str()), found.end());
    Paths expected;
    for (const auto& p : c.found) expected.push_back(ws.str() + p);
    EXPECT_EQ(found, expected) << c.layout;
  }
  EXPECT_EQ(scan_workspace("", true), Paths{});
}

}  // namespace
}  // namespace brackwen
