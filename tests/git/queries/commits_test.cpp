#include "git/queries/commits.hpp"

#include <gtest/gtest.h>

#include "git/queries/refs.hpp"
#include "git_stub.hpp"

namespace brackwen {
namespace {

using test::git;
using test::sh;
using test::TempRepo;

class CommitQueries : public testing::Test {
 protected:
  void SetUp() override { test::use_plain_git_config(); }
};

TEST_F(CommitQueries, HeadAndTopCommitWithFullRefs) {
  TempRepo repo;
  std::string first = repo.commit_file("a.txt", "1", "first", 1700000000);
  git(repo.path, {"tag", "v1"});
  git(repo.path, {"branch", "fix(x),y"});
  std::string second = repo.commit_file("a.txt", "2", "second\n\nbody", 1700000100);

  auto head = load_head_commit(repo.str());
  ASSERT_TRUE(head);
  EXPECT_EQ(head->id, second);
  EXPECT_EQ(head->parent_ids, std::vector<std::string>{first});
  EXPECT_EQ(head->message, "second\n\nbody\n");
  EXPECT_EQ(head->author, "Test User");
  EXPECT_EQ(head->email, "test@example.com");
  ASSERT_EQ(head->refs.size(), 1u);
  EXPECT_TRUE(head->refs[0].head);
  EXPECT_EQ(head->refs[0].commit_id, second);

  auto top = load_top_commit_for_branch(repo.str(), "fix(x),y");
  ASSERT_TRUE(top);
  EXPECT_EQ(top->id, first);
  std::vector<std::string> ids;
  for (const RefInfo& r : top->refs) ids.push_back(r.id);
  EXPECT_EQ(ids, (std::vector<std::string>{"refs/tags/v1", "refs/heads/fix(x),y"}));
  EXPECT_FALSE(load_top_commit_for_branch(repo.str(), "no-such-branch"));
}

TEST_F(CommitQueries, RevisionThatLooksLikeAnOptionIsRefused) {
  TempRepo repo;
  repo.commit_file("a.txt", "1", "first");
  test::TempDir out;
  auto target = out.path / "written";
  EXPECT_FALSE(load_top_commit_for_branch(repo.str(), "--output=" + target.string()));
  EXPECT_FALSE(load_top_commit_for_branch(repo.str(), "-n0"));
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(CommitQueries, DatesKeepTheFloatRoundingAndTheZoneSign) {
  TempRepo repo;
  sh(repo.path,
     "echo x > a && git add a && GIT_AUTHOR_DATE='1700000063 -0500' git commit -q -m a && "
     "echo y > a && git add a && GIT_AUTHOR_DATE='1700000065 +0130' git commit -q -m b");
  auto log = load_commits(repo.str(), 10);
  ASSERT_TRUE(log);
  const auto& commits = log->commits;
  ASSERT_EQ(commits.size(), 2u);
  EXPECT_EQ(commits[1].date.ms, 1700000000.0f * 1000.0f);
  EXPECT_EQ(commits[1].date.adjustment, -500);
  EXPECT_EQ(commits[0].date.ms, 1700000128.0f * 1000.0f);
  EXPECT_EQ(commits[0].date.adjustment, 130);
}

TEST_F(CommitQueries, LogOfAllRefsInGitsOrderWithACount) {
  TempRepo repo;
  std::string a = repo.commit_file("a.txt", "1", "a", 1600001000);
  std::string b = repo.commit_file("a.txt", "2", "b", 1600002000);
  git(repo.path, {"update-ref", "refs/remotes/origin/main", a});
  git(repo.path, {"checkout", "-q", "-b", "side", a});
  std::string c = repo.commit_file("c.txt", "3", "c", 1600003000);
  auto all = load_commits(repo.str(), 500);
  ASSERT_TRUE(all);
  std::vector<std::string> ids;
  for (const Commit& p : all->commits) ids.push_back(p.id);
  EXPECT_EQ(ids, (std::vector<std::string>{c, b, a}));
  // Decorations in full beside the list, in log order, with their commit and time.
  std::vector<std::string> refs;
  for (const RefInfo& r : all->refs) refs.push_back(r.id + "@" + r.commit_id.substr(0, 7));
  EXPECT_EQ(refs, (std::vector<std::string>{"refs/heads/side@" + c.substr(0, 7),
                                            "refs/heads/main@" + b.substr(0, 7),
                                            "refs/remotes/origin/main@" + a.substr(0, 7)}));
  EXPECT_EQ(all->commits[1].refs, std::vector<std::string>{"refs/heads/main"});
  EXPECT_EQ(load_commits(repo.str(), 2)->commits.size(), 2u);
  EXPECT_FALSE(load_commits(repo.str(), 0));
}

TEST_F(CommitQueries, StashRewriteOfMessages) {
  ParsedCommit entry;
  entry.message = "WIP on WIP-branch: 1234 WIP";
  entry.parent_ids = {"a", "b", "c"};
  entry.is_merge = true;
  entry.refs.push_back(RefInfo{});
  make_stash_entry(entry, 7);
  EXPECT_EQ(entry.message, "Stash on Stash-branch");
  EXPECT_EQ(entry.stash_id, "refs/stash@{7}");
  EXPECT_EQ(entry.parent_ids, std::vector<std::string>{"a"});
  EXPECT_FALSE(entry.is_merge);
  EXPECT_TRUE(entry.refs.empty());
  entry.message = "no colon WIP";
  make_stash_entry(entry, 0);
  EXPECT_EQ(entry.message, "no colon Stash");
}

}  // namespace
}  // namespace brackwen
