// The process-wide stores: updates of concurrent threads, a poisoned store, and the small
// stores whose rules no reply shows.
#include "stores/stores.hpp"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <thread>

#include "stores/diff_searches.hpp"
#include "stores/environment.hpp"
#include "stores/repo_changed.hpp"
#include "stores/user_dirs.hpp"

namespace brackwen {
namespace {

void on_threads(int count, const std::function<void(int)>& body) {
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) threads.emplace_back(body, t);
  for (auto& th : threads) th.join();
}

TEST(Stores, ConcurrentUpdatesLoseNothing) {
  static constexpr ActionId id = 4242;
  ACTIONS().update([&](auto& all) { all[id] = ActionState{}; });
  on_threads(8, [](int t) {
    for (int i = 0; i < 1000; ++i) {
      ACTIONS().update([&](auto& all) {
        all[id].stdout_lines.push_back(std::to_string(t) + ":" + std::to_string(i));
      });
    }
  });
  const auto lines = ACTIONS().get()->at(id).stdout_lines;
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), 8000u);
  ACTIONS().update([&](auto& all) { all.erase(id); });

  std::unordered_map<std::string, bool> flags;
  for (int i = 0; i < 8; ++i) flags["/r" + std::to_string(i)] = false;
  set_repo_changed(flags);
  on_threads(8, [](int t) {
    for (int n = 0; n < 2000; ++n) {
      clear_repo_changed_status("/r" + std::to_string(t));
      mark_repo_changed("/r" + std::to_string(t));
    }
  });
  auto after = get_repo_changed();
  for (const auto& [path, changed] : *after) EXPECT_TRUE(changed) << path;
}

TEST(Stores, OnlyWatchedPathsHaveFlags) {
  set_repo_changed({{"/a", true}, {"/b", false}});
  clear_repo_changed_status("/a");
  mark_repo_changed("/b");
  mark_repo_changed("/unwatched");
  clear_repo_changed_status("/also-unwatched");
  EXPECT_EQ(get_repo_changed(),
            (std::unordered_map<std::string, bool>{{"/a", false}, {"/b", true}}));
}

TEST(Store, WriterThatThrowsPoisonsForGood) {
  Store<int> store{5};
  EXPECT_THROW(store.update([](int& v) {
    v = 6;
    throw std::runtime_error("writer died");
  }),
               std::runtime_error);
  EXPECT_EQ(store.get(), std::nullopt);
  EXPECT_EQ(store.read([](int v) { return v; }), std::nullopt);
  EXPECT_FALSE(store.set(7));
  EXPECT_EQ(store.get(), std::nullopt);
}

TEST(Stores, ClearingSearchesKeepsTheRunningOnes) {
  DiffSearch done;
  done.complete = true;
  set_diff_search(1, done);
  set_diff_search(2, DiffSearch{});
  clear_searches();
  ASSERT_EQ(get_diff_searches()->size(), 1u);
  EXPECT_EQ(get_diff_searches()->begin()->first, 2u);
  DIFF_SEARCHES().set({});
}

TEST(UserCachesDir, XdgWhenAbsoluteElseHomeLookedUpOnEveryCall) {
  auto xdg = get_environment("XDG_CACHE_HOME");
  auto home = get_environment("HOME");
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"/x/cache", "/h/one", "/x/cache/brackwen"},
      {"relative/cache", "/h/one", "/h/one/.cache/brackwen"},
      {"", "/h/two", "/h/two/.cache/brackwen"},
  };
  for (const auto& [xdg_value, home_value, dir] : cases) {
    set_environment("XDG_CACHE_HOME", xdg_value);
    set_environment("HOME", home_value);
    EXPECT_EQ(user_caches_dir(), std::filesystem::path(dir));
  }
  set_environment("HOME", "");  // falls back to the password database
  EXPECT_TRUE(user_caches_dir() && user_caches_dir()->is_absolute());
  set_environment("XDG_CACHE_HOME", xdg.value_or(""));
  set_environment("HOME", home.value_or(""));
}

}  // namespace
}  // namespace brackwen
