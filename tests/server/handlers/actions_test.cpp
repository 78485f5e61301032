// The action endpoints end to end: ids, the poll protocol, malformed bodies, credentials and
// the home directory, against the built server.
#include "server/handlers/actions.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "support/auth_http_repo.hpp"
#include "support/server_harness.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::AuthenticatedRepoServer;
using test::HttpReply;
using test::ServerProcess;
using test::TempDir;
using test::TempRepo;

std::string json_text(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string repo_body(const std::string& path) {
  return "{\"repoPath\":" + json_text(path) + "}";
}

// Polls until the reply says the action is done; that reply's body.
std::string poll_until_done(const ServerProcess& server, const std::string& id) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (std::chrono::steady_clock::now() < deadline) {
    HttpReply reply = server.post("/f/poll_action2", "{\"actionId\":" + id + "}");
    if (reply.status != 200 || reply.body == "null") return reply.body;
    if (reply.body.find("\"done\":true") != std::string::npos) return reply.body;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "action " << id << " did not end";
  return "";
}

// The server's standard error is drained by a thread of the harness, so it may trail a reply.
bool wait_for_stderr(const ServerProcess& server, const std::string& text) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (server.stderr_text().find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The ask-pass program where the server looks for it: beside the directory of its executable.
void place_ask_pass(const ServerProcess& server) {
  auto built = std::filesystem::path(BRACKWEN_BINARY).parent_path().parent_path() / "ask-pass";
  auto target = server.root / "a" / "ask-pass";
  std::filesystem::create_directories(target);
  std::filesystem::copy_file(built / "ask-pass", target / "ask-pass");
}

TEST(ActionEndpoints, IdsStartAtTwoInAFreshProcess) {
  ServerProcess server;
  TempRepo repo;
  EXPECT_EQ(server.post("/f/fetch_all", repo_body(repo.str())).body, "2");
  EXPECT_EQ(server.post("/f/stash_changes", repo_body(repo.str())).body, "3");
  EXPECT_EQ(server.post("/f/command", "{\"repoPath\":\"/r\",\"args\":[]}").body, "4");
}

TEST(ActionEndpoints, FinishedActionIsReportedOnceThenNull) {
  ServerProcess server;
  TempRepo repo;
  repo.commit_file("a.txt", "a\n", "first \"line\"");
  HttpReply started = server.post("/f/command", "{\"repoPath\":" + json_text(repo.str()) +
                                                    ",\"args\":[\"log\",\"--format=%s\"]}");
  ASSERT_EQ(started.status, 200);
  EXPECT_EQ(poll_until_done(server, started.body),
            R"({"stdout":["first \"line\""],"stderr":[],"done":true,"error":null})");
  EXPECT_EQ(server.post("/f/poll_action2", "{\"actionId\":" + started.body + "}").body, "null");
}

TEST(ActionEndpoints, CommandListStopsAtTheFirstFailure) {
  ServerProcess server;
  TempRepo repo;
  HttpReply started = server.post(
      "/f/commands",
      "{\"repoPath\":" + json_text(repo.str()) +
          R"(,"commands":[["rev-parse","--git-dir"],["rev-parse","--verify","-q","nope"],)"
          R"(["commit","--allow-empty","-m","never"]]})");
  std::string done = poll_until_done(server, started.body);
  EXPECT_EQ(done, R"({"stdout":[".git"],"stderr":[],"done":true,"error":"git"})");
  EXPECT_EQ(test::git(repo.path, {"rev-list", "--all"}), "");
}

