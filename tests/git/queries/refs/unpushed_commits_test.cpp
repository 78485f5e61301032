#include "git/queries/refs/unpushed_commits.hpp"

#include <gtest/gtest.h>

#include "remote_repo.hpp"

namespace brackwen {
namespace {

using test::git;
using test::RemoteRepo;

using test::sorted;

// main is two commits ahead of origin/main.
class Unpushed : public testing::Test {
 protected:
  void SetUp() override {
    r.commit("pushed", 1700000000);
    git(r.repo.path, {"push", "-q", "-u", "origin", "main"});
    c2 = r.commit("two", 1700000100);
    c3 = r.commit("three", 1700000200);
  }
  RemoteRepo r;
  std::string c2, c3;
};

TEST_F(Unpushed, FromTheCache) {
  ASSERT_TRUE(r.load());
  UnpushedCommits unpushed = get_un_pushed_commits(r.repo.str());
  EXPECT_EQ(sorted(unpushed.this_branch), sorted({c2, c3}));
  EXPECT_EQ(unpushed.all_branches, (std::vector<std::string>{c3, c2}));
}

TEST_F(Unpushed, ACommitAnotherRemoteBranchHasStopsTheWalk) {
  git(r.repo.path, {"push", "-q", "origin", c2 + ":refs/heads/feature"});
  git(r.repo.path, {"fetch", "-q", "origin"});
  ASSERT_TRUE(r.load());
  UnpushedCommits unpushed = get_un_pushed_commits(r.repo.str());
  EXPECT_EQ(sorted(unpushed.this_branch), sorted({c2, c3}));
  EXPECT_EQ(unpushed.all_branches, std::vector<std::string>{c3});
}

TEST_F(Unpushed, AtTheSiblingNothingIsUnpushed) {
  git(r.repo.path, {"push", "-q", "origin", "main"});
  ASSERT_TRUE(r.load());
  EXPECT_EQ(get_un_pushed_commits(r.repo.str()), UnpushedCommits{});
}

TEST_F(Unpushed, WithoutCacheGitAnswersInItsOrder) {
  UnpushedCommits unpushed = get_un_pushed_commits(r.repo.str());
  EXPECT_EQ(unpushed.this_branch, std::vector<std::string>{});
  EXPECT_EQ(unpushed.all_branches, (std::vector<std::string>{c3, c2}));
}

TEST_F(Unpushed, ABranchWithoutSiblingAsksGit) {
  git(r.repo.path, {"checkout", "-q", "-b", "solo"});
  ASSERT_TRUE(r.load());
  UnpushedCommits unpushed = get_un_pushed_commits(r.repo.str());
  EXPECT_EQ(unpushed.this_branch, std::vector<std::string>{});
  EXPECT_EQ(unpushed.all_branches, (std::vector<std::string>{c3, c2}));
}

TEST(UnpushedFailure, NotARepositoryGivesTwoEmptyLists) {
  test::TempDir dir;
  EXPECT_EQ(get_un_pushed_commits(dir.str()), UnpushedCommits{});
}

}  // namespace
}  // namespace brackwen
