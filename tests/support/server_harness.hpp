// End-to-end tests against the built server: a private copy of the binary in a temporary
// tree (so the static-file root is the tree), a private HOME, its output kept for assertions.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "support/requests.hpp"
#include "support/temp_repo.hpp"

extern char** environ;

namespace brackwen::test {

struct HttpReply {
  int status = 0;  // 0 when no reply arrived
  std::string body, content_type;
};

inline HttpReply reply_of(const httplib::Result& r) {
  return r ? HttpReply{r->status, r->body, r->get_header_value("Content-Type")} : HttpReply{};
}

using Environment = std::vector<std::pair<std::string, std::string>>;

// The pipes read after the port line; one left unread is a front end that stopped reading it.
struct PipesRead {
  bool out = true, err = true;
};

// The server: <root>/a/b/brackwen-core, so that the static-file root is <root> itself.
struct ServerProcess {
  // Starts the server with HOME and the XDG directories under a private folder and `extra`
  // set (or replaced) in its environment, and reads its port line, then the pipes in `read`.
  // A `prefix` runs first and gets the server's path as its last argument.
  explicit ServerProcess(const Environment& extra = {}, PipesRead read = {},
                         std::vector<std::string> prefix = {})
      : root(tree.path), home(tree.path / "home") {
    std::filesystem::path binary = root / "a/b/brackwen-core";
    std::filesystem::create_directories(binary.parent_path());
    std::filesystem::create_directories(home);
    std::error_code ec;
    std::filesystem::create_hard_link(BRACKWEN_BINARY, binary, ec);
    if (ec) std::filesystem::copy_file(BRACKWEN_BINARY, binary);
    std::map<std::string, std::string> changes = {
        {"HOME", home.string()},
        {"XDG_CONFIG_HOME", (home / ".config").string()},
        {"XDG_CACHE_HOME", (home / ".cache").string()},
        {"XDG_DATA_HOME", (home / ".local/share").string()},
        {"GIT_CONFIG_NOSYSTEM", "1"}};
    for (const auto& [name, value] : extra) changes[name] = value;
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
      if (!changes.contains(std::string(*entry, std::strcspn(*entry, "=")))) env.push_back(*entry);
    }
    for (const auto& [name, value] : changes) env.push_back(name + "=" + value);
    prefix.push_back(binary.string());
    spawn(prefix, env);
    for (std::string got = "-"; pid > 0 && port_line.size() < 18 && !got.empty();)
      port_line += got = read_some(fds[0], 18 - port_line.size());
    if (port_line.size() != 18 || !port_line.starts_with("PORT:"))
      ADD_FAILURE() << "no port line, got \"" << port_line << "\"";
    else
      port = static_cast<uint16_t>(std::stoul(port_line.substr(5)));
    drainer = std::thread([this, read] { drain(read); });
  }

  ~ServerProcess() {
    if (pid > 0 && !exited) stop();
    stopping = true;
    if (drainer.joinable()) drainer.join();
    for (int fd : fds) ::close(fd);
  }

  HttpReply post(const std::string& path, const std::string& body) const {
    return send("POST", path, body);
  }
  HttpReply get(const std::string& path) const { return send("GET", path, ""); }
  // GET, POST, DELETE or OPTIONS on a new connection.
  HttpReply send(const std::string& method, const std::string& path,
                 const std::string& body) const {
    auto cli = client();
    if (method == "GET") return reply_of(cli->Get(path));
    if (method == "OPTIONS") return reply_of(cli->Options(path));
    if (method == "DELETE") return reply_of(cli->Delete(path, body, "text/plain"));
    return reply_of(cli->Post(path, body, "text/plain"));
  }

  // A client for this server that keeps its connection open between requests.
  std::unique_ptr<httplib::Client> client() const {
    auto cli = std::make_unique<httplib::Client>("127.0.0.1", port);
    cli->set_keep_alive(true);
    // The library writes the headers and the body separately; without this each request
    // waits for the server's delayed ACK (40 ms).
    cli->set_tcp_nodelay(true);
    cli->set_url_encode(false);  // targets go out exactly as the test wrote them
    cli->set_read_timeout(std::chrono::seconds(60));
    return cli;
  }

