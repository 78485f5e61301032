// The running server end to end: port line, routing, dropped requests, exit, cross-site
// requests and connections that must not hold each other up.
#include "server/server.hpp"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

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
      if (status == 500) {
        EXPECT_EQ(reply.body, "") << target;
      }
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

TEST(Server, ExitWithoutAContentLength) {
  ServerProcess server;
  // What `curl -X POST` sends: neither Content-Length nor Transfer-Encoding, so no body.
  std::string reply = server.raw("POST /ex HTTP/1.1\r\n" + host_header(server) + "\r\n");
  EXPECT_NE(reply.find("\r\n\r\nBrackwen core exiting..."), std::string::npos) << reply;
  EXPECT_EQ(server.wait_for_exit(), 0);
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
      {{{"Sec-Fetch-Site", "same-origin"}}, 200},
      // What an <img> tag on another site sends: no Origin, but the browser says where from.
      {{{"Sec-Fetch-Site", "cross-site"}}, 500},
      {{{"Sec-Fetch-Site", "same-site"}}, 500},
  };
  for (const char* target : {"/pi", "/f/git_version", "/ex"}) {
    for (const Case& c : cases) {
      if (std::string(target) == "/ex" && c.status == 200) continue;
      HttpReply reply = server.send("POST", target, "{\"repoPath\":\"/tmp\"}", c.headers);
      EXPECT_EQ(reply.status, c.status) << target << " " << c.headers.size();
    }
  }
  std::string no_host = server.raw("GET /pi HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(no_host.starts_with("HTTP/1.0 500")) << no_host;
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

// Only the user's own programs are served: another account's connections are closed before
// anything is read, so neither its requests nor its idle connections reach the request loop.
TEST(Server, AnotherAccountIsClosedUnansweredAndDelaysNobody) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to connect as another account";
  ServerProcess server;
  const std::string probe = "GET /pi HTTP/1.1\r\n" + host_header(server) + "\r\n";
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(server.port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int report[2], hold[2];
  ASSERT_EQ(::pipe(report), 0);
  ASSERT_EQ(::pipe(hold), 0);
  pid_t child = ::fork();
  if (child == 0) {  // only system calls from here: other threads of the test may hold locks
    ::close(hold[1]);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    for (int i = 0; i < 300; ++i) {  // idle connections, held until the test is done
      int idle = ::socket(AF_INET, SOCK_STREAM, 0);
      ::connect(idle, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ssize_t got = -1;
    char byte;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::write(fd, probe.data(), probe.size()) == static_cast<ssize_t>(probe.size())) {
      got = ::read(fd, &byte, 1);
    }
    (void)!::write(report[1], &got, sizeof got);
    (void)!::read(hold[0], &byte, 1);
    ::_exit(0);
  }
  ASSERT_GT(child, 0);
  ssize_t got = 1;
  ASSERT_EQ(::read(report[0], &got, sizeof got), static_cast<ssize_t>(sizeof got));
  EXPECT_LE(got, 0) << "another account's request was answered";
  auto client = server.client();
  client->set_read_timeout(std::chrono::seconds(30));
  auto reply = client->Get("/pi");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->body, "brackwen");
  ::close(hold[1]);
  ::waitpid(child, nullptr, 0);
  for (int fd : {report[0], report[1], hold[0]}) ::close(fd);
}

size_t peak_kib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return std::stoul(line.substr(6));
  }
  return 0;
}

// Sends the head of a request and then up to 1 GiB of body while the server lets it; the
// status line it answers.
std::string status_for_large_body(const ServerProcess& server, const std::string& head,
                                  const std::string& piece) {
  int fd = server.open_connection(head);
  if (fd < 0) return "";
  for (size_t sent = 0; sent < (1u << 30); sent += piece.size()) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0) break;  // the server answered
    if (::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) < 0) break;
  }
  std::string reply(64, '\0');
  pollfd p{fd, POLLIN, 0};
  ssize_t got = ::poll(&p, 1, 10000) > 0 ? ::recv(fd, reply.data(), reply.size(), 0) : -1;
  ::close(fd);
  reply.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return reply.substr(0, reply.find("\r\n"));
}

TEST(Server, BodiesOverTheCapAreRefusedUnread) {
  ServerProcess server;
  std::string post = "POST /f/write_file HTTP/1.1\r\n" + host_header(server);
  std::string chunk(1 << 20, 'x');
  std::string framed_chunk = "100000\r\n" + chunk + "\r\n";
  EXPECT_EQ(status_for_large_body(server, post + "Content-Length: 1073741824\r\n\r\n", chunk),
            "HTTP/1.1 413 Payload Too Large");
  EXPECT_EQ(
      status_for_large_body(server, post + "Transfer-Encoding: chunked\r\n\r\n", framed_chunk),
      "HTTP/1.1 413 Payload Too Large");
  EXPECT_LT(peak_kib(server.pid), 512u << 10);  // a body read whole would take 1 GiB
  EXPECT_EQ(server.get("/pi").body, "brackwen");
}

// A client that reads its large reply slowly keeps its own connection busy, not the loop.
TEST(Server, AStalledReaderDelaysNobodyElse) {
  ServerProcess server;
  server.write_static("big.txt", std::string(64 << 20, 'x'));
  int slow = server.open_connection("GET /r/big.txt HTTP/1.1\r\n" + host_header(server) + "\r\n");
  ASSERT_GE(slow, 0);
  std::atomic<bool> done = false;
  std::thread reader([&] {
    char buffer[4096];
    while (!done && ::recv(slow, buffer, sizeof buffer, 0) > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  auto client = server.client();
  client->set_read_timeout(std::chrono::seconds(30));
  for (int i = 0; i < 5; ++i) {
    auto reply = client->Post("/f/git_version", "{\"repoPath\":\"/tmp\"}", "text/plain");
    EXPECT_TRUE(reply && reply->status == 200) << i;
  }
  done = true;
  ::shutdown(slow, SHUT_RDWR);
  reader.join();
  ::close(slow);
}

}  // namespace
}  // namespace brackwen
