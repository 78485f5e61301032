// Starting, feeding, draining, cancelling and reaping children; git run on top of that, and
// the credentials its children see.
#include "git/process.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "git/credentials.hpp"
#include "git/run_git.hpp"
#include "support/git_recorder.hpp"

namespace brackwen {
namespace {

using test::TempDir;

TEST(RunProcess, Table) {
  std::string big(5000000, 'i');
  struct Case {
    std::string script, input;
    ProcessOutput expected;
    bool ignore_sigpipe = false;
  } cases[] = {
      {"printf out; printf err >&2; exit 3", "", {"out", "err", 3}},
      {"cat", big, {big, "", 0}},
      // A child that never reads its input must not raise SIGPIPE in this process.
      {"true", big, {"", "", 0}},
      // Opening /dev/tty is how ssh asks for a password or a host key; it must fail at once.
      {"(: </dev/tty) 2>/dev/null && echo tty || echo none", "", {"none\n", "", 0}},
      {"head -c 5000000 /dev/zero | tr '\\0' o & head -c 3000000 /dev/zero >&2; wait",
       "",
       {std::string(5000000, 'o'), std::string(3000000, '\0'), 0}},
      // `leaked` is open here without close-on-exec.
      {"ls /proc/$$/fd", "", {"0\n1\n2\n", "", 0}},
      // With SIGPIPE ignored, yes would complain about a broken pipe instead of dying quietly.
      {"yes | head -n 1", "", {"y\n", "", 0}, true},
      {"printf %s \"$BRACKWEN_TEST_VAR\"", "", {"a b=c", "", 0}},
  };
  ASSERT_TRUE(set_environment("BRACKWEN_TEST_VAR", "a b=c"));
  int leaked = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(leaked, 3);
  for (const Case& c : cases) {
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = c.ignore_sigpipe ? SIG_IGN : SIG_DFL;
    ::sigaction(SIGPIPE, &ignore, &old);
    auto r = run_process({"sh", "-c", c.script}, "/", c.input);
    ::sigaction(SIGPIPE, &old, nullptr);
    ASSERT_TRUE(r) << c.script;
    EXPECT_TRUE(r->out == c.expected.out) << c.script;
    EXPECT_TRUE(r->err == c.expected.err) << c.script;
    EXPECT_EQ(r->status, c.expected.status) << c.script;
  }
  ::close(leaked);
}

TEST(Environment, NulAndEqualsAreRefused) {
  ASSERT_TRUE(set_environment("BRACKWEN_TEST_VAR", "kept"));
  EXPECT_FALSE(set_environment("BRACKWEN_TEST_VAR", std::string("x\0y", 3)));
  EXPECT_FALSE(set_environment(std::string("BRACKWEN_TEST_VAR\0X", 19), "x"));
  EXPECT_FALSE(set_environment("A=B", "x"));
  EXPECT_FALSE(set_environment("", "x"));
  EXPECT_EQ(get_environment("BRACKWEN_TEST_VAR"), "kept");
}

// The child goes on only once the callback has seen its first line: "go" is a FIFO the child
// reads, which the callback opens and closes.
TEST(StreamProcess, RawBytesArriveWhileTheChildRuns) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir.path / "go").c_str(), 0600), 0);
  std::string out;
  StreamHandlers handlers;
  handlers.on_out = [&](std::string_view bytes) {
    out.append(bytes);
    if (out == "ready\n") std::ofstream(dir.path / "go").close();
  };
  auto end =
      stream_process({"sh", "-c", "echo ready; cat go; printf 'a\\0\\377'"}, dir.str(), handlers);
  ASSERT_TRUE(end);
  EXPECT_EQ(out, std::string("ready\na\0\377", 9));
  EXPECT_EQ(end->status, 0);
}

// Two writes to standard error with a handshake between them come in one read, and a pause of
// an hour ends when the child does.
TEST(StreamProcess, StandardErrorPauseGathersWritesUntilTheChildEnds) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir.path / "go").c_str(), 0600), 0);
  std::vector<std::string> reads;
  StreamHandlers handlers;
  handlers.on_out = [&](std::string_view) { std::ofstream(dir.path / "go").close(); };
  handlers.on_err = [&](std::string_view bytes) { reads.emplace_back(bytes); };
  handlers.err_pause = std::chrono::hours(1);
  auto end = stream_process({"sh", "-c", "printf a >&2; echo wrote; cat go; printf b >&2"},
                            dir.str(), handlers);
  ASSERT_TRUE(end);
  EXPECT_EQ(reads, std::vector<std::string>{"ab"});
}

size_t open_descriptors() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                       std::filesystem::directory_iterator{});
}

