// End-to-end tests against the built server: a private copy of the binary in a temporary
// tree (so the static-file root is the tree), a private HOME, its output kept for assertions.
#pragma once
#include <httplib.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/temp_repo.hpp"

namespace brackwen::test {

struct HttpReply {
  int status = 0;  // 0 when no reply arrived
  std::string body;
  std::string content_type;
};

using Environment = std::vector<std::pair<std::string, std::string>>;

// The pipes read after the port line; one left unread is a front end that stopped reading it.
struct PipesRead {
  bool out = true;
  bool err = true;
};

// The tree: <root>/a/b/brackwen-core, so that the static-file root is <root> itself.
struct ServerProcess {
  // Starts the server with HOME and the XDG directories under a private folder and `extra`
  // set (or replaced) in its environment, and reads its port line through a pipe, then the
  // pipes in `read`. A `prefix` runs first and gets the server's path as its last argument.
  explicit ServerProcess(const Environment& extra = {}, PipesRead read = {},
                         std::vector<std::string> prefix = {});
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  HttpReply post(const std::string& path, const std::string& body) const;
  HttpReply get(const std::string& path) const;
  HttpReply send(const std::string& method, const std::string& path, const std::string& body,
                 const httplib::Headers& headers) const;
  // A client for this server that keeps its connection open between requests.
  std::unique_ptr<httplib::Client> client() const;
  // Sends `bytes` on a new connection and returns everything read until the server closes
  // it (send "Connection: close") or 10 s pass.
  std::string raw(const std::string& bytes) const;
  // Sends `bytes` on a new connection and closes it without reading anything.
  void send_and_leave(const std::string& bytes) const;
  // Sends `bytes` on a new connection and returns its socket (-1 on failure); the caller
  // closes it.
  int open_connection(const std::string& bytes) const;

  // Writes a file below the static-file root.
  void write_static(const std::string& relative, const std::string& content) const;

  // The exit status once the process has ended (killed after 10 s), 128 + signal if killed.
  int wait_for_exit();
  // Waits up to 10 s until standard output contains `text`; check lines are written by a
  // thread of the server, so they may trail the reply.
  bool wait_for_stdout(const std::string& text) const;
  std::string stdout_text() const;
  std::string stderr_text() const;

  TempDir tree;
  std::filesystem::path root;  // the static-file root (the tree)
  std::filesystem::path home;
  pid_t pid = -1;
  uint16_t port = 0;
  std::string port_line;  // the first 18 bytes of standard output

 private:
  void drain(PipesRead read);
  int out_fd = -1;
  int err_fd = -1;
  bool exited = false;
  std::atomic<bool> stopping = false;
  int status = -1;
  mutable std::mutex mutex;
  std::string out;
  std::string err;
  std::thread drainer;
};

}  // namespace brackwen::test
