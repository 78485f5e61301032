#include "git/queries/refs/ancestry_counts.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace brackwen
