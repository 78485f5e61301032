// What the queries keep between requests, a branch against its remote counterpart, walks over
// histories too long or too shared for a request to show, and the diff search's own git.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <fstream>
#include <thread>

#include "git/git_version.hpp"
#include "git/queries/config.hpp"
#include "git/queries/diff_search.hpp"
#include "git/queries/graph.hpp"
#include "git/queries/load_commits.hpp"
#include "git/queries/refs.hpp"
#include "git/queries/refs/ancestry_counts.hpp"
#include "git/queries/refs/head_info.hpp"
#include "git/queries/refs/unpushed_commits.hpp"
#include "git/queries/relations.hpp"
#include "git/queries/search/search_commits.hpp"
#include "server/history.hpp"
#include "stores/diff_searches.hpp"
#include "stores/stores.hpp"
#include "support/git_recorder.hpp"
#include "support/requests.hpp"

namespace brackwen {
namespace {

using test::git;
using test::TempRepo;

TEST(ConfigCache, KeepsTheLastReadableConfig) {
  TempRepo repo;
  test::use_plain_git_config();
  git(repo.path, {"config", "remote.origin.url", "one"});
  ASSERT_TRUE(load_full_config(repo.str()));
  git(repo.path, {"config", "remote.origin.url", "two"});
  ASSERT_TRUE(load_full_config(repo.str()));
  EXPECT_EQ(get_cached_config(repo.str())->remotes, (TextMap{{"origin", "two"}}));
  // Ending on a key without value makes the whole output unreadable.
  test::sh(repo.path, "printf '[yy]\\n\\tbare\\n' >> .git/config");
  EXPECT_FALSE(load_full_config(repo.str()));
  EXPECT_EQ(get_cached_config(repo.str())->remotes, (TextMap{{"origin", "two"}}));
}

HistoryQuery history(const TempRepo& repo, bool fast = false) {
  return HistoryQuery{repo.str(), 500, {}, fast, false};
}

// A fast load is answered from the cache without git and leaves the changed flag; a full one
// runs git, and a failed one caches nothing and leaves the flag too.
TEST(CommitsCache, FastLoadsComeFromTheCacheAndFailuresKeepNothing) {
  TempRepo repo, other;
  repo.commit_file("a", "1", "one");
  other.commit_file("x", "1", "x");
  test::GitRecorder recorder;
  set_repo_changed({{repo.str(), true}});
  auto first = load_commits_and_refs(history(repo));
  ASSERT_TRUE(first);
  EXPECT_EQ(get_cached_commits(repo.str()), first->all);
  EXPECT_FALSE(get_repo_changed()->at(repo.str()));
  repo.commit_file("a", "2", "two");
  set_repo_changed({{repo.str(), true}});
  size_t calls = recorder.calls().size();

  auto fast = load_commits_and_refs(history(repo, true));
  ASSERT_TRUE(fast);
  EXPECT_EQ(fast->all, first->all);
  EXPECT_EQ(recorder.calls().size(), calls);
  EXPECT_TRUE(get_repo_changed()->at(repo.str()));
  auto full = load_commits_and_refs(history(repo));
  ASSERT_TRUE(full);
  EXPECT_NE(full->all, first->all);
  EXPECT_GT(recorder.calls().size(), calls);
  EXPECT_FALSE(get_repo_changed()->at(repo.str()));
  // Nothing cached yet: fast or not, git answers.
  calls = recorder.calls().size();
  EXPECT_TRUE(load_commits_and_refs(history(other, true)));
  EXPECT_GT(recorder.calls().size(), calls);

  TempRepo empty, garbled;
  garbled.commit_file("a", "1", "one");
  set_repo_changed({{empty.str(), true}, {garbled.str(), true}});
  EXPECT_FALSE(load_commits_and_refs(history(empty)));
  test::GitRecorder garbage(test::printing("not; a log\n"));
  EXPECT_FALSE(load_commits_and_refs(history(garbled)));
  for (const TempRepo* r : {&empty, &garbled}) {
    EXPECT_FALSE(get_cached_commits(r->str()));
    EXPECT_TRUE(get_repo_changed()->at(r->str()));
  }
}

Commit commit(std::string id, std::vector<std::string> parents) {
  Commit c;
  c.id = std::move(id);
  c.parent_ids = std::move(parents);
  c.is_merge = c.parent_ids.size() > 1;
  return c;
}

// A nonzero count is kept by the pair of ids, so the same pair is answered without the graph.
TEST(ReachableIdsCache, KeepsNonzeroCountsOnly) {
  std::vector<Commit> commits{commit("rc-c", {"rc-p"}), commit("rc-p", {})};
  CommitsById map = commits_by_id(commits);
  EXPECT_EQ(calc_ref_diff_count("rc-c", "rc-p", map), 1u);
  EXPECT_EQ(calc_ref_diff_count("rc-p", "rc-c", map), 0u);
  EXPECT_EQ(calc_ref_diff_count("rc-c", "rc-none", map), 0u);
  EXPECT_EQ(calc_ref_diff_count("rc-c", "rc-p", {}), 1u);
  auto cache = REACHABLE_IDS_CACHE().get();
  EXPECT_TRUE(cache->contains("rc-crc-p"));
  EXPECT_FALSE(cache->contains("rc-crc-none"));
}

// A ladder of 300 commits with a merge every tenth step, counted from every rung against
// the pinned tip by eight threads sharing one counter.
TEST(AncestryCounter, ConcurrentCountsAreExact) {
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
  for (int i = 0; i < 300; ++i)
    EXPECT_EQ(together[i], (AheadBehind{0, static_cast<uint32_t>(i)})) << i;
}

TEST(HistoryWalks, ALongLinearHistoryNeedsNoDeepStack) {
  constexpr int n = 200000;
  std::vector<Commit> commits;
  for (int i = 0; i < n; ++i) {
    commits.push_back(commit("lin" + std::to_string(i),
                             i + 1 < n ? std::vector<std::string>{"lin" + std::to_string(i + 1)}
                                       : std::vector<std::string>{}));
  }
  CommitsById by_id = commits_by_id(commits);
  CommitIdSet wanted{"lin0", "lin199999"}, visited;
  std::vector<std::string> out;
  walk_commit_graph(commits[0], "", by_id, {}, wanted, visited, out);
  EXPECT_EQ(out, (std::vector<std::string>{"lin0", "lin199999"}));
  EXPECT_EQ(reachable_commit_ids(commits[0], by_id).size(), size_t{n - 1});
  EXPECT_EQ(calc_ref_diff_count("lin0", "lin199999", by_id), uint32_t{n - 1});
}

// The first parent's whole history comes before the second parent; a walk stops at its stop id
// and at commits on remote branches, not at tags.
TEST(HistoryWalks, PreOrderStoppingAtRemoteBranches) {
  std::vector<Commit> commits{commit("m", {"a", "b"}), commit("a", {"a1"}), commit("a1", {"r"}),
                              commit("b", {"r"}), commit("r", {})};
  commits[2].refs = {"refs/remotes/o/x"};
  commits[3].refs = {"refs/tags/t"};
  std::vector<RefInfo> refs{ref_from_name("refs/remotes/o/x"), ref_from_name("refs/tags/t")};
  CommitsById by_id = commits_by_id(commits);
  CommitIdSet wanted{"m", "a", "a1", "b", "r"};
  for (const auto& [stop, walked] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"", {"m", "a", "b", "r"}}, {"b", {"m", "a"}}, {"m", {}}}) {
    CommitIdSet visited;
    std::vector<std::string> out;
    walk_commit_graph(commits[0], stop, by_id, refs_by_id(refs), wanted, visited, out);
    EXPECT_EQ(out, walked) << stop;
  }
}

