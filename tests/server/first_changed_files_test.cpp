// A commit's first changed files, end to end: from its own git run while the rest of the loaded
// history is still being read, and the same in every reply and on disk as when the whole
// history is read before the first reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <map>
#include <sstream>

#include "support/git_recorder.hpp"
#include "support/server_harness.hpp"

namespace brackwen {
namespace {

using test::ServerProcess;

// Five topics of two commits (the second a rename) merged into main one after the other, a
// commit on main before each merge, then a stash: few enough ordinary commits to be named on one
// `git show`, and merges enough to be diffed in bulk. Each commit one second after the last.
constexpr const char* HISTORY =
    R"(n=0; c() { n=$((n+1)); export GIT_COMMITTER_DATE="$((1700000000+n)) +0000"
  GIT_AUTHOR_DATE="$((1700000000+n)) +0000"; echo "$n" >"$1"; git add -A; git commit -qm "$1"; }
c base; for i in $(seq 5); do git checkout -qb t$i main; c t$i.a; git mv t$i.a t$i.moved
c t$i.b; git checkout -q main; c m$i; n=$((n+1))
GIT_COMMITTER_DATE="$((1700000000+n)) +0000" git merge -q --no-edit t$i; done
echo w >>m1; git stash -q)";

// git, but the reads of many commits at once (the show of the ordinary ones, the bulk diff of
// the merges and the stash) wait until the file "release" exists beside it.
constexpr const char* HOLDS_BULK_READS = R"sh(release="$(dirname "$0")/release"
hold() { until [ -e "$release" ]; do sleep 0.01; done; }
case " $* " in
*" diff-tree "*) input=$(cat)
  [ "$(printf '%s\n' "$input" | wc -l)" -gt 1 ] && hold
  printf '%s\n' "$input" | "$REAL_GIT" "$@"; exit;;
*" show "*) ids=0
  for a; do [ ${#a} = 40 ] && [ -z "$(printf %s "$a" | tr -d 0-9a-f)" ] && ids=$((ids+1)); done
  [ $ids -gt 1 ] && hold;;
esac
exec "$REAL_GIT" "$@")sh";

std::string load_body(const test::TempRepo& repo, const std::string& filters) {
  return test::body({{"repoPath", test::quoted(repo.str())},
                     {"numCommits", "100"},
                     {"filters", filters},
                     {"fast", "false"},
                     {"skipStashes", "false"}});
}

std::string files_of(const ServerProcess& server, const test::TempRepo& repo,
                     const std::string& id) {
  return server
      .post("/f/load_patches_for_commit",
            test::body({{"repoPath", test::quoted(repo.str())}, {"commitId", test::quoted(id)}}))
      .body;
}

std::string disk_file(const ServerProcess& server) {
  auto dir = server.home / ".cache/brackwen/patches";
  return test::read_file(std::filesystem::directory_iterator(dir)->path());
}

size_t calls_with(const test::GitRecorder& git, const std::string& word) {
  auto calls = git.calls();
  return std::count_if(calls.begin(), calls.end(), [&](const std::string& call) {
    return (" " + call + " ").find(" " + word + " ") != std::string::npos;
  });
}

TEST(FirstChangedFiles, AnswerWhileTheRestLoadsAndEndAsTheWholeLoad) {
  test::TempRepo repo;
  test::sh(repo.path, HISTORY);
  std::string ordinary = test::trimmed(test::sh(repo.path, "git rev-parse main~1"));
  std::string base = test::trimmed(test::sh(repo.path, "git rev-parse main~10"));
  std::string merge = test::trimmed(test::sh(repo.path, "git rev-parse main~2"));
  std::string renamed = test::trimmed(test::sh(repo.path, "git rev-parse main^2"));
  std::vector<std::string> all;
  std::istringstream listed(test::sh(repo.path, "git rev-list main stash"));
  for (std::string id; listed >> id;) all.push_back(id);
  // The whole history read before the first commit's reply, as a search reads it.
  ServerProcess whole;
  whole.post("/f/load_commits_and_refs", load_body(repo, "[]"));
  whole.post("/f/search_commits", test::whole_history_body(repo.path));
  std::map<std::string, std::string> expected;
  for (const std::string& id : all) expected[id] = files_of(whole, repo, id);
  ASSERT_NE(expected[renamed].find("\"patchType\":\"R\""), std::string::npos);
  ASSERT_NE(expected[merge].find("t4.moved"), std::string::npos);

  test::GitRecorder git(HOLDS_BULK_READS);
  ServerProcess server;
  server.post("/f/load_commits_and_refs", load_body(repo, "[]"));
  EXPECT_EQ(files_of(server, repo, ordinary), expected[ordinary]);
  ASSERT_TRUE(test::eventually(
      [&] { return calls_with(git, base) == 1 && calls_with(git, "diff-tree") == 1; }));
  // Held: these come from their own runs.
  EXPECT_EQ(files_of(server, repo, merge), expected[merge]);
  EXPECT_EQ(files_of(server, repo, renamed), expected[renamed]);
  // A filter asked meanwhile waits for the rest, once its history is read.
  std::string filter = load_body(repo, R"([{"file":["moved"]}])");
  size_t logs = calls_with(git, "log");
  auto filtered = std::async(std::launch::async,
                             [&] { return server.post("/f/load_commits_and_refs", filter).body; });
  ASSERT_TRUE(test::eventually([&] { return calls_with(git, "log") > logs; }));
  std::ofstream(git.dir.path / "release");
  EXPECT_EQ(filtered.get(), whole.post("/f/load_commits_and_refs", filter).body);
  EXPECT_EQ(disk_file(server), disk_file(whole));
  for (const std::string& id : all) EXPECT_EQ(files_of(server, repo, id), expected[id]) << id;
  // One load of the rest, which took the commit read first as read.
  EXPECT_EQ(calls_with(git, base), 1u);
  EXPECT_EQ(calls_with(git, ordinary), 1u);
}

}  // namespace
}  // namespace brackwen
