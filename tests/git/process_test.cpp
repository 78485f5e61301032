#include "git/process.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "stores/environment.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

std::optional<ProcessOutput> run_sh(const std::string& script, const std::string& cwd = "/") {
  return run_process({"sh", "-c", script}, cwd);
}

TEST(RunProcess, CollectsBothStreamsAndTheStatus) {
  auto r = run_sh("printf out; printf err >&2; exit 3");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->out, "out");
  EXPECT_EQ(r->err, "err");
  EXPECT_EQ(r->status, 3);
}

TEST(RunProcess, KilledChildReportsTheSignal) {
  auto r = run_sh("kill -9 $$");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 128 + SIGKILL);
}

TEST(RunProcess, StandardInputIsEmpty) {
  auto r = run_process({"cat"}, "/");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->out, "");
  EXPECT_EQ(r->status, 0);
}

TEST(RunProcess, ChildHasNoControllingTerminal) {
  // Opening /dev/tty is how ssh asks for a password or a host key; it must fail at once.
  auto r = run_sh("(: </dev/tty) 2>/dev/null && echo has-tty || echo no-tty");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->out, "no-tty\n");
}

TEST(RunProcess, LargeOutputOnBothStreamsArrivesWhole) {
  auto r = run_sh("head -c 5000000 /dev/zero | tr '\\0' o & head -c 3000000 /dev/zero >&2; wait");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->out.size(), 5000000u);
  EXPECT_EQ(r->err.size(), 3000000u);
}

TEST(RunProcess, InheritedDescriptorsAreClosedInTheChild) {
  int leaked = ::open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
  ASSERT_GE(leaked, 3);
  auto r = run_sh("ls /proc/$$/fd");
  ::close(leaked);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->out, "0\n1\n2\n");
}

TEST(RunProcess, ChildGetsDefaultSigpipeEvenWhenTheParentIgnoresIt) {
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &old);
  // With SIGPIPE ignored, yes would complain about a broken pipe instead of dying quietly.
  auto r = run_sh("yes | head -n 1");
  ::sigaction(SIGPIPE, &old, nullptr);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->out, "y\n");
  EXPECT_EQ(r->err, "");
}

TEST(RunProcess, StartFailures) {
  test::TempDir dir;
  EXPECT_FALSE(run_process({}, "/"));
  EXPECT_FALSE(run_process({"no-such-program-brackwen"}, "/"));
  EXPECT_FALSE(run_process({"true"}, (dir.path / "missing").string()));
  EXPECT_FALSE(run_process({"true"}, ""));
  EXPECT_FALSE(run_process({std::string("true\0x", 6)}, "/"));
  EXPECT_FALSE(run_process({"echo", std::string("a\0b", 3)}, "/"));
  EXPECT_FALSE(run_process({"true"}, std::string("/\0tmp", 5)));
}

TEST(SpawnProcess, CallerReadsThePipesAndReaps) {
  auto child = spawn_process({"sh", "-c", "echo hi; echo there >&2; exit 7"}, "/");
  ASSERT_TRUE(child);
  std::string out, err;
  EXPECT_TRUE(read_to_end(child->out_fd, out));
  EXPECT_TRUE(read_to_end(child->err_fd, err));
  EXPECT_EQ(out, "hi\n");
  EXPECT_EQ(err, "there\n");
  EXPECT_EQ(wait_child(child->pid), 7);
}

TEST(Environment, SetVisibleToChildrenAndNulRefused) {
  EXPECT_TRUE(set_environment("BRACKWEN_TEST_VAR", "a b=c"));
  EXPECT_EQ(get_environment("BRACKWEN_TEST_VAR"), "a b=c");
  auto r = run_sh("printf %s \"$BRACKWEN_TEST_VAR\"");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->out, "a b=c");

  EXPECT_FALSE(set_environment("BRACKWEN_TEST_VAR", std::string("x\0y", 3)));
  EXPECT_FALSE(set_environment(std::string("BRACKWEN\0X", 10), "x"));
  EXPECT_FALSE(set_environment("A=B", "x"));
  EXPECT_FALSE(set_environment("", "x"));
  EXPECT_EQ(get_environment("BRACKWEN_TEST_VAR"), "a b=c");
  EXPECT_EQ(get_environment("BRACKWEN_TEST_UNSET_VAR"), std::nullopt);
}

}  // namespace
}  // namespace brackwen
