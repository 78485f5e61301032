// The running server end to end: port line, routing, exit, which requests count as the user's
// own, and connections, bodies and readers that must not hold the request loop.
#include <gtest/gtest.h>

#include "support/no_sock_diag.hpp"
#include "support/server_harness.hpp"

namespace brackwen {
namespace {

using test::HttpReply;
using test::ServerProcess;

std::string host_header(const ServerProcess& server) {
  return "Host: 127.0.0.1:" + std::to_string(server.port) + "\r\n";
}

TEST(Server, PortLineThenRoutesOnTheRawTargetForOwnSitesOnly) {
  ServerProcess server;
  std::string digits = std::to_string(server.port);
  EXPECT_EQ(server.port_line, "PORT:" + digits + std::string(12 - digits.size(), ' ') + "\n");
  for (const char* target : {"/pi", "/ping", "/pi?x=1"}) {
    EXPECT_EQ(server.post(target, "").body, "brackwen") << target;
  }
  for (const char* target : {"/f/git_version?x=1", "/f/git_version/", "/F/git_version",
                             "/f/git%5Fversion", "/f/", "/", "/p\xc3\xa9", "/nothing"}) {
    HttpReply reply = server.post(target, R"({"repoPath":"/tmp"})");
    EXPECT_EQ(std::to_string(reply.status) + reply.body, "500") << target;
  }
  HttpReply probe = server.send("DELETE", "/pi", "anything");
  EXPECT_EQ(probe.content_type, "text/plain; charset=UTF-8");
  EXPECT_EQ(server.send("OPTIONS", "/pi", "").body, "brackwen");
  // A GET carries no body: dropped like an empty one.
  EXPECT_EQ(server.send("GET", "/f/git_version", "").status, 500);
  EXPECT_EQ(server.stderr_so_far(), "");
  // Only the user's own pages: the Host and Origin name this server, and a browser's
  // Sec-Fetch-Site says the request comes from no other site. "/ex" included.
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
        headers.replace(at, 2, ":" + digits);
      std::string reply = server.raw(std::string("POST ") + target + " HTTP/1.1\r\n" + headers +
                                     "\r\nContent-Length: 19\r\nConnection: close\r\n\r\n" +
                                     R"({"repoPath":"/tmp"})");
      EXPECT_TRUE(reply.starts_with(own ? "HTTP/1.1 200" : "HTTP/1.1 500"))
          << target << " " << headers;
    }
  }
  EXPECT_EQ(server.get("/pi").body, "brackwen");  // "/ex" was never obeyed
}

// A git first on PATH that logs each run with the environment it saw, and knows its version
// only once the file "ready" exists beside it. "/usr/local/bin" joins PATH unless an entry
// mentions it already or PATH is not UTF-8.
TEST(Server, StartsWithPromptsOffAndAsksGitsVersionUntilItAnswers) {
  test::TempDir dir;
  std::ofstream(dir.path / "git") << "#!/bin/sh\necho \"$GIT_TERMINAL_PROMPT|$PATH|$*\" >> $0.log\n"
                                  << "[ -e $0.ready ] || exit 1\necho 'git version 2.41.3'\n";
  std::filesystem::permissions(dir.path / "git", std::filesystem::perms::owner_all);
  std::unique_ptr<ServerProcess> server;
  for (auto [rest, added] : {std::pair{":/x/usr/local/bin2", ""},
                             {":/bad\xff", ""},
                             {":/opt/USR/LOCAL/BIN", ":/usr/local/bin"},
                             {":/usr/bin:/bin", ":/usr/local/bin"}}) {
    std::filesystem::remove(dir.path / "git.log");
    server = std::make_unique<ServerProcess>(
        test::Environment{{"PATH", dir.str() + rest}, {"GIT_TERMINAL_PROMPT", "1"}});
    EXPECT_EQ(test::read_file(dir.path / "git.log"),
              "0|" + dir.str() + rest + added + "|--version\n");
  }
  const std::string body = R"({"repoPath":"/tmp"})",
                    version = R"({"major":2,"minor":41,"patch":3})";
  EXPECT_EQ(server->post("/f/git_version", body).body, "null");
  std::ofstream(dir.path / "git.ready");
  EXPECT_EQ(server->post("/f/git_version", body).body, version);
  EXPECT_EQ(server->post("/f/git_version", body).body, version);
  std::string log = test::read_file(dir.path / "git.log");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;  // start-up and two asks
  ServerProcess odd(test::Environment{{"TMPDIR", "/tmp/\xff"}});
  EXPECT_EQ(odd.post("/f/temp_dir", "\"\"").body, "null");  // not UTF-8: no text to answer
}

