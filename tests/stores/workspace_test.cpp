// The workspace on real trees: the scan for repositories, one inotify watch per directory kept
// in step, the change filter and flags, and the watcher threads' hand-over of a root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "stores/stores.hpp"
#include "stores/tree_watcher.hpp"
#include "stores/watcher.hpp"
#include "stores/workspace_scan.hpp"
#include "support/requests.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::eventually;
namespace fs = std::filesystem;

using Paths = std::vector<std::string>;

Paths words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

TEST(WorkspaceScan, Table) {
  struct Case {
    std::string layout, root;  // made in the workspace folder; the folder and what follows it
    bool descend;
    std::string found;  // what follows the folder, in byte order
  };
  const Case cases[] = {
      {"mkdir -p r/.git", "", false, ""},
      {"mkdir .git", "/", false, "/"},  // as sent
      {"mkdir -p 1/2/3/4/5/.git", "", true, "/1/2/3/4/5"},
      {"mkdir -p 1/2/3/4/5/6/.git", "", true, ""},
      // Folders of more than 49 entries are not entered; the folder scanned is still tested.
      {"mkdir -p s/r/.git l/r/.git; cd s; touch $(seq 48); cd ../l; touch $(seq 49)", "", true,
       "/s/r"},
      {"mkdir -p l/r/.git l/.git; cd l; touch $(seq 48)", "/l", true, "/l"},
      {"mkdir -p .h/r/.git o/.git o/src/in/.git", "", true, "/o /o/src/in"},
      {"mkdir -p .t/.git w; touch w/.git; ln -s .t link; ln -s missing broken", "", true,
       "/link /w"},
      // Not text, so not taken as hidden either.
      {"mkdir -p \"$(printf 'caf\\351')/.git\" \"$(printf '.\\377')/in/.git\"", "", true,
       "/.\uFFFD/in /caf\uFFFD"},
      {"mkdir -p r/.git", std::string("\0/r", 3), false, ""},
      {"touch file", "/file", true, ""},
  };
  for (const auto& c : cases) {
    test::TempDir ws;
    test::sh(ws.path, c.layout);
    Paths found = scan_workspace(ws.str() + c.root, c.descend);
    std::sort(found.begin(), found.end());
    Paths expected;
    for (const auto& p : words(c.found)) expected.push_back(ws.str() + p);
    EXPECT_EQ(found, expected) << c.layout;
  }
}

void append_file(const fs::path& file) {
  std::ofstream(file, std::ios::app) << "x";
}

// Reads events until `wanted` is among the paths seen so far; all of them go to `seen`.
bool sees(TreeWatch& watch, const std::string& wanted, std::vector<std::string>& seen) {
  return eventually([&] {
    read_tree_events(watch, 20, [&](const TreeEvent& e) {
      seen.insert(seen.end(), e.paths.begin(), e.paths.end());
    });
    return std::find(seen.begin(), seen.end(), wanted) != seen.end();
  });
}

