// Watching on real inotify trees: one watch per directory kept in step, the change filter, the
// flags, and the watcher threads' hand-over of a root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "stores/stores.hpp"
#include "stores/tree_watcher.hpp"
#include "stores/watcher.hpp"
#include "support/requests.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::eventually;
namespace fs = std::filesystem;

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
    std::string before, root, change, expected, absent;
    size_t dirs;
  };
  const Case cases[] = {
      {"mkdir -p a/b/c .hidden/x; echo > file;", "", "echo > a/b/c/f", "a/b/c/f", "", 6},
      {"mkdir sub;", "/", "echo > sub/f", "sub/f", "", 2},  // the root's text is kept as sent
      // Made in one go, before the watcher can add watches for the new directories.
      {"", "", "mkdir -p n/d1/d2 && echo > n/d1/d2/f && echo > n/top", "n/d1/d2/f", "", 4},
      {"mkdir -p old/in/deep;", "", "mv old new && echo > new/in/deep/f", "new/in/deep/f", "", 4},
      {"mkdir -p tree/leaving/sub arriving/sub;", "/tree",
       "mv tree/leaving gone && mv arriving tree/ && echo > gone/sub/f && echo > "
       "tree/arriving/sub/f",
       "tree/arriving/sub/f", "gone", 3},
      {"mkdir -p d/e/f;", "", "rm -r d", "marker", "", 1},
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
    for (const auto& path : seen) {
      EXPECT_TRUE(c.absent.empty() || path.find(c.absent) == std::string::npos) << path;
    }
    EXPECT_EQ(watch.dirs.size(), c.dirs) << c.change;
    EXPECT_EQ(watch.below.size(), c.dirs - 1) << c.change;
  }
}

TEST(TreeWatch, RootsThatCannotBeWatched) {
  test::TempDir ws;
  append_file(ws.path / "plain");
  for (std::string root : {ws.str() + "/missing", ws.str() + "/plain", std::string(),
                           ws.str() + std::string("\0/x", 3)}) {
    TreeWatch watch;
    EXPECT_FALSE(open_tree_watch(watch, root)) << root;
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

// Only the first .git counts; "." is no component; names that are not UTF-8 are left out; only
// the last component is tested for ".lock".
TEST(IsRelevantChange, LogsAndLocksAreLeftOut) {
  for (std::string path :
       {"/r/src/main.c", "/r/.git/index", "/r/.git/refs/heads/main",
        "/r/.git/modules/sub/logs/HEAD", "/r/ok/\xff.lock", "/r/.lock/file", "", "/"}) {
    EXPECT_TRUE(is_relevant_change(path)) << path;
  }
  for (std::string path : {"/r/.git/logs/HEAD", "/r/.git/logs/refs/heads/main", "/r/.git/logs",
                           "/r/.git/index.lock", "/r/.git/refs/heads/main.lock",
                           "/r/notes.lockfile", "/r/.git/./logs/HEAD", "/r/.git/\xff/logs/HEAD"}) {
    EXPECT_FALSE(is_relevant_change(path)) << path;
  }
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

TEST_F(WatchTest, EventSetsTheFlagOfTheLongestByteKey) {
  struct Case {
    std::vector<std::string> keys;
    std::string root;
    std::vector<std::string> paths;
    bool overflow;
    std::vector<std::string> set;
  };
  const std::vector<std::string> nested = {"/a/repo", "/a/repo/sub", "/b"};
  const Case cases[] = {
      {nested, "/a", {"/a/repo/sub/x"}, false, {"/a/repo/sub"}},
      {nested, "/a", {"/a/repo/y"}, false, {"/a/repo"}},
      {nested, "/a", {"/a/repo2/file"}, false, {"/a/repo"}},  // bytes, not components
      {nested, "/a", {"/a/repo/sub2/file"}, false, {"/a/repo/sub"}},
      {nested, "/a", {"/c/file", "/a/repo/.git/logs/HEAD", "/a/repo/\xff"}, false, {}},
      // Overflow: every repository under the root and the one holding it, by whole names.
      {{"/ws/a", "/ws/b/c", "/ws2", "/other", "/"}, "/ws", {}, true, {"/ws/a", "/ws/b/c", "/"}},
      {{"/ws", "/ws/a"}, "/ws/a/deep", {}, true, {"/ws/a"}},
  };
  for (const auto& c : cases) {
    std::unordered_map<std::string, bool> flags;
    for (const auto& key : c.keys) flags[key] = false;
    set_repo_changed(flags);
    on_repo_event(c.root, TreeEvent{c.paths, c.overflow});
    for (auto& [key, value] : flags) {
      value = std::find(c.set.begin(), c.set.end(), key) != c.set.end();
    }
    EXPECT_EQ(get_repo_changed(), flags) << c.root << " " << c.paths.size();
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

// A root given up (stopped, failed to subscribe, deleted) can be watched afresh.
TEST_F(WatchTest, RootIsReleasedAndWatchedAgain) {
  test::TempDir ws;
  fs::path root = ws.path / "repo";
  std::string repo = root.string();
  watch_repo({repo}, repo, true);  // not there yet: the subscription fails
  EXPECT_TRUE(eventually([] { return running_watchers() == 0; }));
  EXPECT_EQ(WATCHED_REPO().get(), "");
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

size_t open_descriptors() {
  return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

// Threads may start out of order: a stop right after a watch ends that watch's thread, and the
// newest root requested is the one watched.
TEST_F(WatchTest, NewestRequestWinsAndNothingLeaks) {
  test::TempDir first;
  test::TempDir second;
  fs::create_directories(first.path / "sub");
  size_t before = open_descriptors();
  for (int i = 0; i < 200; ++i) {
    watch_repo({}, first.str(), false);
    stop_watching_repo();
  }
  EXPECT_TRUE(eventually([] { return running_watchers() == 0; }));
  EXPECT_EQ(WATCHED_REPO().get(), "");
  EXPECT_EQ(open_descriptors(), before);
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
