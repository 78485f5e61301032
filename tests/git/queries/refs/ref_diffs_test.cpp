#include "git/queries/refs/ref_diffs.hpp"

#include <gtest/gtest.h>

#include "git/queries/config.hpp"
#include "remote_repo.hpp"

namespace brackwen {
namespace {

using test::git;
using test::RemoteRepo;

// main is two ahead of origin/main and one ahead of fork/main; "topic" is one behind main.
class RefDiffsRepo : public testing::Test {
 protected:
  void SetUp() override {
    r.add_remote("fork");
    c1 = r.commit("one", 1700000000);
    git(r.repo.path, {"push", "-q", "origin", "main"});
    c2 = r.commit("two", 1700000100);
    git(r.repo.path, {"branch", "topic"});
    git(r.repo.path, {"push", "-q", "fork", "main"});
    git(r.repo.path, {"tag", "v2"});
    c3 = r.commit("three", 1700000200);
    git(r.repo.path, {"fetch", "-q", "--all"});
  }
  RefDiffs first_map(const std::string& head) {
    auto diffs = calc_ref_diffs(r.repo.str(), head);
    return diffs ? diffs->first : RefDiffs{};
  }
  RemoteRepo r;
  std::string c1, c2, c3;
};

TEST_F(RefDiffsRepo, NeverLoadedIsAbsent) {
  EXPECT_FALSE(calc_ref_diffs(r.repo.str(), c3));
}

TEST_F(RefDiffsRepo, WithoutConfigurationBranchesPushToOrigin) {
  ASSERT_TRUE(r.load());
  auto diffs = calc_ref_diffs(r.repo.str(), c3);
  ASSERT_TRUE(diffs);
  // Tags read as remote refs, so only local branches are paired.
  EXPECT_EQ(diffs->first,
            (RefDiffs{{"refs/heads/main", {2, 0, 0, 0}}, {"refs/heads/topic", {0, 0, 0, 1}}}));
  EXPECT_EQ(diffs->second, (HeadDiffs{{"refs/heads/main", {0, 0}},
                                      {"refs/heads/topic", {0, 1}},
                                      {"refs/tags/v2", {0, 1}},
                                      {"refs/remotes/origin/main", {0, 2}},
                                      {"refs/remotes/fork/main", {0, 1}}}));
}

TEST_F(RefDiffsRepo, ASiblingOnAnotherRemoteThanThePushRemoteIsNotCounted) {
  ASSERT_TRUE(r.load());  // siblings linked while no configuration was cached: origin/main
  git(r.repo.path, {"config", "remote.pushdefault", "fork"});
  ASSERT_TRUE(load_full_config(r.repo.str()));
  EXPECT_EQ(first_map(c3).at("refs/heads/main"), (RefDiff{0, 0, 0, 0}));

  ASSERT_TRUE(r.load());  // now linked to fork/main, the push remote
  EXPECT_EQ(first_map(c3).at("refs/heads/main"), (RefDiff{1, 0, 0, 0}));
  EXPECT_EQ(first_map(c1).at("refs/heads/main"), (RefDiff{1, 0, 2, 0}));
}

TEST_F(RefDiffsRepo, ABranchPushRemoteOverridesTheDefault) {
  git(r.repo.path, {"config", "remote.pushdefault", "fork"});
  git(r.repo.path, {"config", "branch.main.pushremote", "origin"});
  ASSERT_TRUE(load_full_config(r.repo.str()));
  ASSERT_TRUE(r.load());
  EXPECT_EQ(first_map(c3).at("refs/heads/main"), (RefDiff{2, 0, 0, 0}));
}

TEST_F(RefDiffsRepo, AnUnknownHeadGivesZeros) {
  ASSERT_TRUE(r.load());
  auto diffs = calc_ref_diffs(r.repo.str(), "0123456789012345678901234567890123456789");
  ASSERT_TRUE(diffs);
  EXPECT_EQ(diffs->first.at("refs/heads/main"), (RefDiff{2, 0, 0, 0}));
  for (const auto& [id, diff] : diffs->second) EXPECT_EQ(diff, (AheadBehind{0, 0})) << id;
}

}  // namespace
}  // namespace brackwen