// A search of the cached history folds the final sigma too, and matches a renamed path by its
// old name.
TEST(SearchCommits, FinalSigmaAndOldPaths) {
  Commit c2 = commit("c2", {}), c3 = commit("c3", {});
  c2.message = "\u00c4rger mit \u039f\u0394\u039f\u03a3";
  c3.message = "rename";
  CommitsAndRefs history{{c2, c3}, {}};
  Patch renamed{"c3", "Old/Name.txt", "new/other.txt", PatchType::R, "r", false};
  PatchMap patches{{"c3", {renamed, Patch{"c3", "x", "y", PatchType::R, "x", false}}}};
  std::pair<std::string, std::string> cases[] = {
      {"\u03bf\u03b4\u03bf\u03c2", "c2 (1) "},
      {"\u039f\u0394\u039f\u03a3", "c2 (1) "},
      {"old/name", "c3 (0) Old/Name.txt "},
  };
  for (const auto& [text, found] : cases) {
    std::string shown;
    for (const auto& r : search_commits(history, patches, text, 100)) {
      shown += r.commit_id + " (" + std::to_string(r.matches.size()) + ") ";
      for (const Patch& p : r.patches) shown += p.old_file + " ";
    }
    EXPECT_EQ(shown, found) << text;
  }
}

// main is two commits ahead of origin/main, which has one commit main lacks; the remote's
// "feature" holds the first of main's two. With the whole history cached the counterpart is
// found there; with only main's two commits cached git is asked. Contents carry the
// repository's path, so no two runs share commit ids (counts are cached by commit id).
TEST(HeadInfo, CountsAgainstTheRemoteCounterpart) {
  test::use_plain_git_config();
  // As the server does at start-up: how the log is asked for HEAD depends on git's version.
  load_git_version();
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

bool load(const TempRepo& repo, uint32_t count) {
  return load_commits_and_refs(HistoryQuery{repo.str(), count, {}, false, false}).has_value();
}

std::optional<DiffSearch> completed(uint32_t id) {
  std::optional<DiffSearch> done;
  bool ended = test::eventually([&] {
    auto all = get_diff_searches();
    if (all && all->contains(id) && all->at(id).complete) done = all->at(id);
    return done.has_value();
  });
  EXPECT_TRUE(ended) << "search " << id;
  return done;
}

// The first `git log` (after the reading options) writes its pid and then never ends unless killed;
// every other call runs the real git.
TEST(DiffSearch, ANewerSearchKillsAndReapsTheOlderGit) {
  TempRepo repo;
  repo.commit_file("c.txt", "a needle\n", "c1");
  std::string top = repo.commit_file("c.txt", "a needle\nneedle 2\n", "c2");
  test::use_plain_git_config();
  ASSERT_TRUE(load(repo, 500));
  test::TempDir files;
  auto pid_file = files.path / "pid", hung = files.path / "hung";
  test::GitRecorder recorder(
      "if printf '%s\\n' \"$@\" | grep -qx log && [ ! -e '" + hung.string() + "' ]; then : > '" +
      hung.string() + "'; echo $$ > '" + pid_file.string() + ".tmp'; mv '" + pid_file.string() +
      ".tmp' '" + pid_file.string() + "'; exec tail -f /dev/null; fi\nexec \"$REAL_GIT\" \"$@\"");
  uint32_t older = start_diff_search(repo.str(), "needle", 50, 0);
  pid_t pid = 0;
  ASSERT_TRUE(test::eventually([&] { return (std::ifstream(pid_file) >> pid) && pid > 0; }));
  EXPECT_FALSE(get_diff_searches()->at(older).complete);

  uint32_t newer = start_diff_search(repo.str(), "needle", 50, 0);
  auto killed = completed(older);
  ASSERT_TRUE(killed);
  EXPECT_FALSE(killed->results);
  // Gone, not a zombie: a zombie still answers signal 0.
  EXPECT_EQ(::kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  auto finished = completed(newer);
  ASSERT_TRUE(finished && finished->results);
  ASSERT_EQ(finished->results->size(), 2u);
  EXPECT_EQ(finished->results->at(0).first, top);
  // Only added and removed lines are searched, not the context.
  const auto& lines = finished->results->at(0).second.at(0).lines;
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "needle 2");
}

// A root commit of thousands of long paths that all hold the text, then one cached commit:
// git prints well over a MiB, which arrives in several reads that cut records apart. Built
// with fast-import and never checked out, which would cost more than the search.
TEST(DiffSearch, MoreThanAMebibyteOfGitOutput) {
  TempRepo repo;
  std::string stream = "blob\nmark :1\ndata 7\nneedle\nblob\nmark :2\ndata 14\na needle here\n";
  stream += "commit refs/heads/main\nmark :3\ncommitter T <t@e> 1700000000 +0000\ndata 3\nbig";
  std::string long_dir = "\nM 100644 :1 " + std::string(200, 'd') + "/file-";
  for (int i = 0; i < 5000; ++i) stream += long_dir + std::to_string(i);
  stream += "\n\ncommit refs/heads/main\nmark :4\ncommitter T <t@e> 1700000100 +0000\ndata 3\ntop";
  stream += "\nfrom :3\nM 100644 :2 top.txt\n\n";
  test::TempDir files;
  std::ofstream(files.path / "stream") << stream;
  test::sh(repo.path, "git fast-import --quiet < '" + (files.path / "stream").string() + "'");
  test::use_plain_git_config();
  ASSERT_TRUE(load(repo, 1));

  ASSERT_GT(git(repo.path, diff_search_args("needle", 50, 0)).size(), size_t{1} << 20);
  auto done = completed(start_diff_search(repo.str(), "needle", 50, 0));
  ASSERT_TRUE(done && done->results);
  ASSERT_EQ(done->results->size(), 1u);
  EXPECT_EQ(done->results->at(0).first, test::trimmed(git(repo.path, {"rev-parse", "main"})));
  const auto& lines = done->results->at(0).second.at(0).lines;
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "a needle here");
}

}  // namespace
}  // namespace brackwen
