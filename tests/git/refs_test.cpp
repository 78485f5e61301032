// A branch against its remote counterpart, and ancestry, from the cached history or from git.
#include <gtest/gtest.h>

#include "git/queries/graph.hpp"
#include "git/queries/load_commits.hpp"
#include "git/queries/refs/head_info.hpp"
#include "git/queries/refs/unpushed_commits.hpp"
#include "git/queries/relations.hpp"
#include "server/history.hpp"
#include "stores/stores.hpp"
#include "support/git_recorder.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::git;

// main is two commits ahead of origin/main, which has one commit main lacks; the remote's
// "feature" holds the first of main's two. With the whole history cached the counterpart is
// found there; with only main's two commits cached git is asked. Contents carry the
// repository's path, so no two runs share commit ids (counts are cached by commit id).
TEST(HeadInfo, CountsAgainstTheRemoteCounterpart) {
  test::use_plain_git_config();
  test::TempDir remotes;
  test::TempRepo repo;
  auto commit = [&](const std::string& message, long seconds) {
    return repo.commit_file("f.txt", repo.str() + " " + message, message, seconds);
  };
  auto load = [&](uint32_t count) {
    return load_commits_and_refs(HistoryQuery{repo.str(), count, {}, false, false}).has_value();
  };
  git(remotes.path, {"init", "-q", "--bare", "-b", "main", "origin.git"});
  git(repo.path, {"remote", "add", "origin", (remotes.path / "origin.git").string()});
  std::string base = commit("base", 1700000000);
  test::sh(repo.path, "git push -q origin main && git checkout -q -b side");
  std::string remote_only = commit("remote only", 1700000100);
  test::sh(repo.path,
           "git push -q origin side:main && git checkout -q main && git branch -qD side");
  std::string l1 = commit("local 1", 1700000200), l2 = commit("local 2", 1700000300);
  test::sh(repo.path, "git push -q origin " + l1 + ":refs/heads/feature && git fetch -q origin");
  for (uint32_t cached : {500u, 2u}) {
    ASSERT_TRUE(load(cached));
    auto info = calc_head_info(repo.str());
    ASSERT_TRUE(info && info->remote_ref && info->remote_commit) << cached;
    EXPECT_EQ(info->remote_ref->id, "refs/remotes/origin/main");
    EXPECT_EQ(info->remote_commit->id, remote_only);
    EXPECT_EQ(info->remote_ahead, 1u);
    EXPECT_EQ(info->remote_behind, 2u);
  }
  ASSERT_TRUE(load(500));
  EXPECT_EQ(get_commits_on_current_branch(repo.str()),
            (std::unordered_set<std::string>{base, remote_only, l1, l2}));
  UnpushedCommits unpushed = get_un_pushed_commits(repo.str());
  EXPECT_EQ(test::sorted(unpushed.this_branch), test::sorted({l1, l2}));
  EXPECT_EQ(unpushed.all_branches, std::vector<std::string>{l2});
  EXPECT_TRUE(commit_is_ancestor(repo.str(), l2, base));
  EXPECT_FALSE(commit_is_ancestor(repo.str(), base, l2));
  EXPECT_FALSE(commit_is_ancestor(repo.str(), l2, l2));
}

TEST(PushRemote, FirstKeyPresentInOrder) {
  std::pair<TextMap, std::string> cases[] = {
      {{{"branch.main.pushremote", "mine"}, {"remote.pushdefault", "fork"}}, "mine"},
      {{{"branch.main.remote", "upstream"}}, "upstream"},
      {{{"branch.main.pushRemote", "camel"}}, "origin"},
  };
  for (const auto& [entries, remote] : cases) EXPECT_EQ(get_push_remote(entries, "main"), remote);
}

}  // namespace
}  // namespace brackwen
