// The running server end to end: port line, routing, dropped requests, exit, cross-site
// requests and connections that must not hold each other up.
#include "server/server.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "support/server_harness.hpp"

namespace brackwen {
namespace {

using test::HttpReply;
using test::ServerProcess;

std::string host_header(const ServerProcess& server) {
  return "Host: 127.0.0.1:" + std::to_string(server.port) + "\r\n";
}

TEST(Server, WritesThePortLineThroughThePipeAtOnce) {
  ServerProcess server;
  ASSERT_EQ(server.port_line.size(), 18u);
  std::string digits = std::to_string(server.port);
  EXPECT_EQ(server.port_line, "PORT:" + digits + std::string(12 - digits.size(), ' ') + "\n");
  EXPECT_NE(server.port, 0);
  EXPECT_EQ(server.get("/pi").body, "brackwen");
}

TEST(Server, RoutesOnTheRawTargetAndKeepsAnsweringAfterDrops) {
  ServerProcess server;
  const std::pair<const char*, int> cases[] = {
      {"/pi", 200},
      {"/ping", 200},
      {"/pi?x=1", 200},
      {"/f/git_version?x=1", 500},
      {"/f/git_version/", 500},
      {"/F/git_version", 500},
      {"/f/GIT_VERSION", 500},
      {"/f/git_versio", 500},
      {"/f/git%5Fversion", 500},
      {"/f/", 500},
      {"/", 500},
      {"/p\xc3\xa9", 500},
      {"/nothing", 500},
  };
  for (int round = 0; round < 20; ++round) {
    for (const auto& [target, status] : cases) {
      HttpReply reply = server.post(target, "{\"repoPath\":\"/tmp\"}");
      ASSERT_EQ(reply.status, status) << target;
      if (status == 500) EXPECT_EQ(reply.body, "") << target;
    }
  }
  HttpReply probe = server.send("DELETE", "/pi", "anything", {});
  EXPECT_EQ(probe.status, 200);
  EXPECT_EQ(probe.body, "brackwen");
  EXPECT_EQ(probe.content_type, "text/plain; charset=UTF-8");
  EXPECT_EQ(server.send("OPTIONS", "/pi", "", {}).body, "brackwen");
  EXPECT_EQ(server.stderr_text(), "");
}

TEST(Server, DropsBodiesThatAreNotTheRecord) {
  ServerProcess server;
  std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const std::string bodies[] = {
      "",
      "null",
      " null ",
      "{}",
      "[]",
      "\"/tmp\"",
      "{\"repoPath\":\"/tmp\",\"repoPath\":\"/tmp\"}",
      "{\"repoPath\":\"/tmp\"} x",
      "{\"repoPath\":\"/tmp\"}{}",
      "{\"repoPath\":7}",
      "[\"/tmp\",\"/tmp\"]",
      "{\"repoPath\":\"/t\xff\"}",
      deep,
      std::string(100000, '['),
  };
  for (const std::string& body : bodies) {
    HttpReply reply = server.post("/f/git_version", body);
    EXPECT_EQ(reply.status, 500) << body.substr(0, 60);
    EXPECT_EQ(reply.body, "");
  }
  // A GET carries no body through the library: dropped like an empty body.
  EXPECT_EQ(server.send("GET", "/f/git_version", "", {}).status, 500);
  EXPECT_EQ(server.get("/pi").body, "brackwen");
}

// A git first on PATH that logs each run with the environment it saw, and knows its version
// only once the file "ready" exists beside it.
struct LoggingGit {
  LoggingGit() {
    std::ofstream(dir.path / "git") << "#!/bin/sh\n"
                                    << "echo \"$GIT_TERMINAL_PROMPT|$PATH|$*\" >> \"$0.log\"\n"
                                    << "[ -e \"$0.ready\" ] || exit 1\n"
                                    << "echo 'git version 2.41.3'\n";
    std::filesystem::permissions(dir.path / "git", std::filesystem::perms::owner_all);
  }
  std::string path() const { return dir.str() + ":/usr/bin:/bin"; }
  std::string log() const { return test::read_file(dir.path / "git.log"); }
  void make_ready() const { std::ofstream(dir.path / "git.ready") << ""; }
  test::TempDir dir;
};

TEST(Server, StartsWithPromptsOffAndUsrLocalBinOnPathBeforeAskingGit) {
  LoggingGit git;
  git.make_ready();
  ServerProcess server({{"PATH", git.path()}, {"GIT_TERMINAL_PROMPT", "1"}});
  EXPECT_EQ(git.log(), "0|" + git.path() + ":/usr/local/bin|--version\n");
  HttpReply reply = server.post("/f/git_version", "{\"repoPath\":\"/tmp\"}");
  EXPECT_EQ(reply.body, "{\"major\":2,\"minor\":41,\"patch\":3}");
  EXPECT_EQ(git.log(), "0|" + git.path() + ":/usr/local/bin|--version\n");  // not asked again
}

TEST(Server, GitVersionAsksAgainUntilGitAnswers) {
  LoggingGit git;
  ServerProcess server({{"PATH", git.path()}});
  const std::string body = "{\"repoPath\":\"/tmp\"}";
  EXPECT_EQ(server.post("/f/git_version", body).body, "null");
  EXPECT_EQ(server.post("/f/git_version", body).body, "null");
  git.make_ready();
  EXPECT_EQ(server.post("/f/git_version", body).body, "{\"major\":2,\"minor\":41,\"patch\":3}");
  EXPECT_EQ(server.post("/f/git_version", body).body, "{\"major\":2,\"minor\":41,\"patch\":3}");
  std::string log = git.log();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4) << log;  // start-up and three requests
}

TEST(Server, ExitRepliesCompletelyThenEndsWithStatusZero) {
  for (const char* method : {"GET", "POST"}) {
    ServerProcess server;
    HttpReply reply = server.send(method, "/exit", "a body", {});
    EXPECT_EQ(reply.status, 200) << method;
    EXPECT_EQ(reply.body, "Brackwen core exiting...");
    EXPECT_EQ(reply.content_type, "text/plain; charset=UTF-8");
    EXPECT_EQ(server.wait_for_exit(), 0) << method;
  }
}

TEST(Server, ExitOverAKeptAliveConnection) {
  ServerProcess server;
  auto client = server.client();
  EXPECT_EQ(client->Get("/pi")->body, "brackwen");
  auto reply = client->Post("/ex", "", "text/plain");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->body, "Brackwen core exiting...");
  EXPECT_EQ(server.wait_for_exit(), 0);
}

