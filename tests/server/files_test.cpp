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
