#include "git/commit_image.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

TEST(LoadCommitImage, FailuresReplyFalse) {
  test::TempRepo repo;
  std::string id = repo.commit_file("a.png", "png", "add");
  test::TempDir out;
  auto existing = out.path / "existing.png";
  { std::ofstream(existing) << "keep"; }
  // Nothing on standard output: the target is not touched.
  EXPECT_FALSE(load_commit_image(repo.str(), id, "missing.png", existing.string()));
  EXPECT_EQ(test::read_file(existing), "keep");
  EXPECT_FALSE(load_commit_image(repo.str(), id, "a.png", (out.path / "no/dir.png").string()));
  EXPECT_FALSE(load_commit_image("/nonexistent-repo", id, "a.png", existing.string()));
  EXPECT_FALSE(load_commit_image(repo.str(), id, "a.png", existing.string() + '\0' + "x"));
  EXPECT_FALSE(load_commit_image(repo.str(), id, "a.png", out.str()));  // a directory
  // A FIFO nobody reads fails at once rather than blocking the server.
  ASSERT_EQ(mkfifo((out.path / "pipe").c_str(), 0600), 0);
  EXPECT_FALSE(load_commit_image(repo.str(), id, "a.png", (out.path / "pipe").string()));
  EXPECT_EQ(test::read_file(existing), "keep");
}

TEST(LoadCommitImage, CommitIdIsNeverAnOption) {
  test::TempRepo repo;
  repo.commit_file("a.png", "png", "add");
  test::TempDir out;
  // Unguarded, git would write its output to "<out>/stolen:HEAD".
  EXPECT_FALSE(load_commit_image(repo.str(), "--output=" + (out.path / "stolen").string(), "HEAD",
                                 (out.path / "t.png").string()));
  EXPECT_TRUE(std::filesystem::is_empty(out.path));
}

}  // namespace
}  // namespace brackwen
