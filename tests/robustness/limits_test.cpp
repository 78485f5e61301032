// The limits every reading git runs under, seen from the front end: a git that waits for ever
// is ended and the server goes on, once per request; a read is held to the machine's memory
// budget, its processes together, and the reads of a request side by side take turns for it;
// nothing a read starts outlives it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <fstream>

#include "git/process.hpp"
#include "git/reading/read_budget.hpp"
#include "server/handlers/endpoint_table.hpp"
#include "support/server_harness.hpp"

namespace brackwen {
namespace {

using test::ServerProcess;
using test::TempDir;
using test::TempRepo;

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// git opens the FIFO its configuration includes and waits for a writer that never comes. The
// wait is the real 30 s.
TEST(Limits, AReadThatWaitsForEverIsEndedAndTheServerGoesOn) {
  TempRepo stuck, plain;
  stuck.commit_file("a.txt", "1\n", "first");
  std::string head = plain.commit_file("a.txt", "1\n", "first");
  ASSERT_EQ(::mkfifo((stuck.path / ".git/fifo").c_str(), 0600), 0);
  std::ofstream(stuck.path / ".git/config", std::ios::app) << "[include]\n\tpath = fifo\n";
  ServerProcess server;
  EXPECT_EQ(server.post("/f/load_head_commit", test::repo_body(stuck.path)).body, "null");
  // The first git to read the configuration is the lookup before the log.
  std::string line = "git config stopped: no output or activity for 30 s\n";
  EXPECT_EQ(server.stderr_so_far(), line);
  EXPECT_EQ(server.get("/pi").body, "brackwen");
  std::string reply = server.post("/f/load_head_commit", test::repo_body(plain.path)).body;
  EXPECT_NE(reply.find(head), std::string::npos) << reply;
}

// The diff of `second` against its parent `first` in big.txt (or the file named).
std::string load_hunks(const ServerProcess& server, const TempRepo& repo, const std::string& first,
                       const std::string& second, const std::string& file = "big.txt") {
  return server
      .post("/f/load_hunks", test::body({{"repoPath", test::quoted(repo.str())},
                                         {"commit", test::commit_json(second, test::quoted(first))},
                                         {"patch", test::patch_json(second, file, "M")}}))
      .body;
}

// The server's environment where `tool` is found first as git, and finds the real git through
// BRACKWEN_REAL_GIT for what it does not stand in for.
test::Environment git_stand_in(const TempDir& programs, const char* tool, test::Environment extra) {
  std::filesystem::create_symlink(tool, programs.path / "git");
  std::string real_git = test::trimmed(test::sh(programs.path, "command -v git"));
  extra.insert(extra.begin(), {{"PATH", programs.str() + ":" + std::getenv("PATH")},
                               {"BRACKWEN_REAL_GIT", real_git}});
  return extra;
}

// The line a read stopped by the memory budget writes.
std::string memory_line(const std::string& read) {
  return read + " stopped: it needed more memory than a read may take (" +
         std::to_string(read_memory_budget() >> 20) + " MiB)\n";
}

// Two blobs of short lines, one commit each, whose diff would take git over 1.6 times the
// read's budget before its first line (it takes some 33 times a blob). A stand-in for git first
// on the server's PATH notes the resident size of each git it runs.
TEST(Limits, ADiffOfHugeBlobsIsHeldToItsMemory) {
  constexpr uint64_t LEAST_BLOB = 100'000'000;
  constexpr uint64_t LARGEST_BUDGET = uint64_t{8} << 30;
  uint64_t budget = read_memory_budget();
  if (budget > LARGEST_BUDGET)
    GTEST_SKIP() << "a diff past this machine's budget (" << (budget >> 20)
                 << " MiB) takes minutes";
  uint64_t blob = std::max(LEAST_BLOB, budget / 20);
  TempRepo repo;
  auto ids = test::sh(repo.path,
                      "for word in hello world; do git update-index --add --cacheinfo "
                      "100644,$(yes $word | head -c " +
                          std::to_string(blob) +
                          " | git hash-object -w --stdin),big.txt && git commit -qm "
                          "$word && git rev-parse HEAD; done");
  std::string first = ids.substr(0, 40), second = ids.substr(41, 40);
  TempDir programs;
  auto peaks = programs.path / "peaks";
  ServerProcess server(
      git_stand_in(programs, BRACKWEN_PEAK_GIT, {{"BRACKWEN_PEAK_LOG", peaks.string()}}));
  EXPECT_EQ(load_hunks(server, repo, first, second), "null");
  EXPECT_EQ(server.stderr_so_far(), memory_line("git diff"));
  std::ifstream log(peaks);
  uint64_t peak_kib = 0;
  for (uint64_t kib; log >> kib;) peak_kib = std::max(peak_kib, kib);
  EXPECT_GT(peak_kib, blob >> 10);  // the diff's git was seen: it held a whole blob
  EXPECT_LT(peak_kib, budget >> 10);
}

// A commit that changes one line of a CSV file of 6 million short lines (135 MB): git's diff
// takes some 2.3 GB, more than 1 GiB, and a machine whose budget allows it shows the change.
TEST(Limits, AOneLineChangeInAHugeFileIsShown) {
  constexpr uint64_t NEEDED = uint64_t{3} << 30;
  constexpr int LINES = 6'000'000;
  if (read_memory_budget() < NEEDED)
    GTEST_SKIP() << "the diff needs more than this machine's budget ("
                 << (read_memory_budget() >> 20) << " MiB)";
  std::string csv;
  csv.reserve(size_t{140} << 20);
  size_t changed_at = 0;
  for (int i = 1; i <= LINES; ++i) {
    if (i == LINES / 2) changed_at = csv.size();
    csv += std::to_string(i) + ",item" + std::to_string(i) + "," + std::to_string(i % 97) + "\n";
  }
  TempRepo repo;
  std::vector<std::string> blobs;
  for (std::string line : {"", "changed"}) {
    if (!line.empty()) {
      size_t end = csv.find('\n', changed_at);
      csv.replace(changed_at, end - changed_at, line);
    }
    // Stored uncompressed: writing it is then about as fast as hashing it.
    auto hashed = run_process(
        {"git", "-c", "core.looseCompression=0", "hash-object", "-w", "--stdin"}, repo.str(), csv);
    ASSERT_TRUE(hashed && hashed->status == 0);
    blobs.push_back(test::trimmed(hashed->out));
  }
  csv = std::string();
  auto ids = test::sh(repo.path, "for blob in " + blobs[0] + " " + blobs[1] +
                                     "; do git update-index --add --cacheinfo 100644,$blob,big.csv "
                                     "&& git commit -qm $blob && git rev-parse HEAD; done");
  ServerProcess server;
  std::string hunks = load_hunks(server, repo, ids.substr(0, 40), ids.substr(41, 40), "big.csv");
  EXPECT_NE(hunks.find(R"("text":"changed")"), std::string::npos) << hunks.substr(0, 1000);
  EXPECT_EQ(server.stderr_so_far(), "");
}

// The poll of a diff search over every branch of `repo` for `text`, once it is complete; the
// search reads the commits the history load put in the cache.
std::string diff_search(const ServerProcess& server, const TempRepo& repo,
                        const std::string& text) {
  server.post("/f/load_commits_and_refs", test::body({{"repoPath", test::quoted(repo.str())},
                                                      {"numCommits", "100"},
                                                      {"filters", "[]"},
                                                      {"fast", "false"},
                                                      {"skipStashes", "false"}}));
  return test::completed_diff_search(server, repo.path, test::quoted(text), "100");
}

// On a machine faked to a read budget of 128 MiB, commits that each change one line of a file
// whose diff takes git some 70 % of it: the search's diffs of them, side by side, together pass
// the budget. They take turns: every hit shows its line, and standard error stays silent. The
// line of one more commit, in a file whose diff alone takes twice the budget, is the only one
// missing, and one line tells why.
TEST(Limits, ASearchsDiffsShareTheBudgetAndOnlyOnePastItAloneLacksItsLines) {
  constexpr uint64_t BUDGET_MIB = 128;
  // What git's diff of a file of short lines holds for each line of it, some 320 bytes.
  constexpr uint64_t DIFF_BYTES_PER_LINE = 320;
  constexpr int FITTING = 8;
  uint64_t lines = (BUDGET_MIB << 20) * 70 / 100 / DIFF_BYTES_PER_LINE;
  TempRepo repo;
  std::string ids = test::sh(
      repo.path, "seq -f L%.0f " + std::to_string(lines) + " >fits.txt && seq -f L%.0f " +
                     std::to_string(lines * 3) +
                     " >alone.txt && git add . && git commit -qm base && for k in $(seq " +
                     std::to_string(FITTING) +
                     "); do sed -i \"${k}00s/.*/needle fits $k/\" fits.txt && git commit -qam "
                     "fits$k && git rev-parse HEAD; done && sed -i '100s/.*/needle alone/' "
                     "alone.txt && git commit -qam alone && git rev-parse HEAD");
  std::vector<std::string> fitting;
  for (int k = 0; k < FITTING; ++k) fitting.push_back(ids.substr(41 * k, 40));
  std::string alone = ids.substr(41 * FITTING, 40);
  struct Case {
    std::string text;
    std::vector<std::string> hits_without_lines;
    std::string err;
  } cases[] = {
      {"needle fits", {}, ""},
      {"needle",
       {alone},
       "git diff stopped: it needed more memory than a read may take (128 MiB)\n"},
  };
  for (const Case& c : cases) {
    ServerProcess server({{"BRACKWEN_READ_BUDGET_MIB", std::to_string(BUDGET_MIB)}});
    std::string poll = diff_search(server, repo, c.text);
    for (int k = 0; k < FITTING; ++k) {
      std::string shown = "\"+\",\"oldNum\":null,\"newNum\":" + std::to_string((k + 1) * 100) +
                          ",\"hunkIndex\":0,\"text\":\"needle fits " + std::to_string(k + 1) + "\"";
      EXPECT_EQ(count(poll, "[\"" + fitting[k] + "\",[{\"patch\""), 1u) << c.text << poll;
      EXPECT_EQ(count(poll, shown), 1u) << c.text << " " << k << poll;
    }
    for (const std::string& id : c.hits_without_lines)
      EXPECT_EQ(count(poll, "[\"" + id + "\",[]]"), 1u) << c.text << poll;
    EXPECT_EQ(count(poll, "[\""), FITTING + c.hits_without_lines.size()) << c.text << poll;
    EXPECT_EQ(server.stderr_so_far(), c.err) << c.text;
  }
}

// git's words of an allocation that failed tell only where they start its message: a branch
// named with them is a read that failed for want of the branch, and says nothing of memory.
TEST(Limits, ANameThatHoldsGitsMemoryWordsIsNoMemoryVerdict) {
  TempRepo repo;
  repo.commit_file("a.txt", "1\n", "first");
  ServerProcess server;
  std::string reply =
      server
          .post("/f/load_top_commit_for_branch",
                test::body({{"repoPath", test::quoted(repo.str())},
                            {"branchName", test::quoted("Out of memory, malloc failed")}}))
          .body;
  EXPECT_EQ(reply, "null");
  EXPECT_EQ(server.stderr_so_far(), "");
}

// A stand-in for git whose log becomes three processes, each mapping 60 % of the budget without
// touching it: each stays under its own limit and costs no memory, together they pass the
// budget. They write on standard error all the while, so the stall rule never ends them.
TEST(Limits, ProcessesThatTogetherPassTheBudgetAreEnded) {
  TempRepo repo;
  repo.commit_file("a.txt", "1\n", "first");
  TempDir programs;
  auto pids = programs.path / "pids";
  ServerProcess server(
      git_stand_in(programs, BRACKWEN_HOARD_GIT,
                   {{"BRACKWEN_HOARD_SUBCOMMAND", "log"}, {"BRACKWEN_HOARD_PIDS", pids.string()}}));
  EXPECT_EQ(server.post("/f/load_head_commit", test::repo_body(repo.path)).body, "null");
  EXPECT_EQ(server.stderr_so_far(), memory_line("git log"));
  std::vector<pid_t> hoarders;
  std::ifstream listed(pids);
  for (pid_t pid; listed >> pid;) hoarders.push_back(pid);
  EXPECT_GE(hoarders.size(), 2u);
  for (pid_t pid : hoarders) {
    EXPECT_TRUE(test::eventually([&] { return test::process_ended(pid); }, std::chrono::seconds(5)))
        << pid;
  }
  EXPECT_EQ(server.get("/pi").body, "brackwen");
}

// 32 gitlinks whose ".git" files all name one git dir, whose configuration includes a FIFO: the
// read of each submodule's settings waits for a writer that never comes. The request runs out
// of time once, after the real 30 s: its other reads end or are refused, and one line says so.
TEST(Limits, ARequestWhoseReadsAllWaitRunsOutOfTimeOnce) {
  constexpr int GITLINKS = 32;
  TempRepo repo, shared;
  std::string head = repo.commit_file("a.txt", "1\n", "first");
  ASSERT_EQ(::mkfifo((shared.path / ".git/fifo").c_str(), 0600), 0);
  std::ofstream(shared.path / ".git/config", std::ios::app) << "[include]\n\tpath = fifo\n";
  std::string links;
  for (int i = 0; i < GITLINKS; ++i) {
    std::string sub = "sub" + std::to_string(i);
    repo.write(sub + "/.git", "gitdir: " + (shared.path / ".git").string() + "\n");
    links += " && git update-index --add --cacheinfo 160000," + head + "," + sub;
  }
  test::sh(repo.path, "true" + links);
  ServerProcess server;
  auto reply = server.post("/f/load_wip_patches", test::repo_body(repo.path));
  EXPECT_EQ(reply.status, 200);
  // The first git to read a submodule's configuration is the lookup of where it lies.
  std::string line = "git rev-parse stopped: no output or activity for 30 s\n";
  EXPECT_EQ(server.stderr_so_far(), line);
  EXPECT_EQ(server.get("/pi").body, "brackwen");
}

// A partial clone lacks a blob, and the user's own ssh command, which the lazy fetch runs,
// starts a process that detaches from everything (as a daemon or an ssh master does), then
// fails. That process does not outlive the read.
TEST(Limits, NothingAReadStartsOutlivesIt) {
  TempRepo repo;
  std::string c1 = repo.commit_file("f.txt", "one\n", "first");
  std::string c2 = repo.commit_file("f.txt", "one\ntwo\n", "second");
  std::string blob = test::trimmed(test::git(repo.path, {"rev-parse", c1 + ":f.txt"}));
  std::filesystem::remove(repo.path / ".git/objects" / blob.substr(0, 2) / blob.substr(2));
  test::sh(repo.path,
           "git config core.repositoryformatversion 1 && git config extensions.partialClone "
           "origin && git config remote.origin.promisor true && git config remote.origin.url "
           "ssh://example.invalid/r");
  TempDir programs;
  auto detached = programs.path / "detached";
  auto ssh = programs.path / "my-ssh";
  std::ofstream(ssh) << "#!/bin/sh\nsetsid sleep 600 </dev/null >/dev/null 2>&1 &\necho $! >> "
                     << test::shell_quoted(detached.string()) << "\nexit 1\n";
  std::filesystem::permissions(ssh, std::filesystem::perms::owner_all);
  ServerProcess server;
  std::ofstream(server.home / ".gitconfig") << "[core]\n\tsshCommand = " << ssh.string() << "\n";
  EXPECT_EQ(
      server
          .post("/f/load_hunks", test::body({{"repoPath", test::quoted(repo.str())},
                                             {"commit", test::commit_json(c2, test::quoted(c1))},
                                             {"patch", test::patch_json(c2, "f.txt", "M")}}))
          .status,
      200);
  // git may try the fetch more than once.
  std::vector<pid_t> started;
  std::ifstream listed(detached);
  for (pid_t pid; listed >> pid;) started.push_back(pid);
  EXPECT_FALSE(started.empty());
  for (pid_t pid : started) {
    EXPECT_TRUE(test::eventually([&] { return test::process_ended(pid); }, std::chrono::seconds(5)))
        << pid;
    ::kill(pid, SIGKILL);
  }
}

}  // namespace
}  // namespace brackwen
