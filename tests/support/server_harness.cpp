// End-to-end tests against the built server: a private copy of the binary in a temporary
// tree, a private HOME, its output kept for assertions.
#include "support/server_harness.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>

extern char** environ;

namespace brackwen::test {
namespace {

constexpr size_t PORT_LINE_BYTES = 18;
constexpr int WAIT_MS = 10000;

// Reads exactly `n` bytes unless the pipe ends or `WAIT_MS` pass.
std::string read_exactly(int fd, size_t n) {
  std::string text;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT_MS);
  while (text.size() < n) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[64];
    ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, n - text.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  return text;
}

std::vector<std::string> environment_with(const std::map<std::string, std::string>& changes) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry; ++entry) {
    std::string text(*entry);
    size_t eq = text.find('=');
    if (eq != std::string::npos) merged[text.substr(0, eq)] = text.substr(eq + 1);
  }
  for (const auto& [name, value] : changes) merged[name] = value;
  std::vector<std::string> out;
  for (const auto& [name, value] : merged) out.push_back(name + "=" + value);
  return out;
}

void place_binary(const std::filesystem::path& target) {
  std::filesystem::create_directories(target.parent_path());
  std::error_code ec;
  std::filesystem::create_hard_link(BRACKWEN_BINARY, target, ec);
  if (ec) std::filesystem::copy_file(BRACKWEN_BINARY, target);
}

HttpReply to_reply(const httplib::Result& result) {
  if (!result) return {};
  return {result->status, result->body, result->get_header_value("Content-Type")};
}

// A connected socket that has sent `bytes`, or -1.
int connect_and_send(uint16_t port, const std::string& bytes) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size())) {
    return fd;
  }
  ::close(fd);
  return -1;
}

}  // namespace

ServerProcess::ServerProcess(const Environment& extra, PipesRead read,
                             std::vector<std::string> prefix)
    : root(tree.path), home(tree.path / "home") {
  std::filesystem::path binary = root / "a" / "b" / "brackwen-core";
  place_binary(binary);
  std::map<std::string, std::string> changes = {
      {"HOME", home.string()},
      {"XDG_CONFIG_HOME", (home / ".config").string()},
      {"XDG_CACHE_HOME", (home / ".cache").string()},
      {"XDG_DATA_HOME", (home / ".local" / "share").string()},
      {"GIT_CONFIG_NOSYSTEM", "1"},
  };
  for (const auto& [name, value] : extra) changes[name] = value;
  std::filesystem::create_directories(home);

  int out_pipe[2], err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
  std::vector<std::string> env = environment_with(changes);
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = binary.string();
  prefix.push_back(program);
  std::vector<char*> argv;
  for (std::string& arg : prefix) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  out_fd = out_pipe[0];
  err_fd = err_pipe[0];
  if (rc != 0) {
    pid = -1;
    ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(rc);
    return;
  }
  port_line = read_exactly(out_fd, PORT_LINE_BYTES);
  if (port_line.size() == PORT_LINE_BYTES && port_line.starts_with("PORT:")) {
    port = static_cast<uint16_t>(std::stoul(port_line.substr(5)));
  } else {
    ADD_FAILURE() << "no port line, got \"" << port_line << "\"";
  }
  drainer = std::thread([this, read] { drain(read); });
}

ServerProcess::~ServerProcess() {
  if (pid > 0 && !exited) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  stopping = true;
  if (drainer.joinable()) drainer.join();
  ::close(out_fd);
  ::close(err_fd);
}

void ServerProcess::drain(PipesRead read) {
  try {
    // poll skips negative descriptors.
    pollfd fds[2] = {{read.out ? out_fd : -1, POLLIN, 0}, {read.err ? err_fd : -1, POLLIN, 0}};
    int open = read.out + read.err;
    while (open > 0) {
      int ready = ::poll(fds, 2, 100);
      if (ready < 0 && errno != EINTR) return;
      // A child of the server that kept the pipes open must not hold up the destructor.
      if (ready == 0 && stopping) return;
      for (int i = 0; i < 2 && ready > 0; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        char buffer[65536];
        ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
          fds[i].fd = -1;
          --open;
          continue;
        }
        std::lock_guard lock(mutex);
        (i == 0 ? out : err).append(buffer, static_cast<size_t>(got));
      }
    }
  } catch (...) {
  }
}

HttpReply ServerProcess::send(const std::string& method, const std::string& path,
                              const std::string& body, const httplib::Headers& headers) const {
  auto cli = client();
  if (method == "GET") return to_reply(cli->Get(path, headers));
  if (method == "POST") return to_reply(cli->Post(path, headers, body, "text/plain"));
  if (method == "PUT") return to_reply(cli->Put(path, headers, body, "text/plain"));
  if (method == "DELETE") return to_reply(cli->Delete(path, headers, body, "text/plain"));
  if (method == "OPTIONS") return to_reply(cli->Options(path, headers));
  ADD_FAILURE() << "unsupported method " << method;
  return {};
}

HttpReply ServerProcess::post(const std::string& path, const std::string& body) const {
  return send("POST", path, body, {});
}

HttpReply ServerProcess::get(const std::string& path) const {
  return send("GET", path, "", {});
}

std::unique_ptr<httplib::Client> ServerProcess::client() const {
  auto cli = std::make_unique<httplib::Client>("127.0.0.1", port);
  cli->set_keep_alive(true);
  // The library writes the headers and the body separately; without this each request waits
  // for the server's delayed ACK (40 ms).
  cli->set_tcp_nodelay(true);
  // Targets go out exactly as the test wrote them.
  cli->set_url_encode(false);
  cli->set_read_timeout(std::chrono::seconds(60));
  return cli;
}

std::string ServerProcess::raw(const std::string& bytes) const {
  int fd = connect_and_send(port, bytes);
  std::string reply;
  if (fd >= 0) {
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, WAIT_MS) <= 0) break;
      char buffer[65536];
      ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      reply.append(buffer, static_cast<size_t>(got));
    }
  }
  if (fd >= 0) ::close(fd);
  return reply;
}

void ServerProcess::send_and_leave(const std::string& bytes) const {
  int fd = connect_and_send(port, bytes);
  if (fd >= 0) ::close(fd);
}

int ServerProcess::open_connection(const std::string& bytes) const {
  return connect_and_send(port, bytes);
}

void ServerProcess::write_static(const std::string& relative, const std::string& content) const {
  std::filesystem::path file = root / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << content;
}

int ServerProcess::wait_for_exit() {
  if (exited) return status;
  int raw_status = 0;
  for (int waited = 0; waited < WAIT_MS; waited += 10) {
    pid_t done = ::waitpid(pid, &raw_status, WNOHANG);
    if (done == pid) {
      exited = true;
      status = WIFEXITED(raw_status) ? WEXITSTATUS(raw_status) : 128 + WTERMSIG(raw_status);
      return status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "server did not exit";
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  exited = true;
  return status = 128 + SIGKILL;
}

bool ServerProcess::wait_for_stdout(const std::string& text) const {
  for (int waited = 0; waited < WAIT_MS; waited += 10) {
    if (stdout_text().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string ServerProcess::stdout_text() const {
  std::lock_guard lock(mutex);
  return port_line + out;
}

std::string ServerProcess::stderr_text() const {
  std::lock_guard lock(mutex);
  return err;
}

}  // namespace brackwen::test
