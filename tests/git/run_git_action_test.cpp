// Actions against real git: polling while git runs, output lines, and how failures are told.
#include "git/run_git_action.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>

#include "git/action_starters.hpp"
#include "stores/stores.hpp"
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
      // clang-format off
      {"printf 'crlf\\r\\ncr2\\r\\r\\nmid\\rcr\\n\\n\\n\\303\\274n\\303\\257\\n\\377bad\\n" + long_line + "\\nlast'",
       {"crlf", "cr2\r", "mid\rcr", "", "", "\xc3\xbcn\xc3\xaf", long_line, "last"}, "", std::nullopt},
      {"seq 1 200000; seq 1 100000 >&2; echo end; seq 1 100000 >&2", many,
       concat(numbers(100000), "\n") + concat(numbers(100000), "\n"), std::nullopt},
      // The last words of a failing git arrive after it has exited.
      {"echo progress >&2; echo '" + auth + "' >&2; exit 1", {}, "progress\n" + auth + "\n", ActionError{Kind::Credential, {}}},
      {"printf 'remote: nope\\nfatal: Authentication failed for http://h/r\\n' >&2; exit 128", {}, std::nullopt, ActionError{Kind::Credential, {}}},
      {"printf 'fatal: could not read Username for x: terminal prompts disabled' >&2; exit 128", {}, std::nullopt, ActionError{Kind::Credential, {}}},
      {"echo 'remote: Invalid username or password.' >&2; exit 1", {}, std::nullopt, ActionError{Kind::Credential, {}}},
      {"echo 'fatal: authentication failed for x' >&2; exit 1", {}, std::nullopt, ActionError{Kind::Git, {}}},
      {"echo 'fatal: something else' >&2; exit 2", {}, std::nullopt, ActionError{Kind::Git, {}}},
      {"kill -9 $PPID", {}, std::nullopt, ActionError{Kind::Git, {}}},
      {"echo '" + auth + "' >&2", {}, std::nullopt, std::nullopt},
      // clang-format on
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

// The front end shows the system's own words for a git that cannot start.
TEST(ActionFailure, GitThatCannotStartIsAnIoErrorWithTheSystemsText) {
  TempRepo repo;
  repo.write("file", "x");
  for (const auto& [dir, error] :
       {std::pair{repo.str() + "/missing", ENOENT}, {repo.str() + "/file", ENOTDIR}}) {
    EXPECT_EQ(wait_for_action(start_git_action(dir, {"status"})).error,
              (ActionError{Kind::IO, std::strerror(error)}))
        << dir;
  }
}

TEST(ActionFailure, BurstsAreJoinedAsOneStream) {
  EXPECT_EQ(classify_failure({"remote: Authentication fa", "iled for 'x'\n"}).kind,
            Kind::Credential);
  EXPECT_EQ(classify_failure({"could not read", " Username"}).kind, Kind::Credential);
  EXPECT_EQ(classify_failure({}).kind, Kind::Git);
}

// The stashing starters in a repository with a staged change to a, an unstaged one to b and
// an untracked c, judged by git's status and then each stash's files.
TEST(ActionStarters, Stashes) {
  using Start = std::function<ActionId(const std::string&, const std::string&)>;
  Start stash_all = [](auto& repo, auto&) { return stash_changes(repo); };
  struct Case {
    std::string setup;
    Start start;
    std::string shown;
    bool fails = false;
  } cases[] = {
      {"", stash_all, "|a b c "},
      {"", stash_staged, " M b ?? c |a "},
      // With nothing but staged changes the stash made before is left alone.
      {"git stash push -q -- b && rm c", stash_staged, "|a |a b "},
      {"git reset -q && git stash push -q -- b && rm c", stash_staged, " M a |b ", true},
  };
  for (const Case& c : cases) {
    TempRepo repo;
    test::sh(repo.path,
             "echo a > a && echo b > b && git add . && git commit -qm ab && echo a2 > a "
             "&& git add a && echo b2 > b && echo c > c" +
                 (c.setup.empty() ? "" : " && " + c.setup));
    std::string head = test::trimmed(test::git(repo.path, {"rev-parse", "HEAD"}));
    EXPECT_EQ(wait_for_action(c.start(repo.str(), head)).error.has_value(), c.fails) << c.setup;
    EXPECT_EQ(test::sh(repo.path,
                       "git status --porcelain | tr '\\n' ' '; for s in $(git stash "
                       "list --format=%gd); do printf '|'; git stash show "
                       "--include-untracked --name-only $s | tr '\\n' ' '; done"),
              c.shown)
        << c.setup;
    EXPECT_EQ(test::trimmed(test::git(repo.path, {"rev-parse", "HEAD"})), head);
  }
}

// A fetch prunes branches gone from the remote; a command marks a watched repository changed
// even when it fails.
TEST(ActionStarters, FetchPrunesAndCommandsMarkTheRepository) {
  TempRepo origin;
  origin.commit_file("a", "1", "one");
  test::git(origin.path, {"branch", "extra"});
  test::TempDir dir;
  test::git(dir.path, {"clone", "-q", origin.str(), "clone"});
  test::git(origin.path, {"branch", "-D", "extra"});
  std::string top = origin.commit_file("a", "2", "two");
  auto clone = dir.path / "clone";
  EXPECT_FALSE(wait_for_action(fetch_all(clone.string())).error);
  EXPECT_EQ(test::git(clone, {"rev-parse", "origin/main"}), top + "\n");
  EXPECT_EQ(test::git(clone, {"branch", "-r", "--list", "origin/extra"}), "");

  set_repo_changed({{origin.str(), false}, {"/other", false}});
  wait_for_action(start_command(origin.str(), {"rev-parse", "--verify", "nope"}));
  wait_for_action(start_commands("/other", {}));
  EXPECT_EQ(get_repo_changed(),
            (std::unordered_map<std::string, bool>{{origin.str(), true}, {"/other", true}}));
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
