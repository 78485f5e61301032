#include "git/queries/relations.hpp"

#include <gtest/gtest.h>

#include "git/queries/git_stub.hpp"
#include "git/queries/refs/remote_repo.hpp"

namespace brackwen {
namespace {

using test::git;
using test::RemoteRepo;

using test::sorted;

// a <- b <- c on main, pushed up to b; d on origin/main only (fetched); m merges c and side s.
class Relations : public testing::Test {
 protected:
  void SetUp() override {
    a = r.commit("a", 1700000000);
    b = r.commit("b", 1700000100);
    git(r.repo.path, {"push", "-q", "origin", "main"});
    git(r.repo.path, {"checkout", "-q", "-b", "up"});
    d = r.commit("d", 1700000150);
    git(r.repo.path, {"push", "-q", "origin", "up:main"});
    git(r.repo.path, {"checkout", "-q", "main"});
    git(r.repo.path, {"branch", "-q", "-D", "up"});
    git(r.repo.path, {"fetch", "-q", "origin"});
    c = r.commit("c", 1700000200);
  }
  RemoteRepo r;
  std::string a, b, c, d;
};

TEST_F(Relations, AncestryFromTheCache) {
  EXPECT_FALSE(commit_is_ancestor(r.repo.str(), c, a));  // never loaded
  ASSERT_TRUE(r.load());
  EXPECT_TRUE(commit_is_ancestor(r.repo.str(), c, a));
  EXPECT_TRUE(commit_is_ancestor(r.repo.str(), c, b));
  EXPECT_FALSE(commit_is_ancestor(r.repo.str(), a, c));
  EXPECT_FALSE(commit_is_ancestor(r.repo.str(), c, c));
  EXPECT_FALSE(commit_is_ancestor(r.repo.str(), c, d));
  EXPECT_FALSE(commit_is_ancestor(r.repo.str(), "unknown", a));
  ASSERT_TRUE(r.load(1));  // only c: its parent counts although it is not cached
  EXPECT_TRUE(commit_is_ancestor(r.repo.str(), c, b));
  EXPECT_FALSE(commit_is_ancestor(r.repo.str(), c, a));
}

TEST_F(Relations, CurrentBranchIncludesTheUpstream) {
  EXPECT_EQ(commit_is_on_branch(r.repo.str(), c), std::nullopt);
  EXPECT_EQ(all_commits_on_current_branch(r.repo.str()), std::nullopt);
  ASSERT_TRUE(r.load());
  EXPECT_EQ(commit_is_on_branch(r.repo.str(), d), true);
  EXPECT_EQ(commit_is_on_branch(r.repo.str(), "unknown"), false);
  EXPECT_EQ(sorted(*all_commits_on_current_branch(r.repo.str())), sorted({a, b, c, d}));
}

TEST_F(Relations, BetweenFromTheCache) {
  ASSERT_TRUE(r.load());
  test::GitRecorder recorder;
  // In the cache's order; the shapes of ranges: CommitIdsBetween in graph_test.
  EXPECT_EQ(commit_ids_between_commits(r.repo.str(), a, c), (std::vector<std::string>{c, b}));
  EXPECT_EQ(recorder.calls(), std::vector<std::string>{});
}

TEST_F(Relations, BetweenFromGit) {
  test::GitRecorder recorder;
  EXPECT_EQ(commit_ids_between_commits(r.repo.str(), a, c), (std::vector<std::string>{c, b}));
  EXPECT_EQ(commit_ids_between_commits(r.repo.str(), c, a), std::nullopt);  // git prints nothing
  EXPECT_EQ(recorder.calls(),
            (std::vector<std::string>{"rev-list --end-of-options " + a + ".." + c,
                                      "rev-list --end-of-options " + c + ".." + a}));
  ASSERT_TRUE(r.load(1));  // a is not cached: git answers
  size_t before = recorder.calls().size();
  EXPECT_EQ(commit_ids_between_commits(r.repo.str(), a, c), (std::vector<std::string>{c, b}));
  EXPECT_EQ(recorder.calls().size(), before + 1);
}

TEST_F(Relations, IdsThatReadAsOptionsNeverReachGit) {
  test::GitRecorder recorder;
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"--all", c}, {"-n1", c}, {a, "--all"}, {"-", "-"}}) {
    EXPECT_EQ(commit_ids_between_commits(r.repo.str(), from, to), std::nullopt) << from << to;
  }
  EXPECT_EQ(recorder.calls(), std::vector<std::string>{});
}

}  // namespace
}  // namespace brackwen
