// Actions against real git: ids, polling, output lines and bursts, failures and their kinds.
#include "git/run_git_action.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "stores/stores.hpp"
#include "support/actions.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::TempRepo;
using test::wait_for_action;
using Kind = ActionError::Kind;

// A git command that runs `script` through git's shell aliases.
GitCommand shell(const std::string& script) {
  return {"-c", "alias.x=!" + script, "x"};
}

std::string joined(const std::vector<std::string>& parts) {
  std::string all;
  for (const auto& p : parts) all += p;
  return all;
}

TEST(ActionPoll, EmptyCommandListIsDoneAtOnceAndReportedOnce) {
  ActionId id = start_git_actions("/nonexistent", {});
  ActionState done = wait_for_action(id);
  EXPECT_EQ(done, (ActionState{{}, {}, true, std::nullopt}));
  EXPECT_FALSE(poll_action2(id));
  EXPECT_FALSE(poll_action2(4000000000u));
}

// git goes on only once the test has seen its first line.
TEST(ActionPoll, RunningActionIsReportedWholeEachTime) {
  TempRepo repo;
  ActionId id = start_git_action(
      repo.str(), shell("echo started; until [ -e go ]; do sleep 0.01; done; echo later"));
  std::optional<ActionState> seen;
  while ((seen = poll_action2(id)) && seen->stdout_lines.empty()) {
  }
  ASSERT_TRUE(seen);
  EXPECT_FALSE(seen->done);
  EXPECT_FALSE(seen->error);
  EXPECT_EQ(seen->stdout_lines, std::vector<std::string>{"started"});
  repo.write("go", "");
  EXPECT_EQ(wait_for_action(id).stdout_lines, (std::vector<std::string>{"started", "later"}));
}

TEST(ActionOutput, StdoutLinesLoseTheirLineEndOnly) {
  TempRepo repo;
  std::string long_line(20000, 'z');
  ActionId id = start_git_action(
      repo.str(), shell("printf 'crlf\\r\\ncr2\\r\\r\\nmid\\rcr\\n\\n\\n\\303\\274n\\303\\257\\n"
                        "\\377bad\\n" +
                        long_line + "\\nlast'"));
  ActionState state = wait_for_action(id);
  EXPECT_FALSE(state.error);
  EXPECT_EQ(state.stdout_lines, (std::vector<std::string>{"crlf", "cr2\r", "mid\rcr", "", "",
                                                          "\xc3\xbcn\xc3\xaf", long_line, "last"}));
}

TEST(ActionOutput, BigOutputOnBothStreamsDoesNotBlock) {
  TempRepo repo;
  ActionId id = start_git_action(
      repo.str(), shell("seq 1 200000; seq 1 100000 >&2; echo end; seq 1 100000 >&2"));
  ActionState state = wait_for_action(id);
  EXPECT_FALSE(state.error);
  ASSERT_EQ(state.stdout_lines.size(), 200001u);
  EXPECT_EQ(state.stdout_lines.back(), "end");
  std::string err = joined(state.stderr_lines);
  EXPECT_TRUE(err.starts_with("1\n2\n3\n"));
  EXPECT_TRUE(err.ends_with("\n99999\n100000\n"));
  EXPECT_EQ(err.size(), 2 * 588895u);
}

TEST(ActionFailure, KindComesFromStandardError) {
  struct Case {
    std::string script;
    std::optional<ActionError> error;
  };
  const Case cases[] = {
      {"printf 'remote: nope\\nfatal: Authentication failed for http://h/r\\n' >&2; exit 128",
       ActionError{Kind::Credential, {}}},
      {"printf 'fatal: could not read Username for x: terminal prompts disabled' >&2; exit 128",
       ActionError{Kind::Credential, {}}},
      {"echo 'remote: Invalid username or password.' >&2; exit 1",
       ActionError{Kind::Credential, {}}},
      {"echo 'fatal: authentication failed for x' >&2; exit 1", ActionError{Kind::Git, {}}},
      {"echo 'fatal: something else' >&2; exit 2", ActionError{Kind::Git, {}}},
      {"exit 1", ActionError{Kind::Git, {}}},
      {"kill -9 $PPID", ActionError{Kind::Git, {}}},
      {"echo 'Authentication failed for x' >&2", std::nullopt},
  };
  TempRepo repo;
  for (const auto& c : cases) {
    ActionState state = wait_for_action(start_git_action(repo.str(), shell(c.script)));
    EXPECT_TRUE(state.done) << c.script;
    EXPECT_EQ(state.error, c.error) << c.script;
  }
}

TEST(ActionFailure, LastWordsOnStandardErrorAreKept) {
  TempRepo repo;
  for (int i = 0; i < 5; ++i) {
    ActionState state = wait_for_action(start_git_action(
        repo.str(),
        shell("echo progress >&2; echo 'fatal: Authentication failed for x' >&2; exit 1")));
    EXPECT_EQ(joined(state.stderr_lines), "progress\nfatal: Authentication failed for x\n");
    EXPECT_EQ(state.error, (ActionError{Kind::Credential, {}}));
  }
}

TEST(ActionFailure, BurstsAreJoinedAsOneStream) {
  EXPECT_EQ(classify_failure({"remote: Authentication fa", "iled for 'x'\n"}).kind,
            Kind::Credential);
  EXPECT_EQ(classify_failure({"could not read", " Username"}).kind, Kind::Credential);
  EXPECT_EQ(classify_failure({}).kind, Kind::Git);
}

// The message is the system's own wording, which the front end shows as it is.
TEST(ActionFailure, GitThatCannotStartIsAnIoErrorWithTheSystemsText) {
  TempRepo repo;
  repo.write("file", "x");
  struct Case {
    std::string dir;
    std::string message;
  };
  const Case cases[] = {
      {repo.str() + "/missing", std::strerror(ENOENT)},
      {repo.str() + "/file", std::strerror(ENOTDIR)},
  };
  for (const auto& c : cases) {
    ActionState state = wait_for_action(start_git_action(c.dir, {"status"}));
    ASSERT_TRUE(state.error);
    EXPECT_EQ(state.error->kind, Kind::IO);
    EXPECT_EQ(state.error->message, c.message);
  }
  // A NUL cannot reach the system at all; git does not start and the action says so.
  ActionState cut = wait_for_action(start_git_action(repo.str() + std::string("\0x", 2), {}));
  ASSERT_TRUE(cut.error);
  EXPECT_EQ(cut.error->kind, Kind::IO);
  EXPECT_FALSE(cut.error->message.empty());
}

TEST(ActionUpdates, ErrorEndsTheActionAndReplacesAnEarlierOne) {
  set_action(3999999998u, ActionState{});
  add_stdout_log(3999999998u, "out");
  set_action_error(3999999998u, ActionError{Kind::Git, {}});
  set_action_error(3999999998u, ActionError{Kind::IO, "why"});
  EXPECT_EQ(poll_action2(3999999998u),
            (ActionState{{"out"}, {}, true, ActionError{Kind::IO, "why"}}));
}

// Caps the address space so that no thread stack can be mapped, then starts an action.
[[noreturn]] void start_without_room_for_threads() {
  long pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  rlim_t size = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (1 << 20);
  rlimit limit{size, size};
  if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(2);
  ActionId id = start_git_actions("/", {});
  auto state = get_action(id);
  bool ok = state && state->done && state->error && state->error->kind == Kind::IO;
  _exit(ok ? 0 : 1);
}

TEST(ActionThreadDeathTest, ThreadThatCannotStartEndsTheAction) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(start_without_room_for_threads(), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace brackwen