TEST(TreeWatch, KeptInStepWithTheTree) {
  struct Case {
    std::string before, root, change, expected;
    size_t dirs;
  };
  const Case cases[] = {
      {"mkdir -p a/b/c .hidden/x; echo > file;", "", "echo > a/b/c/f", "a/b/c/f", 6},
      {"mkdir sub;", "/", "echo > sub/f", "sub/f", 2},  // the root's text is kept as sent
      // Made in one go, before the watcher can add watches for the new directories.
      {"", "", "mkdir -p n/d1/d2 && echo > n/d1/d2/f && echo > n/top", "n/d1/d2/f", 4},
      {"mkdir -p old/in/deep;", "", "mv old new && echo > new/in/deep/f", "new/in/deep/f", 4},
      // A directory moved out is no longer reported, one moved in is watched.
      {"mkdir -p tree/leaving/sub arriving/sub;", "/tree",
       "mv tree/leaving gone && mv arriving tree/ && echo > gone/sub/f && echo > "
       "tree/arriving/sub/f",
       "tree/arriving/sub/f", 3},
      {"mkdir -p d/e/f;", "", "rm -r d", "marker", 1},
  };
  for (const auto& c : cases) {
    test::TempDir ws;
    test::sh(ws.path, c.before + " true");
    TreeWatch watch;
    ASSERT_TRUE(open_tree_watch(watch, ws.str() + c.root)) << c.change;
    std::string dir = c.root == "/" ? "" : c.root;
    test::sh(ws.path, c.change + " && echo > ./" + dir + "/marker");
    std::vector<std::string> seen;
    EXPECT_TRUE(sees(watch, ws.str() + dir + "/marker", seen)) << c.change;
    EXPECT_NE(std::find(seen.begin(), seen.end(), ws.str() + "/" + c.expected), seen.end())
        << c.change;
    for (const auto& path : seen) EXPECT_EQ(path.find("gone"), std::string::npos) << path;
    EXPECT_EQ(watch.dirs.size(), c.dirs) << c.change;
    EXPECT_EQ(watch.below.size(), c.dirs - 1) << c.change;
  }
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
  for (bool any = true; any && !overflow;) {
    any = false;
    read_tree_events(watch, 0, [&](const TreeEvent& e) {
      any = true;
      overflow = overflow || e.overflow;
    });
  }
  EXPECT_TRUE(overflow);
  append_file(ws.path / "late/inner/f");
  std::vector<std::string> seen;
  EXPECT_TRUE(sees(watch, ws.str() + "/late/inner/f", seen));
}

std::optional<bool> flag_of(const std::string& repo) {
  auto flags = get_repo_changed();
  if (!flags || !flags->contains(repo)) return std::nullopt;
  return flags->at(repo);
}

struct WatchTest : ::testing::Test {
  void TearDown() override {
    stop_watching_repo();
    EXPECT_TRUE(eventually([] { return running_watchers() == 0; }));
    COMMITS_CACHE().set({});
    CONFIG_CACHE().set({});
  }
};

// Reflogs and locks are left out, and names that are not UTF-8; what is left sets the flag of
// the longest key it starts with.
TEST_F(WatchTest, EventSetsTheFlagOfTheLongestByteKey) {
  struct Case {
    std::string keys, root, paths;
    bool overflow;
    std::string set;
  };
  const std::string keys = "/a/repo /a/repo/sub /b";
  const Case cases[] = {
      {keys, "/a", "/a/repo/sub/x", false, "/a/repo/sub"},
      {keys, "/a", "/a/repo/y /a/repo/.git/index /a/repo/.git/refs/heads/main", false, "/a/repo"},
      {keys, "/a", "/a/repo2/file", false, "/a/repo"},  // bytes, not components
      {keys, "/a", "/a/repo/sub2/file", false, "/a/repo/sub"},
      {keys, "/a", "/a/repo/.git/modules/sub/logs/HEAD", false, "/a/repo"},  // the first .git
      {keys, "/a", "/a/repo/.lock/file", false, "/a/repo"},  // only the last name is a lock
      {keys, "/a",
       "/c/f /a/repo/.git/logs/HEAD /a/repo/.git/logs/refs/heads/main /a/repo/.git/logs "
       "/a/repo/.git/./logs/HEAD /a/repo/.git/index.lock /a/repo/.git/refs/heads/main.lock "
       "/a/repo/notes.lockfile /a/repo/\xff",
       false, ""},
      // Overflow: every repository under the root and the one holding it, by whole names.
      {"/ws/a /ws/b/c /ws2 /other /", "/ws", "", true, "/ws/a /ws/b/c /"},
      {"/ws /ws/a", "/ws/a/deep", "", true, "/ws/a"},
  };
  for (const auto& c : cases) {
    std::unordered_map<std::string, bool> flags;
    for (const auto& key : words(c.keys)) flags[key] = false;
    set_repo_changed(flags);
    on_repo_event(c.root, TreeEvent{words(c.paths), c.overflow});
    for (const auto& key : words(c.set)) flags[key] = true;
    EXPECT_EQ(get_repo_changed(), flags) << c.paths;
  }
}

