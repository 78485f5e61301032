#include <gtest/gtest.h>

#include <fstream>

#include "support/server_harness.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;
using test::ServerProcess;

std::string run_body(const std::string& repo, const std::string& args_json) {
  return R"({"repoPath":")" + repo + R"(","args":)" + args_json + "}";
}

TEST(RunEndpoint, RepliesStandardOutputOrNull) {
  test::TempRepo repo;
  std::string id = repo.commit_file("a.txt", "a", "first");
  ServerProcess server;
  struct Case {
    std::string body;
    int status;
    std::string reply;
  };
  for (const auto& c : std::vector<Case>{
           {run_body(repo.str(), R"(["rev-parse","HEAD"])"), 200, "\"" + id + "\\n\""},
           {"[\"" + repo.str() + "\",[\"rev-parse\",\"HEAD\"]]", 200, "\"" + id + "\\n\""},
           {run_body(repo.str(), R"(["status","--porcelain"])"), 200, "null"},
           {run_body(repo.str(), R"(["rev-parse","no-such-ref"])"), 200, "\"no-such-ref\\n\""},
           {run_body(repo.str(), R"(["log","--format=%s %x09"])"), 200, "\"first \\t\\n\""},
           {run_body(repo.str(), R"(["definitely-not-a-command"])"), 200, "null"},
           {run_body("/nonexistent/repo", R"(["rev-parse","HEAD"])"), 200, "null"},
           {run_body(repo.str(), R"(["rev-parse","HEAD\u0000x"])"), 200, "null"},
           {run_body(repo.str(), R"(["rev-parse",1])"), 500, ""},
           {R"({"repoPath":"x"})", 500, ""},
           {"null", 500, ""},
       }) {
    auto r = server.post("/f/run", c.body);
    EXPECT_EQ(r.status, c.status) << c.body;
    EXPECT_EQ(r.body, c.reply) << c.body;
  }
  // No arguments at all: git prints its usage on standard output.
  auto usage = server.post("/f/run", run_body(repo.str(), "[]"));
  EXPECT_NE(usage.body.find("usage: git"), std::string::npos) << usage.body;
}

TEST(RunEndpoint, NoisyStandardErrorAndBytesThatAreNotUtf8) {
  test::TempRepo repo;
  test::git(repo.path,
            {"config", "alias.noisy", "!yes error-text | head -c 204800 >&2; echo done"});
  test::git(repo.path, {"config", "alias.raw", "!printf 'a\\377b\\n'"});
  ServerProcess server;
  EXPECT_EQ(server.post("/f/run", run_body(repo.str(), R"(["noisy"])")).body, "\"done\\n\"");
  EXPECT_EQ(server.post("/f/run", run_body(repo.str(), R"(["raw"])")).body,
            "\"a\xEF\xBF\xBD"
            "b\\n\"");
}

TEST(LoadCommitImageEndpoint, CopiesBytesOrRepliesFalse) {
  test::TempRepo repo;
  std::string bytes;
  for (int i = 0; i < 70000; ++i) bytes += static_cast<char>(i * 31 % 256);  // over a pipe's buffer
  std::string id = repo.commit_file("img/ü.png", bytes, "image");
  repo.commit_file("img/ü.png", "later", "later");
  test::TempDir out;
  std::ofstream(out.path / "keep.png") << "keep";
  ServerProcess server;
  auto body = [&](const std::string& commit, const std::string& path, const fs::path& target) {
    return R"({"repoPath":")" + repo.str() + R"(","commitId":")" + commit +
           R"(","originalImagePath":")" + path + R"(","tempImagePath":")" + target.string() + "\"}";
  };
  EXPECT_EQ(server.post("/f/load_commit_image", body(id, "img/ü.png", out.path / "old.png")).body,
            "true");
  EXPECT_EQ(test::read_file(out.path / "old.png"), bytes);
  // Nothing on git's standard output: the existing target stays as it was.
  EXPECT_EQ(
      server.post("/f/load_commit_image", body(id, "missing.png", out.path / "keep.png")).body,
      "false");
  EXPECT_EQ(test::read_file(out.path / "keep.png"), "keep");
  EXPECT_EQ(server.post("/f/load_commit_image", R"({"repoPath":"x","commitId":"y"})").status, 500);
}

}  // namespace
}  // namespace brackwen
