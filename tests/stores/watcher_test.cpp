// Repository watching: the change filter, flag matching, and real watchers on temporary trees.
#include "stores/watcher.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "stores/stores.hpp"
#include "support/temp_repo.hpp"
#include "watch_support.hpp"

namespace brackwen {
namespace {

using test::append_file;
using test::eventually;
using test::flag_of;
namespace fs = std::filesystem;

TEST(IsRelevantChange, Table) {
  struct Case {
    std::string path;
    bool relevant;
  };
  const Case cases[] = {
      {"/r/src/main.c", true},
      {"/r/.git/index", true},
      {"/r/.git/HEAD", true},
      {"/r/.git/refs/heads/main", true},
      {"/r/.git/logs/HEAD", false},
      {"/r/.git/logs/refs/heads/main", false},
      {"/r/.git/index.lock", false},
      {"/r/.git/refs/heads/main.lock", false},
      {"/r/notes.lockfile", false},
      {"/r/.git/modules/sub/logs/HEAD", true},  // only the first .git counts
      {"/r/.git/logs", false},
      {"/r/.git/./logs/HEAD", false},     // "." is no component
      {"/r/.git/\xff/logs/HEAD", false},  // names that are not UTF-8 are left out
      {"/r/ok/\xff.lock", true},          // ... also as the last component
      {"/r/.lock/file", true},            // only the last component is tested for .lock
      {"", true},
      {"/", true},
      {"/r/src/ünïcode.c", true},
  };
  for (const auto& c : cases) EXPECT_EQ(is_relevant_change(c.path), c.relevant) << c.path;
}

struct WatchTest : ::testing::Test {
  void TearDown() override {
    stop_watching_repo();
    EXPECT_TRUE(eventually([] { return running_watchers() == 0; }));
    COMMITS_CACHE().set({});
    CONFIG_CACHE().set({});
  }
};

TEST_F(WatchTest, LongestByteKeyTakesEachPath) {
  set_repo_changed({{"/a/repo", false}, {"/a/repo/sub", false}, {"/b", false}});
  struct Case {
    std::string path;
    std::vector<std::string> set;
  };
  const Case cases[] = {
      {"/a/repo/sub/x", {"/a/repo/sub"}},     {"/a/repo/y", {"/a/repo"}},
      {"/a/repo2/file", {"/a/repo"}},  // bytes, not components
      {"/a/repo/sub2/file", {"/a/repo/sub"}}, {"/c/file", {}},
      {"/a/repo/.git/logs/HEAD", {}},         {"/a/repo/\xff", {}},  // not UTF-8: dropped
  };
  for (const auto& c : cases) {
    set_repo_changed({{"/a/repo", false}, {"/a/repo/sub", false}, {"/b", false}});
    on_repo_event("/a", TreeEvent{{c.path}, false});
    auto flags = *get_repo_changed();
    for (const auto& [key, value] : flags) {
      bool expected = std::find(c.set.begin(), c.set.end(), key) != c.set.end();
      EXPECT_EQ(value, expected) << c.path << " -> " << key;
    }
    EXPECT_EQ(flags.size(), 3u);
  }
}

TEST_F(WatchTest, OverflowSetsEveryRepositoryUnderTheRoot) {
  set_repo_changed(
      {{"/ws/a", false}, {"/ws/b/c", false}, {"/ws2", false}, {"/other", false}, {"/", false}});
  on_repo_event("/ws", TreeEvent{{}, true});
  auto flags = *get_repo_changed();
  EXPECT_TRUE(flags["/ws/a"]);
  EXPECT_TRUE(flags["/ws/b/c"]);
  EXPECT_FALSE(flags["/ws2"]);  // a sibling whose name starts like the root
  EXPECT_FALSE(flags["/other"]);
  EXPECT_TRUE(flags["/"]);  // the repository holding the root

  set_repo_changed({{"/ws", false}, {"/ws/a", false}});
  on_repo_event("/ws/a/deep", TreeEvent{{}, true});
  flags = *get_repo_changed();
  EXPECT_TRUE(flags["/ws/a"]);
  EXPECT_FALSE(flags["/ws"]);
}

TEST_F(WatchTest, WatchRepoResetsFlagsAndPrunesCaches) {
  test::TempDir root;
  COMMITS_CACHE().set({{"/keep", std::make_shared<const CommitsAndRefs>()},
                       {"/drop", std::make_shared<const CommitsAndRefs>()}});
  CONFIG_CACHE().set({{"/keep", RepoConfig{}}, {"/drop", RepoConfig{}}});
  watch_repo({"/keep", "/new", "/keep"}, root.str(), true);
  EXPECT_EQ(get_repo_changed()->size(), 2u);
  EXPECT_EQ(flag_of("/keep"), true);
  EXPECT_EQ(flag_of("/new"), true);
  EXPECT_TRUE(get_cached_commits("/keep"));
  EXPECT_FALSE(get_cached_commits("/drop"));
  EXPECT_TRUE(get_cached_config("/keep"));
  EXPECT_FALSE(get_cached_config("/drop"));

  watch_repo({"/new"}, root.str(), false);  // same root: pruned all the same
  EXPECT_FALSE(get_cached_commits("/keep"));
  EXPECT_EQ(flag_of("/new"), false);
  EXPECT_EQ(flag_of("/keep"), std::nullopt);
}

// Writes to `probe` until its repository's flag is set: the watcher is then subscribed.
void wait_until_live(const fs::path& probe, const std::string& repo) {
  ASSERT_TRUE(eventually([&] {
    append_file(probe, "x");
    return flag_of(repo) == true;
  }));
}

TEST_F(WatchTest, ReflogAndLockWritesLeaveTheFlag) {
  test::TempDir ws;
  std::string a = (ws.path / "a").string();
  std::string sentinel = (ws.path / "sentinel").string();
  fs::create_directories(ws.path / "a/.git/logs/refs/heads");
  fs::create_directories(ws.path / "a/.git/refs/heads");
  watch_repo({a, sentinel}, ws.str(), false);
  wait_until_live(ws.path / "sentinel/probe", sentinel);
  set_repo_changed({{a, false}, {sentinel, false}});

  append_file(ws.path / "a/.git/logs/HEAD", "entry\n");
  append_file(ws.path / "a/.git/logs/refs/heads/main", "entry\n");
  append_file(ws.path / "a/.git/index.lock", "x");
  fs::remove(ws.path / "a/.git/index.lock");
  append_file(ws.path / "a/.git/refs/heads/main.lock", "x");
  append_file(ws.path / "a/notes.lockfile", "x");
  // Events of one watch arrive in order: once the sentinel is seen, a's have been handled.
  append_file(ws.path / "sentinel/after", "x");
  ASSERT_TRUE(eventually([&] { return flag_of(sentinel) == true; }));
  EXPECT_EQ(flag_of(a), false);

  fs::rename(ws.path / "a/.git/refs/heads/main.lock", ws.path / "a/.git/refs/heads/main");
  EXPECT_TRUE(eventually([&] { return flag_of(a) == true; }));
}

TEST_F(WatchTest, WatchStopAndWatchAgainTheSameRoot) {
  test::TempDir ws;
  std::string repo = (ws.path / "repo").string();
  watch_repo({repo}, ws.str(), false);
  wait_until_live(ws.path / "repo/file", repo);

  stop_watching_repo();
  EXPECT_EQ(flag_of(repo), std::nullopt);
  EXPECT_TRUE(eventually([] { return running_watchers() == 0; }));
  append_file(ws.path / "repo/file", "x");  // no key: changes nothing, adds nothing
  EXPECT_TRUE(get_repo_changed()->empty());

  watch_repo({repo}, ws.str(), false);
  EXPECT_EQ(flag_of(repo), false);
  wait_until_live(ws.path / "repo/file", repo);
}

size_t open_descriptors() {
  return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

// A stop right after a watch must end that watch's thread, however late the thread starts.
TEST_F(WatchTest, StartAndStopManyTimesLeavesNoThreadOrDescriptor) {
  test::TempDir ws;
  fs::create_directories(ws.path / "repo/sub");
  std::string repo = (ws.path / "repo").string();
  size_t before = open_descriptors();
  for (int i = 0; i < 200; ++i) {
    watch_repo({repo}, ws.str(), false);
    stop_watching_repo();
  }
  EXPECT_TRUE(eventually([] { return running_watchers() == 0; }));
  EXPECT_EQ(WATCHED_REPO().get(), "");
  EXPECT_EQ(open_descriptors(), before);
}

// The newest request wins even when an older request's thread starts last.
TEST_F(WatchTest, LastRootRequestedIsTheOneWatched) {
  test::TempDir first;
  test::TempDir second;
  for (int i = 0; i < 50; ++i) {
    watch_repo({}, first.str(), false);
    watch_repo({}, second.str(), false);
    EXPECT_EQ(WATCHED_REPO().get(), second.str());
  }
  EXPECT_TRUE(eventually([] { return running_watchers() == 1; }));
  EXPECT_EQ(WATCHED_REPO().get(), second.str());
}

TEST_F(WatchTest, FailedSubscriptionFreesTheRoot) {
  test::TempDir ws;
  fs::path later = ws.path / "clone-in-progress";
  std::string repo = later.string();
  watch_repo({repo}, repo, true);
  EXPECT_TRUE(eventually([] { return running_watchers() == 0; }));
  EXPECT_EQ(WATCHED_REPO().get(), "");
  EXPECT_EQ(flag_of(repo), true);

  fs::create_directories(later);
  watch_repo({repo}, repo, false);
  wait_until_live(later / "file", repo);
}

TEST_F(WatchTest, DeletedRootEndsItsWatcherAndCanBeWatchedAgain) {
  test::TempDir ws;
  fs::path root = ws.path / "repo";
  std::string repo = root.string();
  fs::create_directories(root / "sub");
  watch_repo({repo}, repo, false);
  wait_until_live(root / "file", repo);

  fs::remove_all(root);
  EXPECT_TRUE(eventually([] { return running_watchers() == 0; }));
  EXPECT_EQ(WATCHED_REPO().get(), "");

  fs::create_directories(root);
  watch_repo({repo}, repo, false);
  wait_until_live(root / "file", repo);
}

}  // namespace
}  // namespace brackwen