TEST(Server, DropsForeignOriginsAndHosts) {
  ServerProcess server;
  std::string port = std::to_string(server.port);
  struct Case {
    httplib::Headers headers;
    int status;
  };
  const Case cases[] = {
      {{}, 200},
      {{{"Origin", "http://127.0.0.1:" + port}}, 200},
      {{{"Origin", "http://localhost:" + port}}, 200},
      {{{"Host", "localhost:" + port}}, 200},
      {{{"Origin", "http://evil.example"}}, 500},
      {{{"Origin", "null"}}, 500},
      {{{"Origin", "http://127.0.0.1:1"}}, 500},
      {{{"Host", "evil.example:" + port}}, 500},
      {{{"Host", "127.0.0.1"}}, 500},
  };
  for (const char* target : {"/pi", "/f/git_version", "/ex"}) {
    for (const Case& c : cases) {
      if (std::string(target) == "/ex" && c.status == 200) continue;
      HttpReply reply = server.send("POST", target, "{\"repoPath\":\"/tmp\"}", c.headers);
      EXPECT_EQ(reply.status, c.status) << target << " " << c.headers.size();
    }
  }
  std::string no_host = server.raw("GET /pi HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(no_host.starts_with("HTTP/1.1 500")) << no_host;
  EXPECT_EQ(server.get("/pi").body, "brackwen");  // "/ex" was never obeyed
}

TEST(Server, KeptAliveConnectionsDoNotStallEachOther) {
  ServerProcess server;
  // One client that has sent half a request, and two that keep their connections open.
  int half = server.open_connection("POST /pi HTTP/1.1\r\n" + host_header(server));
  ASSERT_GE(half, 0);
  auto first = server.client();
  auto second = server.client();
  first->set_read_timeout(std::chrono::seconds(3));
  second->set_read_timeout(std::chrono::seconds(3));
  for (int i = 0; i < 20; ++i) {
    auto a = first->Post("/pi", "", "text/plain");
    auto b = second->Get("/pi");
    ASSERT_TRUE(a && b) << i;
    EXPECT_EQ(a->body, "brackwen");
    EXPECT_EQ(b->body, "brackwen");
  }
  ::close(half);
}

TEST(Server, AClientThatLeavesEarlyDoesNotDisturbTheNext) {
  ServerProcess server;
  server.write_static("big.txt", std::string(8 << 20, 'x'));
  // The replies go to connections that are already gone.
  for (int i = 0; i < 3; ++i) {
    server.send_and_leave("GET /r/big.txt HTTP/1.1\r\n" + host_header(server) + "\r\n");
    server.send_and_leave("POST /f/git_version HTTP/1.1\r\n" + host_header(server) +
                          "Content-Length: 17\r\n\r\n{\"repoPath\":\"/\"}");
  }
  EXPECT_EQ(server.get("/pi").body, "brackwen");
  EXPECT_EQ(server.get("/r/big.txt").body.size(), 8u << 20);
}

}  // namespace
}  // namespace brackwen
