#include "git/process.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <stdexcept>

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

TEST(RunProcess, StandardInputIsTheCallersInputOrEmpty) {
  // 5 MB echoed back fills both pipes at once; a child that never reads must not raise
  // SIGPIPE in this process (its default would end the test run).
  std::string big(5000000, 'i');
  struct Case {
    std::vector<std::string> argv;
    std::string input, out;
  } cases[] = {{{"cat"}, "", ""}, {{"cat"}, big, big}, {{"true"}, big, ""}};
  for (const Case& c : cases) {
    auto r = run_process(c.argv, "/", c.input);
    ASSERT_TRUE(r) << c.argv[0];
    EXPECT_EQ(r->out.size(), c.out.size()) << c.argv[0];
    EXPECT_EQ(r->out == c.out, true) << c.argv[0];
    EXPECT_EQ(r->status, 0) << c.argv[0];
  }
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

// The child goes on only once the callback has seen its first line.
TEST(StreamProcess, RawBytesArriveWhileTheChildRuns) {
  test::TempDir dir;
  std::string out;
  StreamHandlers handlers;
  handlers.on_out = [&](std::string_view bytes) {
    out.append(bytes);
    if (out == "ready\n") std::ofstream(dir.path / "go");
  };
  auto end = stream_process(
      {"sh", "-c", "echo ready; until [ -e go ]; do sleep 0.01; done; printf 'a\\0\\377'"},
      dir.str(), handlers);
  ASSERT_TRUE(end);
  EXPECT_EQ(out, std::string("ready\na\0\377", 9));
  EXPECT_EQ(end->status, 0);
}

// Two writes to standard error with a handshake between them come in one read, and a pause of
// an hour ends when the child does.
TEST(StreamProcess, StandardErrorPauseGathersWritesUntilTheChildEnds) {
  test::TempDir dir;
  std::vector<std::string> reads;
  StreamHandlers handlers;
  handlers.on_out = [&](std::string_view) { std::ofstream(dir.path / "go"); };
  handlers.on_err = [&](std::string_view bytes) { reads.emplace_back(bytes); };
  handlers.err_pause = std::chrono::hours(1);
  auto end = stream_process(
      {"sh", "-c", "printf a >&2; echo wrote; until [ -e go ]; do sleep 0.01; done; printf b >&2"},
      dir.str(), handlers);
  ASSERT_TRUE(end);
  EXPECT_EQ(reads, std::vector<std::string>{"ab"});
}

size_t open_descriptors() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                       std::filesystem::directory_iterator{});
}

// Start failures included. A child that is not killed sleeps for ten minutes, which the test
// would wait for.
TEST(StreamProcess, EveryWayOutLeavesNoChildAndNoDescriptor) {
  test::TempDir dir;
  enum class Stop { None, CancelOnOutput, CancelWithoutOutput, ThrowOnOutput };
  struct Case {
    std::vector<std::string> argv;
    std::string cwd;
    Stop stop;
    std::optional<int> status;  // absent: no StreamEnd
  };
  const Case cases[] = {
      {{"sh", "-c", "echo out; echo err >&2; exit 3"}, "/", Stop::None, 3},
      {{"sh", "-c", "kill -9 $$"}, "/", Stop::None, 128 + SIGKILL},
      {{}, "/", Stop::None, std::nullopt},
      {{"no-such-program-brackwen"}, "/", Stop::None, std::nullopt},
      {{"true"}, (dir.path / "missing").string(), Stop::None, std::nullopt},
      {{"true"}, "", Stop::None, std::nullopt},
      {{std::string("true\0x", 6)}, "/", Stop::None, std::nullopt},
      {{"echo", std::string("a\0b", 3)}, "/", Stop::None, std::nullopt},
      {{"true"}, std::string("/\0tmp", 5), Stop::None, std::nullopt},
      {{"sh", "-c", "echo ready; exec sleep 600"}, "/", Stop::CancelOnOutput, std::nullopt},
      {{"sleep", "600"}, "/", Stop::CancelWithoutOutput, std::nullopt},
      {{"sh", "-c", "echo ready; exec sleep 600"}, "/", Stop::ThrowOnOutput, std::nullopt},
  };
  size_t before = open_descriptors();
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    bool seen = false;
    int checks = 0;
    StreamHandlers handlers;
    handlers.on_out = [&](std::string_view) {
      seen = true;
      if (c.stop == Stop::ThrowOnOutput) throw std::runtime_error("callback failed");
    };
    // The second check of a silent child comes only from the periodic one.
    handlers.cancelled = [&] {
      ++checks;
      return (c.stop == Stop::CancelOnOutput && seen) ||
             (c.stop == Stop::CancelWithoutOutput && checks == 2);
    };
    std::optional<StreamEnd> end;
    bool threw = false;
    try {
      end = stream_process(c.argv, c.cwd, handlers);
    } catch (const std::runtime_error&) {
      threw = true;
    }
    EXPECT_EQ(threw, c.stop == Stop::ThrowOnOutput) << i;
    EXPECT_EQ(end ? std::optional(end->status) : std::nullopt, c.status) << i;
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1) << i;
    EXPECT_EQ(errno, ECHILD) << i;
    EXPECT_EQ(open_descriptors(), before) << i;
  }
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
