// Starting, feeding, draining, cancelling and reaping children; git run on top of that, the
// credentials its children see, and actions: polling, output lines, how failures are told.
#include "git/process.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <thread>

#include "git/action_starters.hpp"
#include "git/credentials.hpp"
#include "git/reading/request_budget.hpp"
#include "git/run_git.hpp"
#include "git/run_git_action.hpp"
#include "stores/stores.hpp"
#include "support/git_recorder.hpp"
#include "support/requests.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::TempDir;

// The stall limit of the tests: long beside the time a child waits for the CPU on a busy machine
// (a tenth of a second and more), which counts as silence, and short beside the children that
// outlast it.
constexpr std::chrono::milliseconds TEST_STALL_LIMIT{1000};

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
  // Children that never end by themselves and never notice that their pipes were closed (tail
  // -f would): only the kill ends them.
  const std::string forever = "echo ready; exec sleep 600";
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
      {{"sleep", "600"}, "/", Stop::CancelWithoutOutput, std::nullopt},
      {{"sh", "-c", forever}, "/", Stop::ThrowOnOutput, std::nullopt},
  };
  size_t before = test::open_descriptors();
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
    EXPECT_EQ(test::open_descriptors(), before) << i;
  }
}

// A stall limit ends a child that neither prints nor works, with whatever its shell started
// (a background sleep holding the pipes leaves its pid in "pid"), and spares one that is busy
// in silence or prints now and then, for twice the limit. A data limit fails the allocations
// past it.
TEST(StreamProcess, Limits) {
  const ProcessLimits stall{TEST_STALL_LIMIT}, data{std::chrono::milliseconds(0), 16 << 20};
  const std::string allocate = "x=$(head -c 50000000 /dev/zero | tr '\\0' a); echo ${#x}";
  struct Case {
    std::vector<std::string> argv;
    ProcessLimits limits;
    std::optional<std::string> out;  // absent: no StreamEnd
    int error = 0;                   // errno when absent
    bool succeeds = true;            // exit status 0
    bool out_to_file = false;
  } cases[] = {
      {{"sh", "-c", "sleep 5 & echo $! > pid; wait"}, stall, std::nullopt, ETIMEDOUT},
      {{"sh", "-c", "sleep 5 & echo $! > pid; wait"}, stall, std::nullopt, ETIMEDOUT, true, true},
      {{"bash", "-c",
        "end=$((${EPOCHREALTIME/./} + 2000000)); while ((${EPOCHREALTIME/./} < end)); do :; done; "
        "echo busy"},
       stall,
       "busy\n"},
      {{"sh", "-c", "for i in 1 2 3 4 5 6 7 8; do sleep 0.25; echo $i; done"},
       stall,
       "1\n2\n3\n4\n5\n6\n7\n8\n"},
      {{"sh", "-c", allocate}, {}, "50000000\n"},
      {{"sh", "-c", allocate}, data, "", 0, false},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::string out;
    StreamHandlers handlers;
    handlers.on_out = [&](std::string_view bytes) { out.append(bytes); };
    handlers.limits = c.limits;
    handlers.out_to_file = c.out_to_file;
    std::optional<StreamEnd> end = stream_process(c.argv, dir.str(), handlers);
    EXPECT_EQ(end ? c.error : errno, c.error) << c.argv.back();
    EXPECT_EQ(end ? std::optional(out) : std::nullopt, c.out) << c.argv.back();
    EXPECT_EQ(end && end->status == 0, end && c.succeeds) << c.argv.back();
    std::string grandchild = test::read_file(dir.path / "pid");
    if (!grandchild.empty()) {
      EXPECT_TRUE(test::eventually([&] { return test::process_ended(std::stoi(grandchild)); },
                                   std::chrono::seconds(2)));
    }
  }
}

// A background job that holds none of the pipes outlives a run that ends by itself, unless the
// run is a reading one: then what is left of its group is killed as it ends.
TEST(StreamProcess, AReadingRunsGroupEndsWithIt) {
  const std::string script = "sleep 600 </dev/null >/dev/null 2>&1 & echo $! > pid";
  for (bool reading : {false, true}) {
    TempDir dir;
    ProcessLimits limits;
    limits.outlived_by_nothing = reading;
    auto run = run_process({"sh", "-c", script}, dir.str(), {}, limits);
    ASSERT_TRUE(run && run->status == 0);
    pid_t job = std::stoi(test::read_file(dir.path / "pid"));
    if (reading)
      EXPECT_TRUE(
          test::eventually([&] { return test::process_ended(job); }, std::chrono::seconds(2)));
    else
      EXPECT_FALSE(test::process_ended(job));
    ::kill(job, SIGKILL);
  }
}

// Once the stall limit has ended one run of a request, the request's next run is refused before
// it starts; a run of another request starts as usual.
TEST(StreamProcess, ARequestThatStalledOnceStartsNoMoreRuns) {
  const ProcessLimits stall{TEST_STALL_LIMIT};
  RequestBudget stalled_request;
  ProcessLimits first = stall, same = stall, other = stall;
  RequestBudget other_request;
  first.request = same.request = &stalled_request;
  other.request = &other_request;
  TempDir dir;
  EXPECT_FALSE(run_process({"sh", "-c", "sleep 5"}, dir.str(), {}, first));
  EXPECT_EQ(errno, ETIMEDOUT);
  const std::vector<std::string> starts = {"sh", "-c", "echo started >> started"};
  EXPECT_FALSE(run_process(starts, dir.str(), {}, same));
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_TRUE(run_process(starts, dir.str(), {}, other));
  EXPECT_EQ(test::read_file(dir.path / "started"), "started\n");
}

