// A bare repository served over git's dumb HTTP protocol on 127.0.0.1, every request behind
// Basic authentication, for tests of credentials.
#pragma once
#include <httplib.h>

#include <filesystem>
#include <string>
#include <thread>

#include "support/temp_repo.hpp"

namespace brackwen::test {

struct AuthenticatedRepoServer {
  static constexpr const char* user = "tester";
  static constexpr const char* password = "s3cret p\xc3\xa4ssword";
  static constexpr const char* readme = "behind a login\n";

  // The repository holds one commit with readme.txt; it is cloned as "repo".
  AuthenticatedRepoServer();
  ~AuthenticatedRepoServer();
  AuthenticatedRepoServer(const AuthenticatedRepoServer&) = delete;
  AuthenticatedRepoServer& operator=(const AuthenticatedRepoServer&) = delete;

  std::string url() const;

  TempRepo source;
  TempDir dir;
  std::filesystem::path bare;
  httplib::Server server;
  std::thread thread;
  int port = -1;

 private:
  void serve(const httplib::Request& req, httplib::Response& res) const;
};

}  // namespace brackwen::test