TEST(ActionEndpoints, GitThatCannotStartIsAnIoErrorObject) {
  ServerProcess server;
  HttpReply started = server.post("/f/fetch_all", repo_body("/nonexistent/dir"));
  EXPECT_TRUE(poll_until_done(server, started.body)
                  .starts_with(R"({"stdout":[],"stderr":[],"done":true,"error":{"iO":")"));
}

TEST(ActionEndpoints, PollRefusesZeroAndReadsArrays) {
  ServerProcess server;
  EXPECT_EQ(server.post("/f/poll_action2", "{\"actionId\":0}").body, "null");
  EXPECT_TRUE(wait_for_stderr(server, "poll_action2: Requested action id of 0\n"));
  EXPECT_EQ(server.post("/f/poll_action2", "[5]").body, "null");
  EXPECT_EQ(server.post("/f/poll_action2", "{\"actionId\":4294967295}").body, "null");
  for (const char* body :
       {"{\"actionId\":-1}", "{\"actionId\":1.5}", "{\"actionId\":4294967296}"}) {
    EXPECT_EQ(server.post("/f/poll_action2", body).status, 500) << body;
  }
}

TEST(ActionEndpoints, MalformedBodiesAreDroppedAndStartNothing) {
  ServerProcess server;
  for (const char* path :
       {"command", "commands", "stash_changes", "fetch_all", "create_repo", "clone_repo",
        "stash_staged", "poll_action2", "set_credentials", "override_git_home"}) {
    for (const char* body : {"null", "{}"}) {
      HttpReply reply = server.post(std::string("/f/") + path, body);
      EXPECT_EQ(reply.status, 500) << path << " " << body;
      EXPECT_EQ(reply.body, "") << path << " " << body;
    }
  }
  TempRepo repo;
  EXPECT_EQ(server.post("/f/fetch_all", repo_body(repo.str())).body, "2");
}

TEST(ActionEndpoints, CreateAndCloneReplyZeroBelowAFile) {
  ServerProcess server;
  TempDir dir;
  std::ofstream(dir.path / "file") << "x";
  std::string below = json_text((dir.path / "file" / "repo").string());
  EXPECT_EQ(server.post("/f/create_repo", "{\"repoPath\":" + below + "}").body, "0");
  EXPECT_EQ(server.post("/f/clone_repo", "{\"repoPath\":" + below + ",\"url\":\"/r\"}").body, "0");
  EXPECT_EQ(server.post("/f/poll_action2", "{\"actionId\":0}").body, "null");
}

TEST(ActionEndpoints, CredentialsReachGitThroughTheAskPassProgram) {
  AuthenticatedRepoServer remote;
  ServerProcess server(test::Environment{{"GIT_CONFIG_GLOBAL", "/dev/null"}});
  place_ask_pass(server);
  TempDir target;
  std::string clone =
      "{\"repoPath\":" + json_text(target.str()) + ",\"url\":" + json_text(remote.url()) + "}";

  std::string refused = poll_until_done(server, server.post("/f/clone_repo", clone).body);
  EXPECT_NE(refused.find("\"error\":\"credential\""), std::string::npos) << refused;

  HttpReply set =
      server.post("/f/set_credentials",
                  "{\"username\":" + json_text(AuthenticatedRepoServer::user) +
                      ",\"password\":" + json_text(AuthenticatedRepoServer::password) + "}");
  EXPECT_EQ(set.body, "null");
  std::string cloned = poll_until_done(server, server.post("/f/clone_repo", clone).body);
  EXPECT_NE(cloned.find("\"error\":null"), std::string::npos) << cloned;
  std::ifstream in(target.path / "repo" / "readme.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), AuthenticatedRepoServer::readme);
}

TEST(ActionEndpoints, OverrideGitHomeReachesLaterGitProcesses) {
  ServerProcess server;
  TempDir home;
  std::ofstream(home.path / ".gitconfig") << "[brackwen]\n\tprobe = from-home\n";
  EXPECT_EQ(server.post("/f/override_git_home", repo_body(home.str())).body, "null");
  HttpReply started = server.post(
      "/f/command", R"({"repoPath":"/","args":["config","--global","brackwen.probe"]})");
  EXPECT_EQ(poll_until_done(server, started.body),
            R"({"stdout":["from-home"],"stderr":[],"done":true,"error":null})");
}

}  // namespace
}  // namespace brackwen
