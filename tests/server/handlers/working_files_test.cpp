// The working files the diff endpoints read, end to end: the file git itself sees (its work
// tree, its name), and a large file whose diff is shown when the reply that carries it fits.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "git/reading/read_budget.hpp"
#include "server/handlers/endpoint_table.hpp"
#include "support/server_harness.hpp"

namespace brackwen::test {
namespace {

namespace fs = std::filesystem;

std::string wip_request(const fs::path& repo, const std::string& file, const std::string& type,
                        const std::string& head) {
  return body({{"repoPath", quoted(repo.string())},
               {"patch", wip_json(file, " ", type, type)},
               {"headCommit", head.empty() ? "null" : commit_json(head, "")}});
}

std::string conflict_request(const fs::path& repo, const std::string& file) {
  return body({{"repoPath", quoted(repo.string())}, {"patch", wip_json(file, "U", "U", "U")}});
}

std::string line_json(const char* status, std::optional<int> old_num, std::optional<int> new_num,
                      int hunk, const std::string& text, size_t index) {
  auto number = [](std::optional<int> n) { return n ? std::to_string(*n) : "null"; };
  return std::string(R"({"status":")") + status + R"(","oldNum":)" + number(old_num) +
         R"(,"newNum":)" + number(new_num) + R"(,"hunkIndex":)" + std::to_string(hunk) +
         R"(,"text":")" + text + R"(","index":)" + std::to_string(index) + R"(,"lineEnding":"\n"})";
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// A file of 2.6 million numbered lines (19 MB), one of them changed: its whole line list would
// pass 256 MiB, its one hunk is a few hundred bytes. Only the line list is refused.
TEST(WorkingFiles, OneChangeInALargeFileIsShown) {
  constexpr int kLines = 2600000, kChanged = 1300000;
  std::string text;
  for (int i = 1; i <= kLines; ++i) text += std::to_string(i) + "\n";
  TempRepo repo;
  std::string head = repo.commit_file("big.csv", text, "big");
  size_t at = text.find("\n" + std::to_string(kChanged) + "\n") + 1;
  text.replace(at, std::to_string(kChanged).size(), "changed");
  repo.write("big.csv", text);
  // Each line keeps its place in the whole line list as its index.
  std::string lines;
  auto add = [&](const std::string& line) { lines += (lines.empty() ? "" : ",") + line; };
  for (int n = kChanged - 3; n < kChanged; ++n) {
    add(line_json(" ", n, n, 0, std::to_string(n), n - 1));
  }
  add(line_json("-", kChanged, std::nullopt, 0, std::to_string(kChanged), kChanged - 1));
  add(line_json("+", std::nullopt, kChanged, 0, "changed", kChanged));
  for (int n = kChanged + 1; n <= kChanged + 3; ++n) {
    add(line_json(" ", n, n, 0, std::to_string(n), n));
  }
  std::string range = R"({"start":)" + std::to_string(kChanged - 3) + R"(,"length":7})";
  std::string hunks = R"([[{"oldLineRange":)" + range + R"(,"newLineRange":)" + range +
                      R"(,"contextLine":"","lines":[)" + lines + R"(],"index":0}],2])";
  ServerProcess server;
  std::string request = wip_request(repo.path, "big.csv", "M", head);
  EXPECT_EQ(server.post("/f/load_wip_hunks", request).body, hunks);
  EXPECT_EQ(server.post("/f/load_wip_hunk_lines", request).body, "null");
  std::string said = "Working-copy diff stopped: its reply would pass 256 MiB\n";
  EXPECT_EQ(server.stderr_so_far(), said);
}

// Diffs whose memory would pass the read budget are refused before they are made, with the
// budget's one line: a working file longer than the budget (sparse, never read), and a file
// whose lines all moved, so many that xdiff's records of them would pass it.
TEST(WorkingFiles, DiffOverTheMemoryBudgetIsRefusedBeforeItIsMade) {
  TempRepo repo;
  // Each pair of lines xdiff gets takes some hundreds of bytes: these are too many.
  size_t pairs = static_cast<size_t>(read_memory_budget() / 400 / 2);
  auto repeated = [&](std::string_view pair) {
    std::string text;
    text.reserve(4 * pairs);
    for (size_t i = 0; i < pairs; ++i) text += pair;
    return text;
  };
  repo.write("sparse.bin", "x\n");
  git(repo.path, {"add", "sparse.bin"});
  std::string head = repo.commit_file("moved.txt", repeated("a\nb\n"), "first");
  repo.write("moved.txt", repeated("b\na\n"));
  fs::resize_file(repo.path / "sparse.bin", read_memory_budget() + 1);
  std::string said;
  ServerProcess server;
  for (const char* file : {"sparse.bin", "moved.txt"}) {
    EXPECT_EQ(server.post("/f/load_wip_hunks", wip_request(repo.path, file, "M", head)).body,
              "null")
        << file;
    said += "Working-copy diff stopped: it needed more memory than a read may take (" +
            std::to_string(read_memory_budget() >> 20) + " MiB)\n";
    EXPECT_EQ(server.stderr_so_far(), said) << file;
  }
  EXPECT_EQ(server.get("/pi").body, "brackwen");
}

// A "dotfiles" repository: its git dir <repo>/.git names ../w as its work tree, so git reads
// and reports <repo>/w/a.txt as "a.txt", while <repo>/a.txt is another file. A folder below
// the work tree's top is served by the same work tree, its paths relative to the top.
TEST(WorkingFiles, TheWorkTreeIsTheOneGitUses) {
  TempRepo repo;
  git(repo.path, {"config", "core.worktree", "../w"});
  fs::path top = repo.path / "w";
  fs::create_directories(top / "sub");
  std::ofstream(top / "a.txt") << "one\n";
  std::ofstream(top / "sub/b.txt") << "b\n";
  git(top, {"add", "a.txt", "sub/b.txt"});
  git(top, {"commit", "-qm", "first"});
  std::string head = trimmed(git(top, {"rev-parse", "HEAD"}));
  std::ofstream(top / "a.txt") << "one\ntwo\n";
  std::ofstream(top / "c.txt") << "<<<<<<< HEAD\nmine\n=======\ntheirs\n>>>>>>> topic\n";
  repo.write("a.txt", "one\nOTHER\n");
  repo.write("c.txt", "plain\n");
  repo.write("sub/a.txt", "one\nSUB\n");
  ServerProcess server;
  EXPECT_EQ(
      server.post("/f/load_wip_patches", repo_body(repo.path)).body,
      R"([{"oldFile":"a.txt","newFile":"a.txt","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":"a.txtM","isImage":false},{"oldFile":"c.txt","newFile":"c.txt","patchType":"A","stagedType":"?","unStagedType":"?","conflicted":false,"id":"c.txtA","isImage":false}])");
  std::string lines = "[" + line_json(" ", 1, 1, -1, "one", 0) + "," +
                      line_json("+", std::nullopt, 2, -1, "two", 1) + "]";
  std::string conflict =
      R"({"lines":[{"slot":{"section":0,"index":0}}],"sections":[{"left":[{"conflict":{"text":"mine","side":"left","section":0,"key":"Left-0-0"}}],"right":[{"conflict":{"text":"theirs","side":"right","section":0,"key":"Right-0-0"}}]}],"refNameTop":"HEAD","refNameBottom":"Local/topic","lineEnding":"\n","maxLineLength":6})";
  for (const fs::path& folder : {repo.path, top, top / "sub", repo.path / "sub"}) {
    if (folder == repo.path / "sub") fs::create_directories(folder);
    EXPECT_EQ(server.post("/f/load_wip_hunk_lines", wip_request(folder, "a.txt", "M", head)).body,
              lines)
        << folder;
    EXPECT_EQ(server.post("/f/load_conflicted_file", conflict_request(folder, "c.txt")).body,
              conflict)
        << folder;
  }
}

// Two files whose names differ only in a byte that is not UTF-8: "caf\xe9.txt" (Latin-1) and
// "caf\xef\xbf\xbd.txt" (U+FFFD itself). The listings print both as the second, so their two
// entries are the same request: neither may show the other's lines. Each answers null, with
// one line on standard error.
TEST(WorkingFiles, ANameThatIsNotUtf8ShowsNoOtherFilesLines) {
  const std::string latin1 = "caf\xe9.txt", replaced = "caf\xef\xbf\xbd.txt";
  TempRepo repo;
  repo.write(latin1, "latin\n");
  repo.write(replaced, "replaced\n");
  git(repo.path, {"add", "."});
  std::string first = repo.commit_file("other.txt", "x\n", "first");
  repo.write(latin1, "latin\nLATIN CHANGE\n");
  repo.write(replaced, "replaced\nREPLACED CHANGE\n");
  std::string second = trimmed(sh(repo.path, "git commit -qam second && git rev-parse HEAD"));
  repo.write(latin1, "latin\nLATIN CHANGE\nlatin again\n");
  repo.write(replaced, "replaced\nREPLACED CHANGE\nreplaced again\n");
  ServerProcess server;
  std::string listed = "caf\xef\xbf\xbd.txt";
  std::string wip = server.post("/f/load_wip_patches", repo_body(repo.path)).body;
  std::string entry =
      R"({"oldFile":")" + listed + R"(","newFile":")" + listed +
      R"(","patchType":"M","stagedType":" ","unStagedType":"M","conflicted":false,"id":")" +
      listed + R"(M","isImage":false})";
  ASSERT_EQ(wip, "[" + entry + "," + entry + "]");
  server.post("/f/load_commits_and_refs", body({{"repoPath", quoted(repo.str())},
                                                {"numCommits", "10"},
                                                {"filters", "[]"},
                                                {"fast", "false"},
                                                {"skipStashes", "false"}}));
  std::string commit_patches =
      server
          .post("/f/load_patches_for_commit",
                body({{"repoPath", quoted(repo.str())}, {"commitId", test::quoted(second)}}))
          .body;
  ASSERT_EQ(occurrences(commit_patches, "\"newFile\":\"" + listed + "\""), 2u) << commit_patches;
  const std::tuple<const char*, std::string, std::string> requests[] = {
      {"/f/load_wip_hunks", wip_request(repo.path, listed, "M", second), "Working-copy diff"},
      {"/f/load_wip_hunk_lines", wip_request(repo.path, listed, "M", second), "Working-copy diff"},
      {"/f/load_conflicted_file", conflict_request(repo.path, listed), "Conflicted-file read"},
      {"/f/load_hunks",
       body({{"repoPath", quoted(repo.str())},
             {"commit", commit_json(second, test::quoted(first))},
             {"patch", patch_json(second, listed, "M")}}),
       "Diff of " + second},
  };
  std::string said;
  for (const auto& [endpoint, request, read] : requests) {
    // The two entries of the listing ask alike.
    for (int entry_number = 0; entry_number < 2; ++entry_number) {
      EXPECT_EQ(server.post(endpoint, request).body, "null") << endpoint;
      said += read +
              " stopped: its path holds U+FFFD, which also stands for a name that is not UTF-8, "
              "so it may name another file\n";
    }
  }
  EXPECT_EQ(server.stderr_so_far(), said);
}

}  // namespace
}  // namespace brackwen::test
