#include "git/queries/refs/ancestry_counts.hpp"

#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "stores/stores.hpp"

namespace brackwen {
namespace {

Commit commit(std::string id, std::vector<std::string> parents) {
  Commit c;
  c.id = std::move(id);
  c.parent_ids = std::move(parents);
  return c;
}

TEST(AncestryCounter, ConcurrentCountsAgreeWithOneByOne) {
  // A ladder of 300 commits with a merge every tenth step, counted from every rung against
  // the pinned tip by eight threads sharing one counter.
  std::vector<Commit> commits;
  for (int i = 0; i < 300; ++i) {
    std::vector<std::string> parents;
    if (i + 1 < 300) parents.push_back("ac-" + std::to_string(i + 1));
    if (i % 10 == 0 && i + 7 < 300) parents.push_back("ac-" + std::to_string(i + 7));
    commits.push_back(commit("ac-" + std::to_string(i), parents));
  }
  CommitsById by_id = commits_by_id(commits);
  AncestryCounter shared(by_id, "ac-0");
  std::vector<AheadBehind> together(300);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = t; i < 300; i += 8)
        together[i] = shared.counts("ac-" + std::to_string(i), "ac-0");
    });
  }
  for (auto& th : threads) th.join();
  for (int i = 0; i < 300; ++i) {
    EXPECT_EQ(together[i], (AheadBehind{0, static_cast<uint32_t>(i)})) << i;
  }
}

// The flat-array walk must count what the set difference of two reachable_commit_ids walks
// gives, parents outside the cache included.
TEST(AncestryCounter, AgreesWithReachableCommitIds) {
  std::mt19937 random(11);
  for (int round = 0; round < 20; ++round) {
    const int n = 80;
    auto id = [&](int i) { return "par-" + std::to_string(round) + "-" + std::to_string(i); };
    std::vector<Commit> commits;
    for (int i = 0; i < n; ++i) {
      std::vector<std::string> parents;
      int count = i == n - 1 ? 0 : 1 + random() % 3;
      for (int p = 0; p < count; ++p) {
        int older = i + 1 + random() % std::min(8, n - 1 - i);
        parents.push_back(random() % 20 == 0 ? id(1000 + older) : id(older));
      }
      commits.push_back(commit(id(i), parents));
    }
    CommitsById by_id = commits_by_id(commits);
    auto with_self = [&](int i) {
      CommitIdSet ids = reachable_commit_ids(commits[i], by_id);
      ids.insert(commits[i].id);
      return ids;
    };
    auto count = [&](int a, int b) {
      CommitIdSet from_b = with_self(b);
      uint32_t n = 0;
      for (std::string_view x : with_self(a)) n += from_b.contains(x) ? 0 : 1;
      return n;
    };
    std::string pinned = id(0);
    AncestryCounter counter(by_id, pinned);
    for (int k = 0; k < 30; ++k) {
      int a = random() % n, b = k % 3 == 0 ? 0 : random() % n;
      AheadBehind expected = a == b ? AheadBehind{} : AheadBehind{count(a, b), count(b, a)};
      ASSERT_EQ(counter.counts(id(a), id(b)), expected) << id(a) << " " << id(b);
    }
  }
}

}  // namespace
}  // namespace brackwen