  // Sends `bytes` on a new connection and returns everything read until the server closes
  // it (send "Connection: close") or 10 s pass.
  std::string raw(const std::string& bytes) const {
    int fd = open_connection(bytes);
    std::string reply;
    for (std::string got = "-"; fd >= 0 && !got.empty();) reply += got = read_some(fd, 65536);
    if (fd >= 0) ::close(fd);
    return reply;
  }
  // Sends `bytes` on a new connection and returns its socket (-1 on failure) to the caller.
  int open_connection(const std::string& bytes) const {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size())) {
      return fd;
    }
    ::close(fd);
    return -1;
  }

  void write_static(const std::string& relative, const std::string& content) const {
    std::filesystem::create_directories((root / relative).parent_path());
    std::ofstream(root / relative, std::ios::binary) << content;
  }

  // The value of a line of /proc/<pid>/status such as "VmRSS:" (in KiB); 0 when missing.
  size_t status_kib(const std::string& key) const {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.starts_with(key)) return std::stoul(line.substr(key.size()));
    return 0;
  }
  // The exit status once the process has ended (killed after 10 s), 128 + signal if killed.
  int wait_for_exit() {
    int raw = 0;
    if (!exited && !eventually([&] { return ::waitpid(pid, &raw, WNOHANG) == pid; },
                               std::chrono::seconds(10))) {
      ADD_FAILURE() << "server did not exit";
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &raw, 0);
    }
    if (!exited) status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    exited = true;
    return status;
  }
  // Waits up to 10 s until standard output contains `text`; check lines are written by a
  // thread of the server, so they may trail the reply.
  bool wait_for_stdout(const std::string& text) const {
    return eventually([&] { return stdout_text().find(text) != std::string::npos; },
                      std::chrono::seconds(10));
  }
  std::string stdout_text() const {
    std::lock_guard lock(mutex);
    return port_line + texts[0];
  }
  // Standard error as read so far. The server writes its lines through a queue that may trail
  // the reply: a check of what a request wrote reads stderr_so_far instead.
  std::string stderr_text() const {
    std::lock_guard lock(mutex);
    return texts[1];
  }
  // Everything the server wrote on standard error for the requests answered before now, the
  // harness's own marker lines left out: the marker request's line is queued after them, and
  // lines are written in order, so once it has come they all have. A test that posts the
  // marker request itself reads stderr_text.
  std::string stderr_so_far() const {
    static const std::string marker = "poll_action2: Requested action id of 0\n";
    post("/f/poll_action2", "{\"actionId\":0}");
    size_t sent = ++markers_sent;
    std::string text;
    EXPECT_TRUE(eventually([&] {
      text = stderr_text();
      return std::ranges::count(lines_of(text), marker) >= static_cast<ptrdiff_t>(sent);
    })) << "the marker line never came: "
        << text;
    std::string before;
    size_t seen = 0;
    for (std::string_view line : lines_of(text)) {
      if (line != marker) before += line;
      if (line == marker && ++seen == sent) break;
    }
    return before;
  }

  TempDir tree;
  std::filesystem::path root;  // the static-file root
  std::filesystem::path home;
  pid_t pid = -1;
  uint16_t port = 0;
  std::string port_line;  // the first 18 bytes of standard output

 private:
  // A coverage build's server writes its line counts when asked to end by SIGTERM; SIGKILL
  // ends one that does not.
  void stop() const {
#ifdef BRACKWEN_COVERAGE
    ::kill(pid, SIGTERM);
    if (eventually([&] { return ::waitpid(pid, nullptr, WNOHANG) == pid; },
                   std::chrono::seconds(10))) {
      return;
    }
#endif
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }

  // The lines of `text`, each with its "\n"; a last one without it is left out, being still
  // written.
  static std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    for (size_t end; (end = text.find('\n')) != text.npos; text.remove_prefix(end + 1))
      lines.push_back(text.substr(0, end + 1));
    return lines;
  }

  // What arrives on `fd` within 10 s: up to `most` bytes, none at its end or on timeout.
  static std::string read_some(int fd, size_t most) {
    pollfd p{fd, POLLIN, 0};
    std::string text(most, '\0');
    ssize_t got = ::poll(&p, 1, 10000) > 0 ? ::read(fd, text.data(), most) : 0;
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
  }

  void spawn(std::vector<std::string>& argv, std::vector<std::string>& env) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    auto pointers = [](std::vector<std::string>& texts) {
      std::vector<char*> out;
      for (std::string& text : texts) out.push_back(text.data());
      out.push_back(nullptr);
      return out;
    };
    int rc = ::posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, pointers(argv).data(),
                            pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]), ::close(err[1]);
    fds[0] = out[0], fds[1] = err[0];
    if (rc != 0) ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(rc);
    pid = rc == 0 ? pid : -1;
  }

  void drain(PipesRead read) {
    // poll skips negative descriptors.
    pollfd polled[2] = {{read.out ? fds[0] : -1, POLLIN, 0}, {read.err ? fds[1] : -1, POLLIN, 0}};
    // A child of the server that kept the pipes open must not hold up the destructor.
    while ((polled[0].fd >= 0 || polled[1].fd >= 0) && !stopping) {
      if (::poll(polled, 2, 100) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if (polled[i].fd < 0 || polled[i].revents == 0) continue;
        char buffer[65536];
        ssize_t got = ::read(polled[i].fd, buffer, sizeof buffer);
        std::lock_guard lock(mutex);
        if (got > 0) texts[i].append(buffer, static_cast<size_t>(got));
        if (got == 0) polled[i].fd = -1;
      }
    }
  }

  int fds[2] = {-1, -1};  // standard output and error
  bool exited = false;
  std::atomic<bool> stopping = false;
  int status = -1;
  mutable std::atomic<size_t> markers_sent = 0;
  mutable std::mutex mutex;
  std::string texts[2];
  std::thread drainer;
};

// The poll of a diff search of `repo` for `text` (a JSON string) once it is complete, the search
// started from the first commit with `num_results` as its limit.
inline std::string completed_diff_search(const ServerProcess& server,
                                         const std::filesystem::path& repo, const std::string& text,
                                         const std::string& num_results) {
  std::string id = server
                       .post("/f/start_diff_search", body({{"repoPath", quoted(repo.string())},
                                                           {"searchText", text},
                                                           {"numResults", num_results},
                                                           {"startCommitIndex", "0"}}))
                       .body;
  std::string poll;
  EXPECT_TRUE(eventually(
      [&] {
        poll = server.post("/f/poll_diff_search", body({{"searchId", id}})).body;
        return poll.find("\"complete\":true") != std::string::npos;
      },
      std::chrono::seconds(60)));
  return poll;
}

}  // namespace brackwen::test
