// The workspace scan: depth and size limits, hidden folders, odd repositories and odd names.
#include "stores/workspace_scan.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

void make_repo(const fs::path& dir) {
  fs::create_directories(dir / ".git");
}

void touch(const fs::path& file) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "x";
}

Paths sorted(Paths p) {
  std::sort(p.begin(), p.end());
  return p;
}

TEST(WorkspaceScan, WithoutDescendOnlyTheFolderItself) {
  test::TempDir ws;
  make_repo(ws.path / "inner");
  EXPECT_EQ(scan_workspace(ws.str(), false), Paths{});
  make_repo(ws.path);
  EXPECT_EQ(scan_workspace(ws.str(), false), Paths{ws.str()});
  EXPECT_EQ(scan_workspace(ws.str() + "/", false), Paths{ws.str() + "/"});  // as sent
}

TEST(WorkspaceScan, FolderFirstThenRepositoriesBelow) {
  test::TempDir ws;
  make_repo(ws.path);
  make_repo(ws.path / "a");
  make_repo(ws.path / "b");
  auto found = scan_workspace(ws.str(), true);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0], ws.str());
  EXPECT_EQ(sorted({found[1], found[2]}), (Paths{ws.str() + "/a", ws.str() + "/b"}));
}

TEST(WorkspaceScan, DepthFiveIsFoundAndSixIsNot) {
  test::TempDir five;
  test::TempDir six;
  make_repo(five.path / "1/2/3/4/5");
  make_repo(six.path / "1/2/3/4/5/6");
  EXPECT_EQ(scan_workspace(five.str(), true), Paths{five.str() + "/1/2/3/4/5"});
  EXPECT_EQ(scan_workspace(six.str(), true), Paths{});
}

TEST(WorkspaceScan, FortyNineEntriesAreEnteredFiftyAreNot) {
  test::TempDir ws;
  make_repo(ws.path / "small/repo");
  for (int i = 0; i < 48; ++i) touch(ws.path / "small" / std::to_string(i));
  make_repo(ws.path / "large/repo");
  for (int i = 0; i < 49; ++i) touch(ws.path / "large" / std::to_string(i));
  EXPECT_EQ(scan_workspace(ws.str(), true), Paths{ws.str() + "/small/repo"});

  // The large folder itself is still tested, and its .git is one of its entries.
  make_repo(ws.path / "large");
  EXPECT_EQ(scan_workspace((ws.path / "large").string(), true), Paths{ws.str() + "/large"});
}

TEST(WorkspaceScan, HiddenFoldersAreSkippedNestedRepositoriesFound) {
  test::TempDir ws;
  make_repo(ws.path / ".projects/hidden");
  make_repo(ws.path / "outer");
  make_repo(ws.path / "outer/src/inner");
  EXPECT_EQ(scan_workspace(ws.str(), true),
            (Paths{ws.str() + "/outer", ws.str() + "/outer/src/inner"}));
}

TEST(WorkspaceScan, GitFileAndLinkedRepositoryCount) {
  test::TempDir ws;
  test::TempDir elsewhere;
  touch(ws.path / "worktree/.git");
  make_repo(elsewhere.path / "target");
  fs::create_directory_symlink(elsewhere.path / "target", ws.path / "link");
  fs::create_symlink(ws.path / "missing", ws.path / "broken");
  EXPECT_EQ(sorted(scan_workspace(ws.str(), true)),
            (Paths{ws.str() + "/link", ws.str() + "/worktree"}));
}

TEST(WorkspaceScan, NamesThatAreNotUtf8) {
  test::TempDir ws;
  make_repo(ws.path / "caf\xe9");
  make_repo(ws.path / ".\xff/inside");  // not text, so not taken as hidden
  EXPECT_EQ(sorted(scan_workspace(ws.str(), true)),
            sorted({ws.str() + "/.\xEF\xBF\xBD/inside", ws.str() + "/caf\xEF\xBF\xBD"}));
}

TEST(WorkspaceScan, FoldersThatCannotBeRead) {
  test::TempDir ws;
  make_repo(ws.path / "repo");
  EXPECT_EQ(scan_workspace(ws.str() + "/missing", true), Paths{});
  EXPECT_EQ(scan_workspace("", true), Paths{});
  EXPECT_EQ(scan_workspace(ws.str() + std::string("\0/repo", 6), false), Paths{});
  touch(ws.path / "file");
  EXPECT_EQ(scan_workspace(ws.str() + "/file", true), Paths{});
}

}  // namespace
}  // namespace brackwen
