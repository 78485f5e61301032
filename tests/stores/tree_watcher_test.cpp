// The inotify tree watch: one watch per directory, kept right as directories come, move and go.
#include "stores/tree_watcher.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "support/temp_repo.hpp"
#include "watch_support.hpp"

namespace brackwen {
namespace {

using test::append_file;
using test::eventually;
namespace fs = std::filesystem;

// Reads events until one of the paths seen so far is `wanted`.
bool sees(TreeWatch& watch, const std::string& wanted, std::vector<std::string>* all = nullptr) {
  std::vector<std::string> seen;
  bool found = eventually([&] {
    read_tree_events(watch, 20, [&](const TreeEvent& e) {
      seen.insert(seen.end(), e.paths.begin(), e.paths.end());
    });
    return std::find(seen.begin(), seen.end(), wanted) != seen.end();
  });
  if (all) *all = seen;
  return found;
}

TEST(TreeWatch, WatchesEveryDirectoryBelowTheRoot) {
  test::TempDir ws;
  fs::create_directories(ws.path / "a/b/c");
  fs::create_directories(ws.path / ".hidden/x");
  append_file(ws.path / "file", "x");
  TreeWatch watch;
  ASSERT_TRUE(open_tree_watch(watch, ws.str()));
  EXPECT_EQ(watch.dirs.size(), 6u);  // root, a, a/b, a/b/c, .hidden, .hidden/x
  append_file(ws.path / "a/b/c/deep.txt", "x");
  EXPECT_TRUE(sees(watch, ws.str() + "/a/b/c/deep.txt"));
}

TEST(TreeWatch, RootThatCannotBeWatched) {
  test::TempDir ws;
  append_file(ws.path / "plain", "x");
  for (std::string root : {ws.str() + "/missing", ws.str() + "/plain", std::string(),
                           ws.str() + std::string("\0/x", 3)}) {
    TreeWatch watch;
    EXPECT_FALSE(open_tree_watch(watch, root)) << root;
  }
}

TEST(TreeWatch, ContentsOfANewDirectoryAreReported) {
  test::TempDir ws;
  TreeWatch watch;
  ASSERT_TRUE(open_tree_watch(watch, ws.str()));
  // Made in one go, before the watcher can add watches for the new directories.
  test::sh(ws.path, "mkdir -p n/d1/d2 && echo x > n/d1/d2/f && echo y > n/top");
  EXPECT_TRUE(sees(watch, ws.str() + "/n/d1/d2/f"));
  EXPECT_EQ(watch.dirs.size(), 4u);
}

TEST(TreeWatch, PathsStartWithTheRootText) {
  test::TempDir ws;
  fs::create_directories(ws.path / "sub");
  TreeWatch watch;
  ASSERT_TRUE(open_tree_watch(watch, ws.str() + "/"));
  append_file(ws.path / "sub/f", "x");
  EXPECT_TRUE(sees(watch, ws.str() + "/sub/f"));

  TreeWatch relative;
  ASSERT_TRUE(open_tree_watch(relative, fs::relative(ws.path / "sub").string()));
  append_file(ws.path / "sub/g", "x");
  EXPECT_TRUE(sees(relative, fs::relative(ws.path / "sub/g").string()));
}

TEST(TreeWatch, RenamedDirectoryKeepsItsWatches) {
  test::TempDir ws;
  fs::create_directories(ws.path / "old/inner/deeper");
  TreeWatch watch;
  ASSERT_TRUE(open_tree_watch(watch, ws.str()));
  fs::rename(ws.path / "old", ws.path / "new");
  append_file(ws.path / "new/inner/deeper/f", "x");
  EXPECT_TRUE(sees(watch, ws.str() + "/new/inner/deeper/f"));
  EXPECT_EQ(watch.dirs.size(), 4u);
}

TEST(TreeWatch, DirectoryMovedOutIsUnwatchedAndMovedInIsWatched) {
  test::TempDir ws;
  test::TempDir outside;
  fs::create_directories(ws.path / "tree/leaving/sub");
  fs::create_directories(outside.path / "arriving/sub");
  TreeWatch watch;
  ASSERT_TRUE(open_tree_watch(watch, (ws.path / "tree").string()));
  EXPECT_EQ(watch.dirs.size(), 3u);

  fs::rename(ws.path / "tree/leaving", ws.path / "gone");
  fs::rename(outside.path / "arriving", ws.path / "tree/arriving");
  append_file(ws.path / "tree/arriving/sub/f", "x");
  EXPECT_TRUE(sees(watch, (ws.path / "tree/arriving/sub/f").string()));
  EXPECT_EQ(watch.dirs.size(), 3u);  // tree, arriving, arriving/sub

  std::vector<std::string> seen;
  append_file(ws.path / "gone/sub/f", "x");
  append_file(ws.path / "tree/marker", "x");
  ASSERT_TRUE(sees(watch, (ws.path / "tree/marker").string(), &seen));
  for (const auto& p : seen) EXPECT_EQ(p.find("gone"), std::string::npos) << p;
}

TEST(TreeWatch, DeletedDirectoriesAreForgotten) {
  test::TempDir ws;
  fs::create_directories(ws.path / "d/e/f");
  TreeWatch watch;
  ASSERT_TRUE(open_tree_watch(watch, ws.str()));
  fs::remove_all(ws.path / "d");
  append_file(ws.path / "marker", "x");
  ASSERT_TRUE(sees(watch, ws.str() + "/marker"));
  EXPECT_TRUE(eventually([&] {
    read_tree_events(watch, 20, [](const TreeEvent&) {});
    return watch.dirs.size() == 1;
  }));
  EXPECT_TRUE(watch.below.empty());
}

TEST(TreeWatch, OverflowIsReportedAndLostDirectoriesAreWatched) {
  test::TempDir ws;
  TreeWatch watch;
  ASSERT_TRUE(open_tree_watch(watch, ws.str()));
  // More events than the kernel queues (16384 by default) while nobody reads; writes to two
  // files in turn, since the kernel merges a repeat of the event just queued.
  int a = open((ws.path / "a").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  int b = open((ws.path / "b").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  for (int i = 0; i < 20000; ++i) ASSERT_EQ(write(i % 2 ? b : a, "x", 1), 1);
  close(a);
  close(b);
  fs::create_directories(ws.path / "late/inner");  // its event is lost
  bool overflow = false;
  while (!overflow) {
    bool any = false;
    read_tree_events(watch, 0, [&](const TreeEvent& e) {
      any = true;
      overflow = overflow || e.overflow;
    });
    if (!any) break;
  }
  EXPECT_TRUE(overflow);
  append_file(ws.path / "late/inner/f", "x");
  EXPECT_TRUE(sees(watch, ws.str() + "/late/inner/f"));
}

}  // namespace
}  // namespace brackwen
