// The diff search's own git: killed once a newer search starts, and read while it prints.
#include "git/queries/diff_search.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <fstream>

#include "git/queries/load_commits.hpp"
#include "server/history.hpp"
#include "stores/diff_searches.hpp"
#include "support/git_recorder.hpp"
#include "support/requests.hpp"

namespace brackwen {
namespace {

using test::git;
using test::TempRepo;

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

// The first `git log` writes its pid and then never ends unless killed; every other call runs
// the real git.
TEST(DiffSearch, ANewerSearchKillsAndReapsTheOlderGit) {
  TempRepo repo;
  repo.commit_file("c.txt", "a needle\n", "c1");
  std::string top = repo.commit_file("c.txt", "a needle\nneedle 2\n", "c2");
  test::use_plain_git_config();
  ASSERT_TRUE(load(repo, 500));
  test::TempDir files;
  auto pid_file = files.path / "pid", hung = files.path / "hung";
  test::GitRecorder recorder("if [ \"$1\" = log ] && [ ! -e '" + hung.string() + "' ]; then : > '" +
                             hung.string() + "'; echo $$ > '" + pid_file.string() + ".tmp'; mv '" +
                             pid_file.string() + ".tmp' '" + pid_file.string() +
                             "'; exec tail -f /dev/null; fi\nexec \"$REAL_GIT\" \"$@\"");
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
