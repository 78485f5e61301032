// The running server end to end: port line, routing, exit, which requests count as the user's
// own, and connections, bodies and readers that must not hold the request loop.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "support/requests.hpp"
#include "support/server_harness.hpp"

namespace brackwen {
namespace {

using test::HttpReply;
using test::ServerProcess;

std::string host_header(const ServerProcess& server) {
  return "Host: 127.0.0.1:" + std::to_string(server.port) + "\r\n";
}

TEST(Server, PortLineThenRoutesOnTheRawTarget) {
  ServerProcess server;
  std::string digits = std::to_string(server.port);
  EXPECT_EQ(server.port_line, "PORT:" + digits + std::string(12 - digits.size(), ' ') + "\n");
  const std::pair<const char*, int> cases[] = {
      {"/pi", 200},
      {"/ping", 200},
      {"/pi?x=1", 200},
      {"/f/git_version?x=1", 500},
      {"/f/git_version/", 500},
      {"/F/git_version", 500},
      {"/f/GIT_VERSION", 500},
      {"/f/git%5Fversion", 500},
      {"/f/", 500},
      {"/", 500},
      {"/p\xc3\xa9", 500},
      {"/nothing", 500},
  };
  for (int round = 0; round < 3; ++round) {
    for (const auto& [target, status] : cases) {
      HttpReply reply = server.post(target, R"({"repoPath":"/tmp"})");
      EXPECT_EQ(reply.status, status) << target;
      EXPECT_EQ(reply.body, status == 200 ? "brackwen" : "") << target;
    }
  }
  HttpReply probe = server.send("DELETE", "/pi", "anything", {});
  EXPECT_EQ(probe.content_type, "text/plain; charset=UTF-8");
  EXPECT_EQ(server.send("OPTIONS", "/pi", "", {}).body, "brackwen");
  // A GET carries no body: dropped like an empty one.
  EXPECT_EQ(server.send("GET", "/f/git_version", "", {}).status, 500);
  EXPECT_EQ(server.stderr_text(), "");
}

// A git first on PATH that logs each run with the environment it saw, and knows its version
// only once the file "ready" exists beside it.
TEST(Server, StartsWithPromptsOffAndAsksGitsVersionUntilItAnswers) {
  test::TempDir dir;
  std::ofstream(dir.path / "git") << "#!/bin/sh\necho \"$GIT_TERMINAL_PROMPT|$PATH|$*\" >> $0.log\n"
                                  << "[ -e $0.ready ] || exit 1\necho 'git version 2.41.3'\n";
  std::filesystem::permissions(dir.path / "git", std::filesystem::perms::owner_all);
  std::string path = dir.str() + ":/usr/bin:/bin";
  ServerProcess server({{"PATH", path}, {"GIT_TERMINAL_PROMPT", "1"}});
  EXPECT_EQ(test::read_file(dir.path / "git.log"), "0|" + path + ":/usr/local/bin|--version\n");
  const std::string body = R"({"repoPath":"/tmp"})",
                    version = R"({"major":2,"minor":41,"patch":3})";
  EXPECT_EQ(server.post("/f/git_version", body).body, "null");
  std::ofstream(dir.path / "git.ready");
  EXPECT_EQ(server.post("/f/git_version", body).body, version);
  EXPECT_EQ(server.post("/f/git_version", body).body, version);
  std::string log = test::read_file(dir.path / "git.log");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;  // start-up and two asks
}

TEST(Server, ExitRepliesCompletelyThenEndsWithStatusZero) {
  for (const char* method : {"GET", "POST"}) {
    ServerProcess server;
    HttpReply reply = server.send(method, "/exit", "a body", {});
    EXPECT_EQ(reply.body, "Brackwen core exiting...");
    EXPECT_EQ(reply.content_type, "text/plain; charset=UTF-8");
    EXPECT_EQ(server.wait_for_exit(), 0) << method;
  }
  ServerProcess bare;
  // What `curl -X POST` sends: neither Content-Length nor Transfer-Encoding, so no body.
  std::string reply = bare.raw("POST /ex HTTP/1.1\r\n" + host_header(bare) + "\r\n");
  EXPECT_NE(reply.find("\r\n\r\nBrackwen core exiting..."), std::string::npos) << reply;
  EXPECT_EQ(bare.wait_for_exit(), 0);
  ServerProcess kept;
  auto client = kept.client();
  EXPECT_EQ(client->Get("/pi")->body, "brackwen");
  auto last = client->Post("/ex", "", "text/plain");
  EXPECT_TRUE(last && last->body == "Brackwen core exiting...");
  EXPECT_EQ(kept.wait_for_exit(), 0);
}

// Only the user's own pages: the Host and Origin name this server, and a browser's
// Sec-Fetch-Site says the request comes from no other site. "/ex" included.
TEST(Server, DropsRequestsFromOtherSites) {
  ServerProcess server;
  std::string port = std::to_string(server.port);
  const std::pair<std::string, bool> cases[] = {
      {"Host: 127.0.0.1:P", true},
      {"Host: localhost:P", true},
      {"Host: LocalHost:P", true},
      {"Host: 127.0.0.1:P\r\nOrigin: http://127.0.0.1:P", true},
      {"Host: localhost:P\r\nOrigin: HTTP://LOCALHOST:P", true},
      {"Host: 127.0.0.1:P\r\nSec-Fetch-Site: same-origin", true},
      {"Host: 127.0.0.1:P\r\nSec-Fetch-Site: none", true},
      {"", false},
      {"Host: evil.example:P", false},  // DNS rebinding: a foreign name for 127.0.0.1
      {"Host: 127.0.0.1", false},
      {"Host: 127.0.0.1:80", false},
      {"Host: 127.0.0.1:P0", false},
      {"Host: 127.0.0.1:P\r\nHost: 127.0.0.1:P", false},
      {"Host: 127.0.0.1:P\r\nOrigin: http://evil.example", false},
      {"Host: 127.0.0.1:P\r\nOrigin: null", false},
      {"Host: 127.0.0.1:P\r\nOrigin: https://127.0.0.1:P", false},
      {"Host: 127.0.0.1:P\r\nOrigin: http://127.0.0.1:1", false},
      {"Host: 127.0.0.1:P\r\nOrigin: http://127.0.0.1:P/", false},
      {"Host: 127.0.0.1:P\r\nOrigin: http://127.0.0.1:P\r\nOrigin: http://evil.example", false},
      // What an <img> tag on another site sends: no Origin, but where it comes from.
      {"Host: 127.0.0.1:P\r\nSec-Fetch-Site: cross-site", false},
      {"Host: 127.0.0.1:P\r\nSec-Fetch-Site: same-site", false},
      {"Host: 127.0.0.1:P\r\nSec-Fetch-Site: none\r\nSec-Fetch-Site: cross-site", false},
  };
  for (const char* target : {"/pi", "/f/git_version", "/ex"}) {
    for (auto [headers, own] : cases) {
      if (own && target == std::string("/ex")) continue;
      for (size_t at; (at = headers.find(":P")) != std::string::npos;)
        headers.replace(at, 2, ":" + port);
      std::string reply = server.raw(std::string("POST ") + target + " HTTP/1.1\r\n" + headers +
                                     "\r\nContent-Length: 19\r\nConnection: close\r\n\r\n" +
                                     R"({"repoPath":"/tmp"})");
      EXPECT_TRUE(reply.starts_with(own ? "HTTP/1.1 200" : "HTTP/1.1 500"))
          << target << " " << headers;
    }
  }
  EXPECT_EQ(server.get("/pi").body, "brackwen");  // "/ex" was never obeyed
}

TEST(Server, ConnectionsThatIdleTrickleOrLeaveHoldNobody) {
  ServerProcess server;
  server.write_static("big.txt", std::string(8 << 20, 'x'));
  std::string post = "POST /f/git_version HTTP/1.1\r\n" + host_header(server);
  // Half a request, and a body that never comes: the whole-request deadline closes both.
  int half = server.open_connection("POST /pi HTTP/1.1\r\n" + host_header(server));
  int trickle = server.open_connection(post + "Content-Length: 100\r\n\r\n{");
  // Replies to connections that are already gone.
  for (int i = 0; i < 3; ++i) {
    server.send_and_leave("GET /r/big.txt HTTP/1.1\r\n" + host_header(server) + "\r\n");
    server.send_and_leave(post + "Content-Length: 17\r\n\r\n{\"repoPath\":\"/\"}");
  }
  auto first = server.client(), second = server.client();
  for (int i = 0; i < 20; ++i) {
    auto a = first->Post("/pi", "", "text/plain");
    auto b = second->Get("/pi");
    ASSERT_TRUE(a && b && a->body == "brackwen" && b->body == "brackwen") << i;
  }
  EXPECT_EQ(server.get("/r/big.txt").body.size(), 8u << 20);
  for (int fd : {half, trickle}) {
    EXPECT_TRUE(test::eventually(
        [&] {
          char byte;
          ::send(fd, "x", 1, MSG_NOSIGNAL);
          return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0 || errno == ECONNRESET || errno == EPIPE;
        },
        std::chrono::seconds(90)))
        << "a connection outlived the request deadline";
    ::close(fd);
  }
}

// Another account's connections are closed before anything is read, so neither its requests
// nor its idle connections reach the request loop.
TEST(Server, AnotherAccountIsClosedUnansweredAndDelaysNobody) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to connect as another account";
  ServerProcess server;
  const std::string probe = "GET /pi HTTP/1.1\r\n" + host_header(server) + "\r\n";
  sockaddr_in address{AF_INET, htons(server.port), {htonl(INADDR_LOOPBACK)}, {}};
  int report[2], hold[2];
  ASSERT_EQ(::pipe(report), 0);
  ASSERT_EQ(::pipe(hold), 0);
  pid_t child = ::fork();
  if (child == 0) {  // only system calls from here: other threads of the test may hold locks
    ::close(hold[1]);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    for (int i = 0; i < 300; ++i) {  // idle connections, held until the test is done
      ::connect(::socket(AF_INET, SOCK_STREAM, 0), reinterpret_cast<sockaddr*>(&address),
                sizeof address);
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
  EXPECT_EQ(server.get("/pi").body, "brackwen");
  ::close(hold[1]);
  ::waitpid(child, nullptr, 0);
  for (int fd : {report[0], report[1], hold[0]}) ::close(fd);
}

// Sends the head of a request and then up to 1 GiB of body while the server lets it; the
// status line it answers.
std::string status_for_large_body(const ServerProcess& server, const std::string& head,
                                  const std::string& piece) {
  int fd = server.open_connection(head);
  for (size_t sent = 0; sent < (1u << 30); sent += piece.size()) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 || ::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) < 0) break;
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
  EXPECT_EQ(status_for_large_body(server, post + "Content-Length: 1073741824\r\n\r\n", chunk),
            "HTTP/1.1 413 Payload Too Large");
  EXPECT_EQ(status_for_large_body(server, post + "Transfer-Encoding: chunked\r\n\r\n",
                                  "100000\r\n" + chunk + "\r\n"),
            "HTTP/1.1 413 Payload Too Large");
  std::ifstream status("/proc/" + std::to_string(server.pid) + "/status");
  std::string line;
  while (std::getline(status, line) && !line.starts_with("VmHWM:")) {
  }
  EXPECT_LT(std::stoul(line.substr(6)), 512u << 10);  // a body read whole would take 1 GiB
  EXPECT_EQ(server.get("/pi").body, "brackwen");
}

// A client that reads its large reply slowly keeps its own connection busy, not the loop.
TEST(Server, AStalledReaderDelaysNobodyElse) {
  ServerProcess server;
  server.write_static("big.txt", std::string(64 << 20, 'x'));
  int slow = server.open_connection("GET /r/big.txt HTTP/1.1\r\n" + host_header(server) + "\r\n");
  char byte;
  ASSERT_EQ(::recv(slow, &byte, 1, 0), 1);  // the reply has started and is not read further
  auto client = server.client();
  client->set_read_timeout(std::chrono::seconds(30));
  for (int i = 0; i < 5; ++i) {
    auto reply = client->Post("/f/git_version", R"({"repoPath":"/tmp"})", "text/plain");
    EXPECT_TRUE(reply && reply->status == 200) << i;
  }
  ::close(slow);
}

}  // namespace
}  // namespace brackwen
