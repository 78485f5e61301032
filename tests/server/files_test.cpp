#include "server/files.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "support/temp_repo.hpp"

// Runs code in a forked child whose files may not grow past a limit, so a test can make a
// write fail halfway without touching the test process's own limits.
namespace brackwen::test {

// What `run` returned in the child (passed back through a pipe); "child failed" when the
// child did not end normally. Only async-signal-safe work should be expected to behave in
// the child of a threaded test program; the code under test here only opens and writes files.
template <class F>
std::string with_file_size_limit(rlim_t bytes, F run) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  pid_t pid = ::fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    ::close(fds[0]);
    ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
    rlimit limit{bytes, bytes};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::string result = run();
    (void)!::write(fds[1], result.data(), result.size());
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string result;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) result.append(buffer, n);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? result : "child failed";
}

}  // namespace brackwen::test

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
