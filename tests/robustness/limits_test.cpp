// The limits every reading git runs under, seen from the front end: a git that waits for ever
// is ended and the server goes on; a git whose diff would take gigabytes is held to its memory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

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
  EXPECT_TRUE(test::eventually([&] { return count(server.stderr_text(), line) > 0; }));
  EXPECT_EQ(count(server.stderr_text(), "\n"), 1u) << server.stderr_text();
  EXPECT_EQ(count(server.stderr_text(), line), 1u) << server.stderr_text();
  EXPECT_EQ(server.get("/pi").body, "brackwen");
  std::string reply = server.post("/f/load_head_commit", test::repo_body(plain.path)).body;
  EXPECT_NE(reply.find(head), std::string::npos) << reply;
}

// Two blobs of 100 MB of short lines, one commit each: the diff between them would take git
// over 1.5 GB before its first line. A stand-in for git first on the server's PATH notes the
// resident size of each git it runs.
TEST(Limits, ADiffOfHugeBlobsIsHeldToItsMemory) {
  TempRepo repo;
  auto ids = test::sh(repo.path,
                      "for word in hello world; do git update-index --add --cacheinfo "
                      "100644,$(yes $word | head -c 100000000 | git hash-object -w "
                      "--stdin),big.txt && git commit -qm $word && git rev-parse HEAD; "
                      "done");
  std::string first = ids.substr(0, 40), second = ids.substr(41, 40);
  TempDir programs;
  std::filesystem::create_symlink(BRACKWEN_PEAK_GIT, programs.path / "git");
  std::string real_git = test::trimmed(test::sh(programs.path, "command -v git"));
  auto peaks = programs.path / "peaks";
  ServerProcess server({{"PATH", programs.str() + ":" + std::getenv("PATH")},
                        {"BRACKWEN_REAL_GIT", real_git},
                        {"BRACKWEN_PEAK_LOG", peaks.string()}});
  std::string hunks =
      server
          .post("/f/load_hunks",
                test::body({{"repoPath", test::quoted(repo.str())},
                            {"commit", test::commit_json(second, test::quoted(first))},
                            {"patch", test::patch_json(second, "big.txt", "M")}}))
          .body;
  EXPECT_EQ(hunks, "null");
  std::ifstream log(peaks);
  size_t peak_kib = 0;
  for (size_t kib; log >> kib;) peak_kib = std::max(peak_kib, kib);
  EXPECT_GT(peak_kib, size_t{100} << 10);  // the diff's git was seen: it held a whole blob
  EXPECT_LT(peak_kib, size_t{1100} << 10);
}

}  // namespace
}  // namespace brackwen