TEST(Server, ExitRepliesCompletelyThenEndsWithStatusZero) {
  for (const char* method : {"GET", "POST"}) {
    ServerProcess server;
    HttpReply reply = server.send(method, "/exit", "a body");
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

// A HEAD reply is headers only, whatever form the reply takes (text, a streamed history, a
// file, a dropped request), so a keep-alive client reads the next reply from its first byte.
TEST(Server, HeadRepliesCarryNoBodyAndTheConnectionGoesOn) {
  ServerProcess server;
  server.write_static("page.txt", "twelve bytes");
  test::TempRepo repo;
  repo.commit_file("a.txt", "a\n", "one");
  const std::string history = R"({"repoPath":)" + test::quoted(repo.str()) +
                              R"(,"numCommits":10,"filters":[],"fast":false,"skipStashes":false})";
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"/pi", "", "HTTP/1.1 200 OK\r\n|Content-Length: 8\r\n"},
      {"/f/load_commits_and_refs", history, "HTTP/1.1 200 OK\r\n|Transfer-Encoding: chunked\r\n"},
      {"/r/page.txt", "", "HTTP/1.1 200 OK\r\n|Content-Length: 12\r\n"},
      {"/nothing", "", "HTTP/1.1 500 Internal Server Error\r\n|Content-Length: 0\r\n"},
  };
  const std::string next =
      "GET /pi HTTP/1.1\r\n" + host_header(server) + "Connection: close\r\n\r\n";
  for (const auto& [target, body, head] : cases) {
    std::string both =
        server.raw("HEAD " + target + " HTTP/1.1\r\n" + host_header(server) +
                   "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body + next);
    size_t head_end = both.find("\r\n\r\n") + 4;
    std::string first = both.substr(0, head_end), second = both.substr(head_end);
    size_t bar = head.find('|');
    EXPECT_TRUE(first.starts_with(head.substr(0, bar))) << target << "\n" << first;
    EXPECT_NE(first.find(head.substr(bar + 1)), std::string::npos) << target << "\n" << first;
    EXPECT_TRUE(second.starts_with("HTTP/1.1 200 OK\r\n") && second.ends_with("\r\n\r\nbrackwen"))
        << target << "\n"
        << second;
  }
}

// A stalled reader of a large reply, half a request, a body that trickles, replies to clients
// already gone: none of them holds the request loop, and the whole-request deadline closes
// the connections that never complete a request.
TEST(Server, NoConnectionHoldsTheLoop) {
  ServerProcess server;
  server.write_static("big.txt", std::string(64 << 20, 'x'));
  std::string get = "GET /r/big.txt HTTP/1.1\r\n" + host_header(server) + "\r\n";
  std::string post = "POST /f/git_version HTTP/1.1\r\n" + host_header(server);
  int stalled = server.open_connection(get);
  char byte;
  ASSERT_EQ(::recv(stalled, &byte, 1, 0), 1);  // the reply has begun and is read no further
  int half = server.open_connection("POST /pi HTTP/1.1\r\n" + host_header(server));
  int trickle = server.open_connection(post + "Content-Length: 100\r\n\r\n{");
  ::close(server.open_connection(post + "Expect: 100-continue\r\nContent-Length: 15\r\n\r\n"));
  for (int i = 0; i < 3; ++i) {
    ::close(server.open_connection(get));
    ::close(server.open_connection(post + "Content-Length: 17\r\n\r\n{\"repoPath\":\"/\"}"));
  }
  auto first = server.client(), second = server.client();
  for (int i = 0; i < 20; ++i) {
    auto a = first->Post("/f/git_version", R"({"repoPath":"/tmp"})", "text/plain");
    auto b = second->Get("/pi");
    ASSERT_TRUE(a && b && a->status == 200 && b->body == "brackwen") << i;
  }
  // About a byte a second: the trickle neither completes the body nor reaches the header cap,
  // so only the deadline can end these connections.
  for (int fd : {half, trickle}) {
    int polls = 0;
    EXPECT_TRUE(test::eventually(
        [&] {
          if (++polls % 200 == 0) ::send(fd, "x", 1, MSG_NOSIGNAL);
          return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0 || errno == ECONNRESET || errno == EPIPE;
        },
        std::chrono::seconds(90)))
        << "a connection outlived the request deadline";
  }
  for (int fd : {stalled, half, trickle}) ::close(fd);
}

// Another account's connections are closed before anything is read, so neither its requests
// nor its idle connections reach the request loop.
TEST(Server, AnotherAccountIsClosedUnansweredAndDelaysNobody) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to connect as another account";
  ServerProcess server;
  // "/ex" included: it would end the server.
  const std::string probe =
      "POST /ex HTTP/1.1\r\n" + host_header(server) + "Content-Length: 0\r\n\r\n";
  sockaddr_in address{AF_INET, htons(server.port), {htonl(INADDR_LOOPBACK)}, {}};
  auto to_server = [&](int fd) {
    return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  };
  int channel[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, channel), 0);
  pid_t child = ::fork();
  if (child == 0) {  // only system calls from here: other threads of the test may hold locks
    if (::close(channel[0]) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    for (int i = 0; i < 300; ++i) to_server(::socket(AF_INET, SOCK_STREAM, 0));  // left idle
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    char got =
        to_server(fd) && ::write(fd, probe.data(), probe.size()) > 0 && ::read(fd, &got, 1) > 0
            ? 'a'
            : 'n';
    (void)!::write(channel[1], &got, 1);
    ::_exit(static_cast<int>(::read(channel[1], &got, 1)));  // holds on until the test is done
  }
  char got = 0;
  ASSERT_EQ(::read(channel[0], &got, 1), 1);
  EXPECT_EQ(got, 'n') << "another account's request was answered";
  EXPECT_EQ(server.get("/pi").body, "brackwen");
  ::close(channel[0]);
  ::waitpid(child, nullptr, 0);
  ::close(channel[1]);
}

