#include "git/queries/refs/head_info.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "git/queries/config.hpp"
#include "remote_repo.hpp"

namespace brackwen {
namespace {

using test::git;
using test::RemoteRepo;

Commit commit(std::string id, std::vector<std::string> parents,
              std::vector<std::string> refs = {}) {
  Commit c;
  c.id = std::move(id);
  c.parent_ids = std::move(parents);
  c.is_merge = c.parent_ids.size() > 1;
  c.refs = std::move(refs);
  return c;
}

RefInfo ref(std::string id, RefLocation location, RefType type, std::string commit_id) {
  RefInfo r;
  r.id = r.full_name = std::move(id);
  r.location = location;
  r.ref_type = type;
  r.commit_id = std::move(commit_id);
  return r;
}

TEST(CalcRefDiffCount, CountsOverTheCachedGraph) {
  // r1 <- p <- c on one line; b1 <- b2 on a side; m merges c and b2; x's parent is not cached.
  std::vector<Commit> commits{
      commit("hi-m", {"hi-c", "hi-b2"}), commit("hi-c", {"hi-p"}),   commit("hi-p", {"hi-r1"}),
      commit("hi-b2", {"hi-b1"}),        commit("hi-b1", {"hi-r1"}), commit("hi-r1", {}),
      commit("hi-x", {"hi-outside"}),
  };
  CommitsById map = commits_by_id(commits);
  const struct {
    std::string a, b;
    uint32_t count;
  } cases[] = {
      {"hi-c", "hi-p", 1},
      {"hi-p", "hi-c", 0},
      {"hi-c", "hi-c", 0},
      {"hi-m", "hi-c", 3},
      {"hi-m", "hi-b2", 3},
      {"hi-b2", "hi-c", 2},
      {"hi-x", "hi-r1", 2},  // the parent outside
                             // the cache counts,
                             // unwalked
      {"hi-c", "hi-none", 0},
      {"hi-none", "hi-c", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(calc_ref_diff_count(c.a, c.b, map), c.count) << c.a << " " << c.b;
  }
  EXPECT_EQ(calc_ref_diff_counts("hi-m", "hi-b2", map), (AheadBehind{3, 0}));
  EXPECT_EQ(calc_ref_diff_count("hi-c", "hi-p", {}), 1u);  // kept from the first count

  auto cache = REACHABLE_IDS_CACHE().get();
  EXPECT_EQ(cache->at("hi-chi-p"), 1u);
  EXPECT_EQ(cache->at("hi-phi-c"), 0u);
  EXPECT_FALSE(cache->contains("hi-chi-c"));  // zeros of equal or unknown ids are not kept
  EXPECT_FALSE(cache->contains("hi-chi-none"));
}

TEST(CalcRefDiffs, EveryRefGetsItsHeadCounts) {
  std::vector<Commit> commits{commit("rd-3", {"rd-2"}), commit("rd-2", {"rd-1"}),
                              commit("rd-1", {})};
  std::vector<RefInfo> refs{
      ref("refs/heads/main", RefLocation::Local, RefType::Branch, "rd-3"),
      ref("refs/remotes/origin/main", RefLocation::Remote, RefType::Branch, "rd-1"),
      ref("refs/tags/v1", RefLocation::Local, RefType::Tag, "rd-2"),
      ref("refs/heads/gone", RefLocation::Local, RefType::Branch, "rd-unknown"),
  };
  HeadDiffs diffs = head_diffs("rd-2", refs_by_id(refs), commits_by_id(commits));
  EXPECT_EQ(diffs, (HeadDiffs{{"refs/heads/main", {1, 0}},
                              {"refs/remotes/origin/main", {0, 1}},
                              {"refs/tags/v1", {0, 0}},
                              {"refs/heads/gone", {0, 0}}}));
}

// The walk as the recursion it replaces, to compare orders with.
void recursive_walk(const Commit& c, std::string_view stop, const CommitsById& commits,
                    const RefsById& refs, const CommitIdSet& wanted, CommitIdSet& visited,
                    std::vector<std::string>& out) {
  if (!visited.insert(c.id).second || c.id == stop) return;
  for (const std::string& r : c.refs) {
    auto found = refs.find(r);
    if (found != refs.end() && found->second->ref_type == RefType::Branch &&
        found->second->location == RefLocation::Remote)
      return;
  }
  if (wanted.contains(c.id)) out.push_back(c.id);
  for (const std::string& p : c.parent_ids) {
    auto found = commits.find(p);
    if (found != commits.end())
      recursive_walk(*found->second, stop, commits, refs, wanted, visited, out);
  }
}

TEST(WalkCommitGraph, SamePreOrderAsTheRecursionOnRandomGraphs) {
  std::mt19937 random(7);
  for (int round = 0; round < 50; ++round) {
    const int n = 120;
    std::vector<Commit> commits;
    std::vector<RefInfo> refs{ref("refs/remotes/o/x", RefLocation::Remote, RefType::Branch, ""),
                              ref("refs/tags/t", RefLocation::Local, RefType::Tag, ""),
                              ref("refs/heads/l", RefLocation::Local, RefType::Branch, "")};
    // Newest first; parents are older commits, up to three of them, some outside the cache.
    for (int i = 0; i < n; ++i) {
      std::vector<std::string> parents;
      int count = i == n - 1 ? 0 : 1 + random() % 3;
      for (int p = 0; p < count; ++p) {
        int older = i + 1 + random() % std::min(6, n - 1 - i);
        parents.push_back(random() % 25 == 0 ? "gone" : "w" + std::to_string(older));
      }
      std::vector<std::string> decorations;
      if (random() % 15 == 0) decorations.push_back(refs[random() % 3].id);
      commits.push_back(commit("w" + std::to_string(i), parents, decorations));
    }
    CommitsById by_id = commits_by_id(commits);
    RefsById refs_map = refs_by_id(refs);
    CommitIdSet wanted;
    for (const Commit& c : commits) {
      if (random() % 3 != 0) wanted.insert(c.id);
    }
    std::string stop = "w" + std::to_string(random() % n);
    CommitIdSet visited, expected_visited;
    std::vector<std::string> out, expected;
    walk_commit_graph(commits[0], stop, by_id, refs_map, wanted, visited, out);
    recursive_walk(commits[0], stop, by_id, refs_map, wanted, expected_visited, expected);
    ASSERT_EQ(out, expected) << "round " << round;
    ASSERT_EQ(visited, expected_visited) << "round " << round;
  }
}

TEST(WalkCommitGraph, StopsAtTheStopIdAndAtRemoteBranchesButNotAtTags) {
  std::vector<Commit> commits{commit("s4", {"s3"}), commit("s3", {"s2"}, {"refs/tags/v"}),
                              commit("s2", {"s1"}, {"refs/remotes/o/f"}), commit("s1", {})};
  std::vector<RefInfo> refs{ref("refs/tags/v", RefLocation::Local, RefType::Tag, "s3"),
                            ref("refs/remotes/o/f", RefLocation::Remote, RefType::Branch, "s2")};
  CommitsById by_id = commits_by_id(commits);
  RefsById refs_map = refs_by_id(refs);
  CommitIdSet wanted{"s4", "s3", "s2", "s1"};
  auto walk = [&](std::string_view stop) {
    CommitIdSet visited;
    std::vector<std::string> out;
    walk_commit_graph(commits[0], stop, by_id, refs_map, wanted, visited, out);
    return out;
  };
  EXPECT_EQ(walk("s4"), std::vector<std::string>{});
  EXPECT_EQ(walk("s3"), std::vector<std::string>{"s4"});
  EXPECT_EQ(walk(""), (std::vector<std::string>{"s4", "s3"}));
}

TEST(WalkCommitGraph, ALongLinearHistoryNeedsNoDeepStack) {
  constexpr int n = 200000;
  std::vector<Commit> commits;
  commits.reserve(n);
  for (int i = 0; i < n; ++i) {
    commits.push_back(commit("lin" + std::to_string(i),
                             i + 1 < n ? std::vector<std::string>{"lin" + std::to_string(i + 1)}
                                       : std::vector<std::string>{}));
  }
  CommitsById by_id = commits_by_id(commits);
  CommitIdSet wanted;
  for (const Commit& c : commits) wanted.insert(c.id);
  CommitIdSet visited;
  std::vector<std::string> out;
  walk_commit_graph(commits[0], "", by_id, {}, wanted, visited, out);
  ASSERT_EQ(out.size(), size_t{n});
  EXPECT_EQ(out.front(), "lin0");
  EXPECT_EQ(out.back(), "lin199999");
  EXPECT_EQ(calc_ref_diff_count("lin0", "lin199999", by_id), uint32_t{n - 1});
}

RefInfo cached_main(const std::string& repo_path) {
  for (const RefInfo& r : get_cached_commits(repo_path)->refs) {
    if (r.id == "refs/heads/main") return r;
  }
  ADD_FAILURE() << "main is not cached";
  return {};
}

// Real repositories: main is two commits ahead of origin/main, which has one commit main lacks.
class HeadInfoRepo : public testing::Test {
 protected:
  void SetUp() override {
    base = r.commit("base", 1700000000);
    git(r.repo.path, {"push", "-q", "origin", "main"});
    git(r.repo.path, {"checkout", "-q", "-b", "side"});
    remote_only = r.commit("remote only", 1700000100);
    git(r.repo.path, {"push", "-q", "origin", "side:main"});
    git(r.repo.path, {"fetch", "-q", "origin"});
    git(r.repo.path, {"checkout", "-q", "main"});
    git(r.repo.path, {"branch", "-q", "-D", "side"});
    local1 = r.commit("local 1", 1700000200);
    local2 = r.commit("local 2", 1700000300);
  }
  RemoteRepo r;
  std::string base, remote_only, local1, local2;
};

TEST_F(HeadInfoRepo, WithACachedSiblingCountsFromTheCache) {
  ASSERT_TRUE(r.load());
  std::optional<HeadInfo> info = calc_head_info(r.repo.str());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->ref.id, "refs/heads/main");
  EXPECT_EQ(info->commit.id, local2);
  ASSERT_TRUE(info->remote_ref);
  EXPECT_EQ(info->remote_ref->id, "refs/remotes/origin/main");
  ASSERT_TRUE(info->remote_commit);
  EXPECT_EQ(info->remote_commit->id, remote_only);
  EXPECT_EQ(info->remote_ahead, 1u);
  EXPECT_EQ(info->remote_behind, 2u);

  auto on_branch = get_commits_on_current_branch(r.repo.str());
  EXPECT_EQ(on_branch, (std::unordered_set<std::string>{base, remote_only, local1, local2}));
}

TEST_F(HeadInfoRepo, WithoutACachedSiblingAsksGit) {
  ASSERT_TRUE(r.load(2));  // origin/main's commit is older than the two loaded
  ASSERT_FALSE(cached_main(r.repo.str()).sibling_id);
  std::optional<HeadInfo> info = calc_head_info(r.repo.str());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->ref.sibling_id, "refs/remotes/origin/main");
  ASSERT_TRUE(info->remote_ref);
  EXPECT_EQ(info->remote_ref->sibling_id, "refs/heads/main");
  ASSERT_TRUE(info->remote_commit);
  EXPECT_EQ(info->remote_commit->id, remote_only);
  EXPECT_EQ(info->remote_ahead, 1u);
  EXPECT_EQ(info->remote_behind, 2u);
  EXPECT_FALSE(cached_main(r.repo.str()).sibling_id);  // the cache is not changed
}

TEST_F(HeadInfoRepo, ABranchWithoutCounterpart) {
  git(r.repo.path, {"checkout", "-q", "-b", "solo"});
  ASSERT_TRUE(r.load());
  std::optional<HeadInfo> info = calc_head_info(r.repo.str());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->ref.id, "refs/heads/solo");
  EXPECT_FALSE(info->remote_ref);
  EXPECT_FALSE(info->remote_commit);
  EXPECT_EQ(info->remote_ahead, 0u);
  EXPECT_EQ(info->remote_behind, 0u);
}

TEST_F(HeadInfoRepo, NoHeadInfoWhenNeverLoadedOrDetached) {
  EXPECT_FALSE(calc_head_info(r.repo.str()));
  EXPECT_FALSE(get_commits_on_current_branch(r.repo.str()));
  git(r.repo.path, {"checkout", "-q", "--detach", "HEAD"});
  ASSERT_TRUE(r.load());
  EXPECT_FALSE(calc_head_info(r.repo.str()));
}

}  // namespace
}  // namespace brackwen
