#include "stores/repo_changed.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "stores/stores.hpp"

namespace brackwen {
namespace {

TEST(RepoChanged, OnlyWatchedPathsHaveFlags) {
  set_repo_changed({{"/a", true}, {"/b", false}});
  clear_repo_changed_status("/a");
  mark_repo_changed("/b");
  mark_repo_changed("/unwatched");
  clear_repo_changed_status("/also-unwatched");
  EXPECT_EQ(*get_repo_changed(),
            (std::unordered_map<std::string, bool>{{"/a", false}, {"/b", true}}));
}

TEST(RepoChanged, ConcurrentUpdatesOfDifferentPathsAreNotLost) {
  std::unordered_map<std::string, bool> flags;
  for (int i = 0; i < 8; ++i) flags["/r" + std::to_string(i)] = false;
  set_repo_changed(flags);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([i] {
      for (int n = 0; n < 2000; ++n) {
        clear_repo_changed_status("/r" + std::to_string(i));
        mark_repo_changed("/r" + std::to_string(i));
      }
    });
  }
  for (auto& t : threads) t.join();
  auto after = get_repo_changed();
  for (const auto& [path, changed] : *after) EXPECT_TRUE(changed) << path;
}

}  // namespace
}  // namespace brackwen