// The read calls the process has made so far (the kernel's count of read() and its kin;
// sockets are read with recvmsg, which it leaves out).
uint64_t read_calls(pid_t pid) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  for (std::string line; std::getline(io, line);)
    if (line.starts_with("syscr:")) return std::stoull(line.substr(6));
  return 0;
}

// Another account's connections that close at once are refused without reading /proc's socket
// tables per connection: not at all while socket diagnostics answer, and only now and then
// where the kernel refuses them and the tables are all there is. The user is served in both.
TEST(Server, AnotherAccountsFloodReadsNoSocketTablePerConnection) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to connect as another account";
  constexpr int FLOOD = 300;
  for (bool netlink : {true, false}) {
    std::unique_ptr<ServerProcess> server;
    auto start = [&] { server = std::make_unique<ServerProcess>(); };
    if (netlink)
      start();
    else
      ASSERT_TRUE(test::start_without_sock_diag(start)) << "no seccomp filter";
    uint64_t before = read_calls(server->pid);
    ASSERT_EQ(server->get("/pi").body, "brackwen") << netlink;
    // What one check of the user's own connection cost: one read of the tables without
    // netlink, none with it. The whole flood may cost a tenth of that per connection.
    uint64_t one_check = read_calls(server->pid) - before;
    sockaddr_in address{AF_INET, htons(server->port), {htonl(INADDR_LOOPBACK)}, {}};
    int channel[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, channel), 0);
    pid_t child = ::fork();
    if (child == 0) {  // only system calls from here: other threads of the test may hold locks
      if (::close(channel[0]) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
      // A third closed at once, a third with a reset, which leaves no socket behind, and a
      // third kept open until the test is done.
      linger reset{1, 0};
      for (int i = 0; i < FLOOD; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        (void)::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        if (i % 3 == 1) ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        if (i % 3 != 2) ::close(fd);
      }
      char done = 'd';
      (void)!::write(channel[1], &done, 1);
      ::_exit(static_cast<int>(::read(channel[1], &done, 1)));  // holds on until told
    }
    ::close(channel[1]);
    char done = 0;
    ASSERT_EQ(::read(channel[0], &done, 1), 1);
    // Accepted after every connection of the flood, so checked after them too.
    EXPECT_EQ(server->get("/pi").body, "brackwen") << netlink;
    uint64_t flood_cost = read_calls(server->pid) - before - one_check;
    // The server's sweep for ended children reads their list once per signal; on a busy
    // machine the signal of the git it ran at start may be taken only now.
    constexpr uint64_t LATE_SWEEPS = 2;
    EXPECT_LE(flood_cost, one_check * FLOOD / 10 + LATE_SWEEPS) << netlink;
    ::close(channel[0]);
    ::waitpid(child, nullptr, 0);
  }
}