// Start failures included. A child that is not killed never ends, and the test would hang.
TEST(StreamProcess, EveryWayOutLeavesNoChildAndNoDescriptor) {
  TempDir dir;
  std::ofstream(dir.path / "plain") << "not a directory";
  enum class Stop { None, CancelOnOutput, CancelWithoutOutput, ThrowOnOutput };
  struct Case {
    std::vector<std::string> argv;
    std::string cwd;
    Stop stop;
    std::optional<int> status;  // absent: no StreamEnd
  };
  const std::string forever = "echo ready; exec tail -f /dev/null";
  const Case cases[] = {
      {{"sh", "-c", "echo out; echo err >&2; exit 3"}, "/", Stop::None, 3},
      {{"sh", "-c", "kill -9 $$"}, "/", Stop::None, 128 + SIGKILL},
      {{}, "/", Stop::None, std::nullopt},
      {{"no-such-program-brackwen"}, "/", Stop::None, std::nullopt},
      {{"true"}, (dir.path / "missing").string(), Stop::None, std::nullopt},
      {{"true"}, "", Stop::None, std::nullopt},
      {{"true"}, (dir.path / "plain").string(), Stop::None, std::nullopt},
      {{std::string("true\0x", 6)}, "/", Stop::None, std::nullopt},
      {{"echo", std::string("a\0b", 3)}, "/", Stop::None, std::nullopt},
      {{"true"}, std::string("/\0tmp", 5), Stop::None, std::nullopt},
      {{"sh", "-c", forever}, "/", Stop::CancelOnOutput, std::nullopt},
      {{"tail", "-f", "/dev/null"}, "/", Stop::CancelWithoutOutput, std::nullopt},
      {{"sh", "-c", forever}, "/", Stop::ThrowOnOutput, std::nullopt},
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

// git's arguments and input lines arrive as they are, in its directory, with no shell between.
TEST(RunGit, ArgumentsAndInputAsTheyAre) {
  TempDir dir;
  auto spaced = dir.path / "dír with space";
  std::filesystem::create_directory(spaced);
  test::GitRecorder git(R"(pwd; printf '[%s]\n' "$@"; cat)");
  EXPECT_EQ(run_git_with_input(spaced.string(), {"a b", "$(touch x)", "-", "*", "", "it's"},
                               {"'$1' \\n", "`x`"}),
            spaced.string() + "\n[a b]\n[$(touch x)]\n[-]\n[*]\n[]\n[it's]\n'$1' \\n\n`x`\n");
  EXPECT_FALSE(std::filesystem::exists(spaced / "x"));
}

TEST(AskPassPath, IsTwoLevelsAboveTheExecutable) {
  EXPECT_EQ(ask_pass_path("/A/B/C/core"), std::filesystem::path("/A/B/ask-pass/ask-pass"));
  EXPECT_EQ(ask_pass_path("/A/core"), std::filesystem::path("/ask-pass/ask-pass"));
  EXPECT_EQ(ask_pass_path("/core"), std::nullopt);
  EXPECT_EQ(ask_pass_path("core"), std::nullopt);
}

// The ask-pass program built beside the tests answers from the variables set_credentials sets.
TEST(Credentials, AskPassAnswersFromTheVariablesAndANulChangesNothing) {
  auto built = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() /
               "ask-pass" / "ask-pass";
  ASSERT_TRUE(set_credentials("tester", "s3cret"));
  EXPECT_EQ(get_environment("GIT_ASKPASS"), built.string());
  EXPECT_FALSE(set_credentials(std::string("a\0b", 3), "other"));
  EXPECT_FALSE(set_credentials("other", std::string("a\0b", 3)));
  auto ask = [&](const std::string& prompt) {
    auto out = run_process({built.string(), prompt}, "/");
    return out && out->status == 0 ? out->out : "<failed>";
  };
  EXPECT_EQ(ask("Username for 'http://127.0.0.1:1': "), "tester\n");
  EXPECT_EQ(ask("Password for 'http://tester@127.0.0.1:1': "), "s3cret\n");
  EXPECT_EQ(ask("Enter passphrase: "), "s3cret\n");
  {
    auto lock = environment_lock();
    unsetenv("BRACKWEN_USERNAME");
  }
  EXPECT_EQ(ask("Username for 'http://127.0.0.1:1': "), "<failed>");
}

// A git started while the credentials change gets the old pair or the new one, never the new
// user name with the old password.
TEST(Credentials, ChildrenNeverSeeHalfAPair) {
  std::atomic<int> spawned = 0;
  std::vector<std::string> seen;
  set_credentials("two", "two");  // the first child may start before the loop below
  std::thread spawner([&] {
    for (; spawned < 400; ++spawned) {
      auto out = run_process({"sh", "-c", "echo \"$BRACKWEN_USERNAME $BRACKWEN_PASSWORD\""}, "/");
      if (out) seen.push_back(out->out);
    }
  });
  for (int i = 0; spawned < 400; ++i) set_credentials(i % 2 ? "one" : "two", i % 2 ? "one" : "two");
  spawner.join();
  for (const auto& line : seen) EXPECT_TRUE(line == "one one\n" || line == "two two\n") << line;
}

}  // namespace
}  // namespace brackwen
