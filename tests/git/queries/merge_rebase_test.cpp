#include "git/queries/merge_rebase.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::git;
using test::sh;
using test::TempRepo;

// main and "other" both change a.txt, so merging or rebasing one onto the other stops.
struct ConflictRepo : TempRepo {
  ConflictRepo() {
    commit_file("a.txt", "base\n", "base", 1700000000);
    git(path, {"checkout", "-q", "-b", "other"});
    other = commit_file("a.txt", "other\n", "other", 1700000100);
    git(path, {"checkout", "-q", "main"});
    commit_file("a.txt", "main\n", "main", 1700000200);
  }
  std::string other;
};

TEST(MergeInProgress, ReadsTheMergeHeadWhileAMergeStops) {
  ConflictRepo repo;
  EXPECT_EQ(merge_in_progress(repo.str()), std::nullopt);
  sh(repo.path, "git merge -q other >/dev/null 2>&1 || true");
  EXPECT_EQ(merge_in_progress(repo.str()), repo.other);
  EXPECT_EQ(merge_in_progress(repo.str() + "/"), repo.other);
  EXPECT_FALSE(rebase_in_progress(repo.str()));
  git(repo.path, {"merge", "--abort"});
  EXPECT_EQ(merge_in_progress(repo.str()), std::nullopt);
}

TEST(MergeInProgress, FileContents) {
  TempRepo repo;
  const struct {
    std::string bytes;
    std::optional<std::string> reply;
  } cases[] = {
      {"a1\nb2\n", "a1\nb2"},
      {" \t\r\n\u00a0", ""},
      {"\u2003id\u2003", "id"},
      {"bad \xff byte", std::nullopt},
  };
  for (const auto& c : cases) {
    repo.write(".git/MERGE_HEAD", c.bytes);
    EXPECT_EQ(merge_in_progress(repo.str()), c.reply) << c.bytes;
  }
  std::filesystem::remove(repo.path / ".git/MERGE_HEAD");
  std::filesystem::create_directory(repo.path / ".git/MERGE_HEAD");
  EXPECT_EQ(merge_in_progress(repo.str()), std::nullopt);
}

TEST(RebaseInProgress, SeesTheRebaseMergeDirectory) {
  ConflictRepo repo;
  EXPECT_FALSE(rebase_in_progress(repo.str()));
  sh(repo.path, "git rebase other >/dev/null 2>&1 || true");
  EXPECT_TRUE(rebase_in_progress(repo.str()));
  EXPECT_TRUE(rebase_in_progress(repo.str() + "/"));
  EXPECT_EQ(merge_in_progress(repo.str()), std::nullopt);
  git(repo.path, {"rebase", "--abort"});
  EXPECT_FALSE(rebase_in_progress(repo.str()));
  repo.write(".git/rebase-merge", "a plain file counts too");
  EXPECT_TRUE(rebase_in_progress(repo.str()));
}

// There ".git" is a file that names the git directory; git keeps the markers in that one.
TEST(MergeInProgress, LinkedWorktreeAndSubmodule) {
  ConflictRepo repo;
  test::TempDir holder;
  auto linked = holder.path / "linked";
  git(repo.path, {"worktree", "add", "-q", "-b", "third", linked.string(), "main"});
  sh(linked, "git merge -q other >/dev/null 2>&1 || true");
  EXPECT_EQ(merge_in_progress(linked.string()), repo.other);
  EXPECT_EQ(merge_in_progress(repo.str()), std::nullopt);
  git(linked, {"merge", "--abort"});
  sh(linked, "git rebase other >/dev/null 2>&1 || true");
  EXPECT_TRUE(rebase_in_progress(linked.string()));
  EXPECT_FALSE(rebase_in_progress(repo.str()));

  TempRepo outer;
  outer.commit_file("o.txt", "o\n", "outer");
  sh(outer.path, "git -c protocol.file.allow=always submodule add -q '" + repo.str() + "' sub");
  auto sub = outer.path / "sub";
  ASSERT_TRUE(std::filesystem::is_regular_file(sub / ".git"));
  sh(sub, "git merge -q origin/other >/dev/null 2>&1 || true");
  EXPECT_EQ(merge_in_progress(sub.string()), repo.other);
}

TEST(MarkerPaths, RelativeAndCutPaths) {
  TempRepo repo;
  repo.write(".git/MERGE_HEAD", "abc\n");
  repo.write(".git/rebase-merge", "");
  // A NUL would cut the path at the repository; such a path names no repository.
  std::string cut = repo.str() + std::string("\0/elsewhere", 11);
  EXPECT_EQ(merge_in_progress(cut), std::nullopt);
  EXPECT_FALSE(rebase_in_progress(cut));
  EXPECT_EQ(merge_in_progress("/nonexistent/repo"), std::nullopt);
}

// A submodule names its git directory relative to its working directory (a linked worktree:
// LinkedWorktreeAndSubmodule above).
TEST(MarkerPaths, FollowARelativeGitFile) {
  test::TempDir module;
  std::filesystem::create_directories(module.path / "modules/süb");
  std::ofstream(module.path / ".git") << "gitdir: modules/süb\n";
  std::ofstream(module.path / "modules/süb/MERGE_HEAD") << "abc\n";
  EXPECT_EQ(merge_in_progress(module.path.string()), "abc");
}

}  // namespace
}  // namespace brackwen