// A connection whose owner nothing can name is nobody's: with no socket tables in /proc (an
// empty one mounted over it, in a mount namespace of the server's own), the user is served
// while socket diagnostics answer and refused once they are refused too.
TEST(Server, ConnectionWhoseOwnerIsUnknownIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount over /proc";
  // The server still finds its own path there: the static-file root is beside it.
  const std::vector<std::string> without_proc = {
      "unshare",
      "--mount",
      "--propagation",
      "private",
      "sh",
      "-c",
      "mount -t tmpfs none /proc && mkdir /proc/self && ln -s \"$0\" /proc/self/exe && "
      "exec \"$0\""};
  for (bool netlink : {true, false}) {
    std::unique_ptr<ServerProcess> server;
    auto start = [&] {
      server =
          std::make_unique<ServerProcess>(test::Environment{}, test::PipesRead{}, without_proc);
    };
    if (netlink)
      start();
    else
      ASSERT_TRUE(test::start_without_sock_diag(start)) << "no seccomp filter";
    ASSERT_NE(server->port, 0);
    EXPECT_EQ(server->get("/pi").body, netlink ? "brackwen" : "") << netlink;
    // Refused, not fallen over.
    EXPECT_EQ(::waitpid(server->pid, nullptr, WNOHANG), 0) << netlink;
  }
}

// Sends `head` and then up to 1 GiB of `piece`s while the server lets it; the status line it
// answers.
std::string status_for(const ServerProcess& server, const std::string& head,
                       const std::string& piece) {
  int fd = server.open_connection(head);
  for (size_t sent = 0; sent < (1u << 30) && !piece.empty(); sent += piece.size()) {
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

// Bodies over the cap, headers over theirs, and broken framing are answered with an error
// before the rest is read; memory stays low and the server goes on.
TEST(Server, OversizedOrBrokenRequestsAreRefusedUnread) {
  ServerProcess server;
  std::string post = "POST /f/write_file HTTP/1.1\r\n" + host_header(server), many = post;
  for (int i = 0; i < 5000; ++i) many += "X-" + std::to_string(i) + ": v\r\n";
  std::string mib(1 << 20, 'x'), too_large = "HTTP/1.1 413 Payload Too Large",
                                 bad = "HTTP/1.1 400 Bad Request";
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {post + "Content-Length: 1073741824\r\n\r\n", mib, too_large},
      {post + "Transfer-Encoding: chunked\r\n\r\n", "100000\r\n" + mib + "\r\n", too_large},
      {post + "X-Long: " + std::string(100000, 'a') + "\r\n\r\n", "",
       "HTTP/1.1 431 Request Header Fields Too Large"},
      {many + "\r\n", "", "HTTP/1.1 431 Request Header Fields Too Large"},
      {post + "Content-Length: -5\r\n\r\n", "", bad},
      {post + "Content-Length: 3\r\nContent-Length: 9\r\n\r\n", "", bad},
      {post + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", "", bad},
      {"GARBAGE\r\n\r\n", "", bad},
  };
  for (const auto& [head, piece, status] : cases) {
    EXPECT_EQ(status_for(server, head, piece), status) << head.substr(0, 80);
  }
  EXPECT_LT(server.status_kib("VmHWM:"), 512u << 10);  // a body read whole would take 1 GiB
  EXPECT_EQ(server.get("/pi").body, "brackwen");
}

}  // namespace
}  // namespace brackwen
