#include <gtest/gtest.h>

#include "support/server_harness.hpp"

namespace brackwen {
namespace {

using test::ServerProcess;

std::string request(const std::string& repo, const std::string& file) {
  return R"({"repoPath":")" + repo + R"(","patch":{"oldFile":")" + file + R"(","newFile":")" +
         file +
         R"(","patchType":"U","stagedType":"U","unStagedType":"U","conflicted":true,"id":")" +
         file + R"(U","isImage":false}})";
}

TEST(LoadConflictedFile, RealMergeConflict) {
  test::TempRepo repo;
  repo.commit_file("f.txt", "a\nb\nc\n", "base");
  test::git(repo.path, {"checkout", "-q", "-b", "topic"});
  repo.commit_file("f.txt", "a\nB-topic\nc\n", "topic");
  test::git(repo.path, {"checkout", "-q", "main"});
  repo.commit_file("f.txt", "a\nB-main\nc\n", "main");
  test::sh(repo.path, "git merge -q topic >/dev/null 2>&1 || true");

  ServerProcess server;
  auto r = server.post("/f/load_conflicted_file", request(repo.str(), "f.txt"));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(
      r.body,
      R"({"lines":[{"ok":{"text":"a"}},{"slot":{"section":0,"index":0}},{"ok":{"text":"c"}}],)"
      R"("sections":[{"left":[{"conflict":{"text":"B-main","side":"left","section":0,"key":"Left-0-0"}}],)"
      R"("right":[{"conflict":{"text":"B-topic","side":"right","section":0,"key":"Right-0-0"}}]}],)"
      R"("refNameTop":"HEAD","refNameBottom":"Local/topic","lineEnding":"\n","maxLineLength":7})");
}

TEST(LoadConflictedFile, OddFilesAndBodies) {
  test::TempRepo repo;
  repo.write("empty-sides.txt", "x\r\n<<<<<<< HEAD\r\n=======\r\n>>>>>>> other\r\ny\r\n");
  repo.write("bad.txt", "\xff\n");
  ServerProcess server;
  auto r = server.post("/f/load_conflicted_file", request(repo.str(), "empty-sides.txt"));
  EXPECT_EQ(
      r.body,
      R"({"lines":[{"ok":{"text":"x"}},{"ok":{"text":"y"}}],"sections":[],)"
      R"("refNameTop":"HEAD","refNameBottom":"Local/other","lineEnding":"\n","maxLineLength":1})");
  EXPECT_EQ(server.post("/f/load_conflicted_file", request(repo.str(), "missing.txt")).body,
            "null");
  EXPECT_EQ(server.post("/f/load_conflicted_file", request(repo.str(), "bad.txt")).body, "null");
  EXPECT_EQ(server.post("/f/load_conflicted_file", R"({"repoPath":"x"})").status, 500);
  EXPECT_EQ(server.post("/f/load_conflicted_file", "null").status, 500);
  auto bad_letter = request(repo.str(), "f.txt");
  bad_letter.replace(bad_letter.find(R"("U")"), 3, R"("Z")");
  EXPECT_EQ(server.post("/f/load_conflicted_file", bad_letter).status, 500);
  EXPECT_EQ(server.get("/pi").status, 200);  // still serving
}

}  // namespace
}  // namespace brackwen