// A request's cap ends its runs under way when it passes, one busy in silence and one that
// prints now and then (the stall rule spares both), and refuses its later runs.
TEST(StreamProcess, ARequestPastItsCapEndsItsRunsAndStartsNoMore) {
  RequestBudget request(std::chrono::seconds(1));
  ProcessLimits limits{TEST_STALL_LIMIT};
  limits.request = &request;
  TempDir dir;
  const std::vector<std::string> runs[] = {{"sh", "-c", "while :; do :; done"},
                                           {"sh", "-c", "while :; do echo; sleep 0.1; done"}};
  int errors[std::size(runs)] = {};
  std::vector<std::thread> threads;
  for (size_t i = 0; i < std::size(runs); ++i) {
    threads.emplace_back(
        [&, i] { errors[i] = run_process(runs[i], dir.str(), {}, limits) ? 0 : errno; });
  }
  for (std::thread& thread : threads) thread.join();
  for (int error : errors) EXPECT_EQ(error, ETIMEDOUT);
  EXPECT_FALSE(run_process({"sh", "-c", "echo started > started"}, dir.str(), {}, limits));
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_FALSE(std::filesystem::exists(dir.path / "started"));
}

// Two runs of one request that each hold less than the budget but more together: the younger
// is ended and starts again once the older has ended, its first output forgotten, so both
// answer whole and one started twice; runs of no request each have the budget to themselves.
TEST(StreamProcess, ARequestsRunsShareOneMemoryBudget) {
  // tail holds the last 40 MB it read until its input ends, a second later.
  const std::string hold =
      "echo >>starts; echo holding; (head -c 40000000 /dev/zero; sleep 1) | tail -c 40000000 "
      ">/dev/null; echo held";
  for (bool shared : {true, false}) {
    RequestBudget request;
    ProcessLimits limits{std::chrono::milliseconds(0), 64 << 20, shared ? &request : nullptr};
    TempDir dir;
    std::atomic<int> whole = 0;
    auto run = [&] {
      auto output = run_process({"sh", "-c", hold}, dir.str(), {}, limits);
      if (output && output->out == "holding\nheld\n") ++whole;
    };
    std::thread first(run), second(run);
    first.join();
    second.join();
    EXPECT_EQ(whole, 2) << shared;
    EXPECT_EQ(test::read_file(dir.path / "starts"), shared ? "\n\n\n" : "\n\n") << shared;
  }
}

// git's arguments and input lines arrive as they are, after the reading options, in its
// directory, with no shell between.
TEST(RunGit, ArgumentsAndInputAsTheyAre) {
  TempDir dir;
  auto spaced = dir.path / "dír with space";
  std::filesystem::create_directory(spaced);
  test::GitRecorder git(R"(pwd; printf '[%s]\n' "$@"; cat)");
  auto out = run_git_with_input(spaced.string(), {"a b", "$(touch x)", "-", "*", "", "it's"},
                                {"'$1' \\n", "`x`"});
  ASSERT_TRUE(out);
  EXPECT_TRUE(out->starts_with(spaced.string() + "\n")) << *out;
  EXPECT_TRUE(out->ends_with("\n[a b]\n[$(touch x)]\n[-]\n[*]\n[]\n[it's]\n'$1' \\n\n`x`\n"))
      << *out;
  EXPECT_FALSE(std::filesystem::exists(spaced / "x"));
}

// A child in the whole environment, as the user's own git commands and their ask-pass get it.
std::optional<std::string> whole_environment_output(const std::vector<std::string>& argv) {
  std::string out;
  StreamHandlers handlers;
  handlers.on_out = [&](std::string_view bytes) { out.append(bytes); };
  handlers.whole_environment = true;
  auto end = stream_process(argv, "/", handlers);
  if (!end || end->status != 0) return std::nullopt;
  return out;
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
    return whole_environment_output({built.string(), prompt}).value_or("<failed>");
  };
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
      auto out =
          whole_environment_output({"sh", "-c", "echo \"$BRACKWEN_USERNAME $BRACKWEN_PASSWORD\""});
      if (out) seen.push_back(*out);
    }
  });
  for (int i = 0; spawned < 400; ++i) set_credentials(i % 2 ? "one" : "two", i % 2 ? "one" : "two");
  spawner.join();
  for (const auto& line : seen) EXPECT_TRUE(line == "one one\n" || line == "two two\n") << line;
}

using test::TempRepo;

// Polls the action until it reports done and returns that last report. Fails the test (and
// returns what was seen) when it has not ended within a minute, so a hang cannot stall a run.
ActionState wait_for_action(ActionId id) {
  ActionState last;
  bool known = true;
  bool ended = test::eventually(
      [&] {
        auto state = poll_action2(id);
        if (state) last = *state;
        known = state.has_value();
        return !known || last.done;
      },
      std::chrono::minutes(1));
  EXPECT_TRUE(known && ended) << "action " << id << (known ? " did not end" : " is not in ACTIONS");
  return last;
}

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

TEST(ActionFailure, BurstsAreJoinedAsOneStream) {
  EXPECT_EQ(classify_failure({"remote: Authentication fa", "iled for 'x'\n"}).kind,
            Kind::Credential);
  EXPECT_EQ(classify_failure({"could not read", " Username"}).kind, Kind::Credential);
  EXPECT_EQ(classify_failure({}).kind, Kind::Git);
}

// The stashing starters in a repository with a staged change to a, an unstaged one to b and
// an untracked c, judged by git's status and then each stash's files (the untracked ones in its
// third parent, which `stash show` lists by itself only from git 2.32 on).
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
                       "list --format=%gd); do printf '|'; { git stash show --name-only $s; "
                       "git ls-tree -r --name-only $s^3 2>/dev/null; } | tr '\\n' ' '; done"),
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