TEST_F(WatchTest, WatchResetsFlagsAndPrunesCaches) {
  test::TempDir root;
  COMMITS_CACHE().set({{"/keep", std::make_shared<const CommitsAndRefs>()},
                       {"/drop", std::make_shared<const CommitsAndRefs>()}});
  CONFIG_CACHE().set({{"/keep", RepoConfig{}}, {"/drop", RepoConfig{}}});
  watch_repo({"/keep", "/new", "/keep"}, root.str(), true);
  EXPECT_EQ(get_repo_changed(),
            (std::unordered_map<std::string, bool>{{"/keep", true}, {"/new", true}}));
  EXPECT_TRUE(get_cached_commits("/keep") && get_cached_config("/keep"));
  EXPECT_FALSE(get_cached_commits("/drop") || get_cached_config("/drop"));
  watch_repo({"/new"}, root.str(), false);  // same root: pruned all the same
  EXPECT_FALSE(get_cached_commits("/keep"));
}

// Writes to `probe` until its repository's flag is set: the watcher is then subscribed.
void wait_until_live(const fs::path& probe, const std::string& repo) {
  ASSERT_TRUE(eventually([&] {
    append_file(probe);
    return flag_of(repo) == true;
  }));
}

// A root given up (one that cannot be watched, stopped, deleted) can be watched afresh.
TEST_F(WatchTest, RootIsReleasedAndWatchedAgain) {
  test::TempDir ws;
  fs::path root = ws.path / "repo";
  std::string repo = root.string();
  append_file(ws.path / "plain");
  for (std::string bad : {repo, ws.str() + "/plain", ws.str() + std::string("\0/x", 3)}) {
    watch_repo({repo}, bad, true);  // the subscription fails
    EXPECT_TRUE(eventually([] { return running_watchers() == 0; })) << bad;
    EXPECT_EQ(WATCHED_REPO().get(), "") << bad;
  }
  EXPECT_EQ(flag_of(repo), true);

  fs::create_directories(root / "sub");
  watch_repo({repo}, repo, false);
  wait_until_live(root / "file", repo);
  stop_watching_repo();
  EXPECT_EQ(flag_of(repo), std::nullopt);
  EXPECT_TRUE(eventually([] { return running_watchers() == 0; }));
  append_file(root / "file");  // no key: changes nothing, adds nothing
  EXPECT_TRUE(get_repo_changed()->empty());

  watch_repo({repo}, repo, false);
  EXPECT_EQ(flag_of(repo), false);
  wait_until_live(root / "file", repo);
  fs::remove_all(root);
  EXPECT_TRUE(eventually([] { return running_watchers() == 0; }));
  EXPECT_EQ(WATCHED_REPO().get(), "");
  fs::create_directories(root);
  watch_repo({repo}, repo, false);
  wait_until_live(root / "file", repo);
}

// Threads may start out of order: a stop right after a watch ends that watch's thread, and the
// newest root requested is the one watched.
TEST_F(WatchTest, NewestRequestWinsAndNothingLeaks) {
  test::TempDir first;
  test::TempDir second;
  fs::create_directories(first.path / "sub");
  size_t before = test::open_descriptors();
  for (int i = 0; i < 200; ++i) {
    watch_repo({}, first.str(), false);
    stop_watching_repo();
  }
  EXPECT_TRUE(eventually([] { return running_watchers() == 0; }));
  EXPECT_EQ(WATCHED_REPO().get(), "");
  EXPECT_EQ(test::open_descriptors(), before);
  for (int i = 0; i < 50; ++i) {
    watch_repo({}, first.str(), false);
    watch_repo({}, second.str(), false);
    EXPECT_EQ(WATCHED_REPO().get(), second.str());
  }
  EXPECT_TRUE(eventually([] { return running_watchers() == 1; }));
  EXPECT_EQ(WATCHED_REPO().get(), second.str());
}

}  // namespace
}  // namespace brackwen
