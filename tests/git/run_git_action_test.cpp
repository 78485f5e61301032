// Actions against real git: polling while git runs, output lines, and how failures are told.
#include "git/run_git_action.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "support/actions.hpp"
#include "support/requests.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::TempRepo;
using test::wait_for_action;
using Kind = ActionError::Kind;
using Lines = std::vector<std::string>;

// A git command that runs `script` through git's shell aliases.
GitCommand shell(const std::string& script) {
  return {"-c", "alias.x=!" + script, "x"};
}

// git goes on only once the test has seen its first line: it waits to read the FIFO "go".
TEST(ActionPoll, RunningActionIsReportedWholeEachTime) {
  TempRepo repo;
  ASSERT_EQ(::mkfifo((repo.path / "go").c_str(), 0600), 0);
  ActionId id = start_git_action(repo.str(), shell("echo started; cat go; echo later"));
  std::optional<ActionState> seen;
  ASSERT_TRUE(test::eventually([&] {
    seen = poll_action2(id);
    return !seen || !seen->stdout_lines.empty();
  }));
  ASSERT_TRUE(seen);
  EXPECT_EQ(*seen, (ActionState{{"started"}, {}, false, std::nullopt}));
  EXPECT_EQ(*poll_action2(id), *seen);
  std::ofstream(repo.path / "go").close();
  EXPECT_EQ(wait_for_action(id).stdout_lines, (Lines{"started", "later"}));
}

Lines numbers(int last) {
  Lines out;
  for (int i = 1; i <= last; ++i) out.push_back(std::to_string(i));
  return out;
}

std::string concat(const Lines& parts, const char* end = "") {
  std::string all;
  for (const auto& p : parts) all += p + end;
  return all;
}

TEST(ActionOutput, LinesStandardErrorAndTheKindOfFailure) {
  std::string long_line(20000, 'z');
  Lines many = numbers(200000);
  many.push_back("end");
  std::string auth = "fatal: Authentication failed for x";
  struct Case {
    std::string script;
    Lines out;
    std::optional<std::string> err;  // absent: not compared
    std::optional<ActionError> error;
  } cases[] = {
      {"printf 'crlf\\r\\ncr2\\r\\r\\nmid\\rcr\\n\\n\\n\\303\\274n\\303\\257\\n\\377bad\\n" +
           long_line + "\\nlast'",
       {"crlf", "cr2\r", "mid\rcr", "", "", "\xc3\xbcn\xc3\xaf", long_line, "last"},
       "",
       std::nullopt},
      {"seq 1 200000; seq 1 100000 >&2; echo end; seq 1 100000 >&2", many,
       concat(numbers(100000), "\n") + concat(numbers(100000), "\n"), std::nullopt},
      // The last words of a failing git arrive after it has exited.
      {"echo progress >&2; echo '" + auth + "' >&2; exit 1",
       {},
       "progress\n" + auth + "\n",
       ActionError{Kind::Credential, {}}},
      {"printf 'remote: nope\\nfatal: Authentication failed for http://h/r\\n' >&2; exit 128",
       {},
       std::nullopt,
       ActionError{Kind::Credential, {}}},
      {"printf 'fatal: could not read Username for x: terminal prompts disabled' >&2; exit 128",
       {},
       std::nullopt,
       ActionError{Kind::Credential, {}}},
      {"echo 'remote: Invalid username or password.' >&2; exit 1",
       {},
       std::nullopt,
       ActionError{Kind::Credential, {}}},
      {"echo 'fatal: authentication failed for x' >&2; exit 1",
       {},
       std::nullopt,
       ActionError{Kind::Git, {}}},
      {"echo 'fatal: something else' >&2; exit 2", {}, std::nullopt, ActionError{Kind::Git, {}}},
      {"kill -9 $PPID", {}, std::nullopt, ActionError{Kind::Git, {}}},
      {"echo '" + auth + "' >&2", {}, std::nullopt, std::nullopt},
  };
  TempRepo repo;
  for (const auto& c : cases) {
    ActionState state = wait_for_action(start_git_action(repo.str(), shell(c.script)));
    EXPECT_TRUE(state.done) << c.script;
    EXPECT_EQ(state.error, c.error) << c.script;
    EXPECT_TRUE(state.stdout_lines == c.out) << c.script;
    EXPECT_TRUE(!c.err || concat(state.stderr_lines) == *c.err) << c.script;
  }
}

TEST(ActionFailure, BurstsAreJoinedAsOneStream) {
  EXPECT_EQ(classify_failure({"remote: Authentication fa", "iled for 'x'\n"}).kind,
            Kind::Credential);
  EXPECT_EQ(classify_failure({"could not read", " Username"}).kind, Kind::Credential);
  EXPECT_EQ(classify_failure({}).kind, Kind::Git);
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
