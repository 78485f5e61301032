#include "git/queries/load_commits.hpp"

#include <gtest/gtest.h>

#include "git_stub.hpp"
#include "server/history.hpp"
#include "stores/stores.hpp"

namespace brackwen {
namespace {

using test::git;
using test::sh;
using test::TempRepo;

constexpr long T = 1600000000;

std::string trimmed(std::string s) {
  while (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

std::string dated(long seconds) {
  std::string date = "'" + std::to_string(seconds) + " +0000'";
  return "GIT_AUTHOR_DATE=" + date + " GIT_COMMITTER_DATE=" + date + " ";
}

std::string commit_as(TempRepo& repo, const std::string& author, const std::string& file,
                      long seconds) {
  repo.write(file, author + std::to_string(seconds));
  return trimmed(sh(repo.path, "git add -- '" + file + "' && GIT_AUTHOR_NAME='" + author + "' " +
                                   dated(seconds) + "git commit -q -m '" + author + " " + file +
                                   "' && git rev-parse HEAD"));
}

std::string stash_at(TempRepo& repo, long seconds, const std::string& message) {
  repo.write("a.txt", "stash " + std::to_string(seconds));
  return trimmed(sh(repo.path, dated(seconds) + "git stash push -q" +
                                   (message.empty() ? "" : " -m '" + message + "'") +
                                   " && git rev-parse refs/stash"));
}

std::vector<std::string> ids_of(const std::vector<Commit>& commits) {
  std::vector<std::string> ids;
  for (const Commit& c : commits) ids.push_back(c.id);
  return ids;
}

CommitFilter filter(CommitFilter::Kind kind, std::string text) {
  CommitFilter f;
  f.kind = kind;
  f.id = f.email = "ignored";
  f.short_name = f.author = f.commit_id = f.file_name = std::move(text);
  return f;
}
CommitFilter branch_filter(std::string name) {
  return filter(CommitFilter::Kind::Branch, name);
}
CommitFilter user_filter(std::string name) {
  return filter(CommitFilter::Kind::User, name);
}
CommitFilter commit_filter(std::string id) {
  return filter(CommitFilter::Kind::Commit, id);
}
CommitFilter file_filter(std::string name) {
  return filter(CommitFilter::Kind::File, name);
}

class LoadCommits : public testing::Test {
 protected:
  void SetUp() override {
    test::use_plain_git_config();
    old_cache_home = get_environment("XDG_CACHE_HOME").value_or("");
    set_environment("XDG_CACHE_HOME", caches.str());
  }
  void TearDown() override { set_environment("XDG_CACHE_HOME", old_cache_home); }

  HistoryQuery request(std::vector<CommitFilter> filters = {}, bool fast = false) {
    return HistoryQuery{repo.str(), 500, std::move(filters), fast, false};
  }

  test::TempDir caches;
  std::string old_cache_home;
  TempRepo repo;
};

TEST_F(LoadCommits, EmptyRepositoryIsAbsentAndLeavesTheFlag) {
  set_repo_changed({{repo.str(), true}});
  EXPECT_FALSE(load_commits_and_refs(request()));
  EXPECT_FALSE(get_cached_commits(repo.str()));
  EXPECT_TRUE(get_repo_changed()->at(repo.str()));
}

TEST_F(LoadCommits, UnreadableLogIsAbsentAndCachesNothing) {
  set_repo_changed({{repo.str(), true}});
  test::GitRecorder garbage("not; a log\n");
  EXPECT_FALSE(load_commits_and_refs(request()));
  EXPECT_FALSE(get_cached_commits(repo.str()));
  EXPECT_TRUE(get_repo_changed()->at(repo.str()));
}

TEST_F(LoadCommits, StashesAreMergedByTimeAndTheListIsNumberedAndCached) {
  std::string c1 = commit_as(repo, "Ann", "a.txt", T + 1000);
  std::string c2 = commit_as(repo, "Ann", "a.txt", T + 3000);
  std::string c3 = commit_as(repo, "Ann", "a.txt", T + 5000);
  std::string s_a = stash_at(repo, T + 2000, "alpha");
  std::string s_b = stash_at(repo, T + 5000, "");  // as old as c3: stays after it
  std::string s_c = stash_at(repo, T + 6000, "gamma: text");
  set_repo_changed({{repo.str(), true}});

  auto loaded = load_commits_and_refs(request());
  ASSERT_TRUE(loaded);
  const auto& commits = loaded->commits();
  EXPECT_EQ(ids_of(commits), (std::vector<std::string>{s_c, c3, s_b, c2, s_a, c1}));
  for (size_t i = 0; i < commits.size(); ++i) {
    EXPECT_EQ(commits[i].index, i);
    EXPECT_EQ(commits[i].num_skipped, 0u);
  }
  EXPECT_EQ(commits[0].stash_id, "refs/stash@{0}");
  EXPECT_EQ(commits[0].message, "On main");
  EXPECT_EQ(commits[2].stash_id, "refs/stash@{1}");
  EXPECT_EQ(commits[2].message, "Stash on main");
  EXPECT_EQ(commits[4].stash_id, "refs/stash@{2}");
  EXPECT_EQ(commits[2].parent_ids, std::vector<std::string>{c3});
  EXPECT_TRUE(commits[2].refs.empty());
  EXPECT_EQ(commits[1].refs, std::vector<std::string>{"refs/heads/main"});

  EXPECT_EQ(get_cached_commits(repo.str()), loaded->all);
  EXPECT_FALSE(get_repo_changed()->at(repo.str()));

  auto without = load_commits_and_refs(HistoryQuery{repo.str(), 500, {}, false, true});
  ASSERT_TRUE(without);
  EXPECT_EQ(ids_of(without->commits()), (std::vector<std::string>{c3, c2, c1}));
}

TEST_F(LoadCommits, DecorationWithParenthesisedBranchName) {
  std::string c1 = commit_as(repo, "Ann", "a.txt", T + 1000);
  git(repo.path, {"branch", "fix(x)"});
  git(repo.path, {"branch", "a,b"});
  std::string c2 = commit_as(repo, "Ann", "a.txt", T + 2000);
  auto loaded = load_commits_and_refs(request());
  ASSERT_TRUE(loaded);
  ASSERT_EQ(ids_of(loaded->commits()), (std::vector<std::string>{c2, c1}));
  EXPECT_EQ(loaded->commits()[1].refs,
            (std::vector<std::string>{"refs/heads/fix(x)", "refs/heads/a,b"}));
  std::vector<std::string> short_names;
  for (const RefInfo& r : loaded->refs()) short_names.push_back(r.short_name);
  EXPECT_EQ(short_names, (std::vector<std::string>{"main", "fix(x)", "a,b"}));
}

TEST_F(LoadCommits, RemoteNamesAndSiblingsWithTwoRemotes) {
  std::string c1 = commit_as(repo, "Ann", "a.txt", T + 1000);
  std::string c2 = commit_as(repo, "Ann", "a.txt", T + 2000);
  git(repo.path, {"update-ref", "refs/remotes/origin/main", c1});
  git(repo.path, {"update-ref", "refs/remotes/upstream/main", c2});
  git(repo.path, {"symbolic-ref", "refs/remotes/origin/HEAD", "refs/remotes/origin/main"});
  git(repo.path, {"update-ref", "refs/remotes/upstream/feature", c1});
  git(repo.path, {"branch", "feature", c1});
  git(repo.path, {"branch", "HEADER", c1});
  git(repo.path, {"tag", "v1", c1});
  git(repo.path, {"branch", "v1", c2});
  CONFIG_CACHE().update([&](auto& cache) {
    cache[repo.str()] = RepoConfig{{{"branch.main.pushremote", "upstream"}}, {}};
  });

  auto loaded = load_commits_and_refs(request());
  ASSERT_TRUE(loaded);
  struct Expected {
    std::string remote;
    std::optional<std::string> sibling;
  };
  std::map<std::string, Expected> expected = {
      {"refs/heads/main", {"upstream", "refs/remotes/upstream/main"}},
      {"refs/remotes/upstream/main", {"upstream", "refs/heads/main"}},
      {"refs/heads/v1", {"origin", std::nullopt}},
      {"refs/remotes/origin/main", {"origin", "refs/heads/main"}},
      {"refs/heads/feature", {"origin", std::nullopt}},
      {"refs/remotes/upstream/feature", {"upstream", "refs/heads/feature"}},
      {"refs/tags/v1", {"origin", "refs/heads/v1"}},
  };
  std::map<std::string, Expected> actual;
  for (const RefInfo& r : loaded->refs())
    actual[r.id] = {r.remote_name.value_or("-"), r.sibling_id};
  ASSERT_EQ(actual.size(), expected.size());
  for (const auto& [id, e] : expected) {
    ASSERT_TRUE(actual.contains(id)) << id;
    EXPECT_EQ(actual[id].remote, e.remote) << id;
    EXPECT_EQ(actual[id].sibling, e.sibling) << id;
  }
  // Names holding "HEAD" are left out of the ref list but stay on their commit.
  const Commit& first = loaded->commits()[1];
  EXPECT_NE(std::find(first.refs.begin(), first.refs.end(), "refs/remotes/origin/HEAD"),
            first.refs.end());
  EXPECT_NE(std::find(first.refs.begin(), first.refs.end(), "refs/heads/HEADER"), first.refs.end());
}

TEST_F(LoadCommits, FastIsAnsweredFromTheCacheWithoutGit) {
  commit_as(repo, "Ann", "a.txt", T + 1000);
  TempRepo other;
  other.commit_file("x", "1", "x");
  auto first = load_commits_and_refs(request());
  ASSERT_TRUE(first);
  set_repo_changed({{repo.str(), true}});
  test::GitRecorder recorder;
  auto fast = load_commits_and_refs(request({}, true));
  ASSERT_TRUE(fast);
  EXPECT_TRUE(recorder.calls().empty());
  EXPECT_EQ(fast->all, first->all);
  EXPECT_TRUE(get_repo_changed()->at(repo.str()));

  auto full = load_commits_and_refs(request());
  ASSERT_TRUE(full);
  EXPECT_EQ(recorder.calls().size(), 2u);
  EXPECT_NE(full->all, first->all);
  EXPECT_FALSE(get_repo_changed()->at(repo.str()));

  EXPECT_TRUE(load_commits_and_refs(HistoryQuery{other.str(), 500, {}, true, true}));
  EXPECT_EQ(recorder.calls().size(), 3u);
}

class Filters : public LoadCommits {
 protected:
  void SetUp() override {
    LoadCommits::SetUp();
    c1 = commit_as(repo, "Ann", "a.txt", T + 1000);
    c2 = commit_as(repo, "Bob", "b.txt", T + 2000);
    git(repo.path, {"checkout", "-q", "-b", "side"});
    s1 = commit_as(repo, "Ann", "s.txt", T + 5000);
    git(repo.path, {"checkout", "-q", "main"});
    c3 = commit_as(repo, "Ann", "a.txt", T + 3000);
    c4 = commit_as(repo, "Bob", "b.txt", T + 4000);
    stash = stash_at(repo, T + 6000, "on a.txt");
  }

  // Each kept commit as (id, index, numSkipped).
  std::vector<std::tuple<std::string, size_t, uint32_t>> kept(std::vector<CommitFilter> filters) {
    auto loaded = load_commits_and_refs(request(std::move(filters)));
    EXPECT_TRUE(loaded);
    if (!loaded) return {};
    EXPECT_EQ(loaded->refs().size(), 2u);
    std::vector<std::tuple<std::string, size_t, uint32_t>> out;
    for (const Commit& c : loaded->commits()) out.emplace_back(c.id, c.index, c.num_skipped);
    return out;
  }

  std::string c1, c2, c3, c4, s1, stash;
};

TEST_F(Filters, EachFilterAloneAndCombined) {
  using K = std::vector<std::tuple<std::string, size_t, uint32_t>>;
  // The list is stash, s1, c4, c3, c2, c1.
  EXPECT_EQ(kept({branch_filter("main")}),
            (K{{stash, 0, 0}, {c4, 1, 1}, {c3, 2, 0}, {c2, 3, 0}, {c1, 4, 0}}));
  EXPECT_EQ(kept({branch_filter("side")}), (K{{s1, 0, 1}, {c2, 1, 2}, {c1, 2, 0}}));
  EXPECT_EQ(kept({user_filter("Bob")}), (K{{c4, 0, 2}, {c2, 1, 1}}));
  EXPECT_EQ(kept({file_filter("b.txt")}), (K{{c4, 0, 2}, {c2, 1, 1}}));
  EXPECT_EQ(kept({file_filter("a.txt")}), (K{{stash, 0, 0}, {c3, 1, 2}, {c1, 2, 1}}));
  EXPECT_EQ(kept({commit_filter(c2)}), (K{{c2, 0, 4}}));
  EXPECT_EQ(kept({branch_filter("main"), user_filter("Ann"), file_filter("a.txt")}),
            (K{{c3, 0, 3}, {c1, 1, 1}}));
  EXPECT_EQ(kept({branch_filter("main"), user_filter("ann")}), K{});
  EXPECT_EQ(kept({commit_filter(std::string(40, 'f'))}), K{});
  EXPECT_EQ(kept({branch_filter("nowhere")}), K{});
}

TEST_F(Filters, CacheHoldsTheUnfilteredList) {
  kept({user_filter("Bob")});
  auto cached = get_cached_commits(repo.str());
  ASSERT_TRUE(cached);
  EXPECT_EQ(ids_of(cached->commits), (std::vector<std::string>{stash, s1, c4, c3, c2, c1}));
  EXPECT_EQ(cached->commits[5].index, 5u);
  EXPECT_EQ(cached->commits[5].num_skipped, 0u);
}

}  // namespace
}  // namespace brackwen
