#include "server/files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "support/file_size_limit.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;

std::string with_nul(const fs::path& p) {
  return p.string() + std::string("\0/x", 3);
}

struct Tree : test::TempDir {
  Tree() {
    std::ofstream(path / "empty");
    std::ofstream(path / "ten") << "0123456789";
    fs::create_directory(path / "dir");
    fs::create_symlink(path / "ten", path / "link");
    fs::create_symlink(path / "gone", path / "dangling");
  }
};

TEST(PathExists, FollowsLinksAndReportsEveryFailureAsFalse) {
  Tree t;
  EXPECT_TRUE(path_exists("/tmp"));
  EXPECT_TRUE(path_exists((t.path / "dir").string()));
  EXPECT_TRUE(path_exists((t.path / "link").string()));
  EXPECT_FALSE(path_exists(""));
  EXPECT_FALSE(path_exists((t.path / "dangling").string()));
  EXPECT_FALSE(path_exists((t.path / "missing").string()));
  EXPECT_FALSE(path_exists((t.path / "ten/below").string()));
  // The text before the NUL exists; the path as sent does not.
  EXPECT_FALSE(path_exists(std::string("/tmp\0", 5)));
  EXPECT_FALSE(path_exists(with_nul(t.path / "dir")));
}

TEST(FileSize, SizesFollowLinks) {
  Tree t;
  EXPECT_EQ(file_size((t.path / "empty").string()), 0u);
  EXPECT_EQ(file_size((t.path / "ten").string()), 10u);
  EXPECT_EQ(file_size((t.path / "link").string()), 10u);
  EXPECT_TRUE(file_size((t.path / "dir").string()));
  EXPECT_FALSE(file_size((t.path / "missing").string()));
  EXPECT_FALSE(file_size((t.path / "dangling").string()));
  EXPECT_FALSE(file_size(std::string((t.path / "ten").string() + '\0')));
}

TEST(TempDirLookup, TakesTmpdirAsItIs) {
  const char* saved = std::getenv("TMPDIR");
  std::string restore = saved ? saved : "";
  unsetenv("TMPDIR");
  EXPECT_EQ(temp_dir(), "/tmp");
  setenv("TMPDIR", "", 1);
  EXPECT_EQ(temp_dir(), "");
  setenv("TMPDIR", "/var/folders/xy/T/", 1);
  EXPECT_EQ(temp_dir(), "/var/folders/xy/T/");
  setenv("TMPDIR", "/tmp/\xff", 1);
  EXPECT_FALSE(temp_dir());
  if (saved) {
    setenv("TMPDIR", restore.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

TEST(WriteFile, CreatesOrReplacesWholeContent) {
  Tree t;
  auto file = t.path / "ünï cödé.txt";
  EXPECT_TRUE(write_file(file.string(), ""));
  EXPECT_TRUE(fs::exists(file));
  EXPECT_TRUE(write_file((t.path / "ten").string(), "ab\n"));
  EXPECT_EQ(test::read_file(t.path / "ten"), "ab\n");
  std::string big(3 << 20, 'q');
  EXPECT_TRUE(write_file(file.string(), big));
  EXPECT_EQ(fs::file_size(file), big.size());
}

TEST(WriteFile, FailuresCreateNothing) {
  Tree t;
  EXPECT_FALSE(write_file((t.path / "no/such/dir.txt").string(), "x"));
  EXPECT_FALSE(fs::exists(t.path / "no"));
  EXPECT_FALSE(write_file((t.path / "dir").string(), "x"));
  EXPECT_FALSE(write_file(with_nul(t.path / "cut"), "x"));
  EXPECT_FALSE(fs::exists(t.path / "cut"));
  // A FIFO nobody reads fails at once rather than blocking the server.
  ASSERT_EQ(mkfifo((t.path / "pipe").c_str(), 0600), 0);
  EXPECT_FALSE(write_file((t.path / "pipe").string(), "x"));
}

TEST(WriteFile, TildeIsNotExpanded) {
  Tree t;
  fs::create_directory(t.path / "~");
  auto cwd = fs::current_path();
  fs::current_path(t.path);
  EXPECT_TRUE(write_file("~/x", "tilde"));
  fs::current_path(cwd);
  EXPECT_EQ(test::read_file(t.path / "~/x"), "tilde");
}

TEST(WriteFile, AWriteBeyondTheFileSizeLimitFails) {
  Tree t;
  auto file = t.path / "limited";
  EXPECT_EQ(test::with_file_size_limit(4096,
                                       [&] {
                                         return write_file(file.string(), std::string(10000, 'x'))
                                                    ? "written"
                                                    : "failed";
                                       }),
            "failed");
}

}  // namespace
}  // namespace brackwen
