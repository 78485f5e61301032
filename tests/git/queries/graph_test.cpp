#include "git/queries/graph.hpp"

#include <gtest/gtest.h>

#include "git_stub.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

Commit node(std::string id, std::vector<std::string> parents) {
  Commit c;
  c.id = std::move(id);
  c.parent_ids = std::move(parents);
  c.is_merge = c.parent_ids.size() > 1;
  return c;
}

std::vector<std::string> sorted(const CommitIdSet& ids) {
  return test::sorted(std::vector<std::string>(ids.begin(), ids.end()));
}

using test::sorted;

// m merges b into a; "gone" lies outside the loaded window.
const std::vector<Commit> GRAPH = {node("m", {"a2", "b"}), node("a2", {"a1"}),
                                   node("b", {"a1", "gone"}), node("a1", {"root"}),
                                   node("root", {})};

TEST(Reachable, WalksBothParentsOnceAndKeepsUnloadedParents) {
  auto map = commits_by_id(GRAPH);
  EXPECT_EQ(sorted(reachable_commit_ids(*map.at("m"), map)),
            (std::vector<std::string>{"a1", "a2", "b", "gone", "root"}));
  EXPECT_TRUE(reachable_commit_ids(*map.at("root"), map).empty());
  EXPECT_EQ(sorted(reachable_commit_ids(*map.at("b"), map)),
            (std::vector<std::string>{"a1", "gone", "root"}));
}

TEST(Reachable, LongLinearHistoryNeedsNoRecursion) {
  std::vector<Commit> line;
  for (int i = 200000; i > 0; --i) line.push_back(node(std::to_string(i), {std::to_string(i - 1)}));
  auto map = commits_by_id(line);
  EXPECT_EQ(reachable_commit_ids(line.front(), map).size(), 200000u);
}

TEST(CommitsById, LaterDuplicateWins) {
  std::vector<Commit> list = {node("x", {"p1"}), node("x", {"p2"})};
  auto map = commits_by_id(list);
  ASSERT_EQ(map.size(), 1u);
  EXPECT_EQ(map.at("x")->parent_ids, std::vector<std::string>{"p2"});
}

// Every pair gives the whole map's set, in list order. The lists put a parent before its child
// (clock skew) and hold a stash entry that shares a log commit's id with fewer parents.
TEST(CommitIdsBetween, TheListedWalkGivesTheWholeMapsSetInListOrder) {
  Commit stash = node("b", {"a1"});
  stash.stash_id = "stash@{0}";
  std::vector<Commit> skewed = {GRAPH[0], GRAPH[3], GRAPH[1], GRAPH[2], GRAPH[4]};
  std::vector<Commit> stashed = {GRAPH[0], GRAPH[1], GRAPH[2], stash, GRAPH[3], GRAPH[4]};
  for (const std::vector<Commit>& list : {GRAPH, skewed, stashed}) {
    auto map = commits_by_id(list);
    auto position = [&](const std::string& id) {
      auto at = std::find_if(list.begin(), list.end(), [&](const Commit& c) { return c.id == id; });
      return at - list.begin();
    };
    for (const Commit& a : list) {
      for (const Commit& b : list) {
        auto walked = listed_commit_ids_between(a.id, b.id, list);
        ASSERT_TRUE(walked);
        EXPECT_EQ(sorted(*walked), sorted(*commit_ids_between(a.id, b.id, map))) << a.id << b.id;
        EXPECT_TRUE(std::is_sorted(walked->begin(), walked->end(),
                                   [&](auto& x, auto& y) { return position(x) < position(y); }));
      }
    }
    EXPECT_FALSE(listed_commit_ids_between("m", "unknown", list));
    EXPECT_FALSE(listed_commit_ids_between("unknown", "m", list));
  }
  EXPECT_EQ(listed_commit_ids_between("m", "a1", GRAPH),
            (std::vector<std::string>{"m", "a2", "b", "gone"}));
  EXPECT_FALSE(commit_ids_between("m", "b", CommitsById{}));
  EXPECT_FALSE(commit_ids_between("m", "unknown", commits_by_id(GRAPH)));
}

TEST(PushRemote, FirstKeyPresentInOrder) {
  using Entries = std::unordered_map<std::string, std::string>;
  struct Case {
    Entries entries;
    std::string expected;
  };
  for (const Case& c : std::vector<Case>{
           {{{"remote.pushdefault", "fork"}, {"branch.main.remote", "upstream"}}, "fork"},
           {{{"branch.main.pushremote", "mine"}, {"remote.pushdefault", "fork"}}, "mine"},
           {{{"branch.main.remote", "upstream"}}, "upstream"},
           {{{"branch.main.pushRemote", "camel"}}, "origin"},
           {{}, "origin"}}) {
    EXPECT_EQ(get_push_remote(c.entries, "main"), c.expected);
  }
}

TEST(CountCommitsInRange, ReadsGitsNumber) {
  test::TempRepo repo;
  repo.commit_file("a", "1", "one");
  repo.commit_file("a", "2", "two");
  repo.commit_file("a", "3", "three");
  test::use_plain_git_config();
  EXPECT_EQ(count_commits_in_range(repo.str(), "HEAD~2", "HEAD"), 2u);
  EXPECT_EQ(count_commits_in_range(repo.str(), "HEAD", "HEAD~2"), 0u);
  EXPECT_EQ(count_commits_in_range(repo.str(), "nothing", "HEAD"), 0u);
  EXPECT_EQ(count_commits_in_range(repo.str(), "--output=x", "HEAD"), 0u);
  EXPECT_FALSE(std::filesystem::exists(repo.path / "x"));
}

TEST(CountCommitsInRange, OnlyAnUnsignedDecimalCounts) {
  for (auto [reply, expected] :
       std::vector<std::pair<std::string, uint32_t>>{{"12\n", 12},
                                                     {"+5", 5},
                                                     {"-1\n", 0},
                                                     {"4294967295", 4294967295u},
                                                     {"4294967296", 0},
                                                     {"\u00a07\u2003\n", 7},
                                                     {"1 2", 0},
                                                     {"+", 0},
                                                     {"0x10", 0}}) {
    test::GitRecorder stub(reply);
    EXPECT_EQ(count_commits_in_range(stub.files.str(), "a", "b"), expected) << reply;
    EXPECT_EQ(stub.calls(), std::vector<std::string>{"rev-list --count --end-of-options a..b"});
  }
}

}  // namespace
}  // namespace brackwen
