#include "stores/stores.hpp"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <thread>

#include "support/fresh_process.hpp"

namespace brackwen {
namespace {

TEST(Stores, ConcurrentUpdatesOfOneActionLoseNothing) {
  static constexpr ActionId id = 4242;
  constexpr int kThreads = 8, kUpdates = 1000;
  ACTIONS().update([&](auto& all) { all[id] = ActionState{}; });
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kUpdates; ++i) {
        ACTIONS().update([&](auto& all) {
          all[id].stdout_lines.push_back(std::to_string(t) + ":" + std::to_string(i));
        });
      }
    });
  }
  for (auto& th : threads) th.join();
  auto all = ACTIONS().get();
  ASSERT_TRUE(all);
  const auto& lines = all->at(id).stdout_lines;
  EXPECT_EQ(lines.size(), size_t{kThreads * kUpdates});
  std::set<std::string> distinct(lines.begin(), lines.end());
  EXPECT_EQ(distinct.size(), lines.size());
  ACTIONS().update([&](auto& all) { all.erase(id); });
}

TEST(Stores, CountersAllocateInOrder) {
  test::in_fresh_process([] {
    auto next = [](Store<uint32_t>& counter) {
      uint32_t id = get_counter(counter).value_or(0) + 1;
      set_counter(counter, id);
      return id;
    };
    EXPECT_EQ(next(LAST_ACTION_ID()), 2u);
    EXPECT_EQ(next(LAST_ACTION_ID()), 3u);
    EXPECT_EQ(next(LAST_SEARCH_ID()), 1u);
    EXPECT_EQ(next(LAST_SEARCH_ID()), 2u);
  });
}

TEST(Store, WriterThatThrowsPoisonsForGood) {
  Store<int> store{5};
  EXPECT_THROW(store.update([](int& v) {
    v = 6;
    throw std::runtime_error("writer died");
  }),
               std::runtime_error);
  EXPECT_TRUE(store.is_poisoned());
  EXPECT_EQ(store.get(), std::nullopt);
  EXPECT_EQ(store.read([](int v) { return v; }), std::nullopt);
  EXPECT_FALSE(store.set(7));
  EXPECT_FALSE(store.update([](int& v) { v = 8; }));
  EXPECT_EQ(store.get(), std::nullopt);
}

TEST(Store, PoisonedCounterYieldsNothingAndStoresNothing) {
  Store<uint32_t> counter{9};
  try {
    counter.update([](uint32_t&) { throw 1; });
  } catch (int) {
  }
  EXPECT_EQ(get_counter(counter), std::nullopt);
  set_counter(counter, 10);
  EXPECT_EQ(get_counter(counter), std::nullopt);
}

TEST(Stores, CopiesDoNotFollowLaterWrites) {
  set_repo_changed({{"/a", true}});
  auto copy = get_repo_changed();
  set_repo_changed({{"/b", false}});
  EXPECT_EQ(copy, (std::unordered_map<std::string, bool>{{"/a", true}}));
  EXPECT_EQ(get_repo_changed(), (std::unordered_map<std::string, bool>{{"/b", false}}));

  auto first = std::make_shared<const CommitsAndRefs>();
  COMMITS_CACHE().update([&](CommitsCache& c) { c["/repo"] = first; });
  auto held = get_cached_commits("/repo");
  COMMITS_CACHE().update([&](CommitsCache& c) {
    c["/repo"] = std::make_shared<const CommitsAndRefs>(CommitsAndRefs{{Commit{}}, {}});
  });
  EXPECT_EQ(held, first);
  EXPECT_TRUE(held->commits.empty());
  EXPECT_EQ(get_cached_commits("/repo")->commits.size(), 1u);
}

}  // namespace
}  // namespace brackwen
