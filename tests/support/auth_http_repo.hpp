// A bare repository served over git's dumb HTTP protocol on 127.0.0.1, every request behind
// Basic authentication, for tests of credentials.
#pragma once
#include <httplib.h>

#include <thread>

#include "support/temp_repo.hpp"

namespace brackwen::test {

struct AuthenticatedRepoServer {
  static constexpr const char* user = "tester";
  static constexpr const char* password = "s3cret p\xc3\xa4ssword";
  static constexpr const char* readme = "behind a login\n";

  // The repository holds one commit with readme.txt; it is cloned as "repo".
  AuthenticatedRepoServer() {
    source.commit_file("readme.txt", readme, "first");
    sh(dir.path,
       "git clone -q --bare '" + source.str() + "' repo.git && git -C repo.git update-server-info");
    server.Get(R"(/repo\.git/(.*))", [this](const httplib::Request& req, httplib::Response& res) {
      auto expected = httplib::make_basic_authentication_header(user, password).second;
      auto file = dir.path / "repo.git" / req.matches[1].str();
      if (req.get_header_value("Authorization") != expected) {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"test\"");
      } else if (!std::filesystem::is_regular_file(file)) {
        res.status = 404;
      } else {
        res.set_content(read_file(file), "text/plain");
      }
    });
    port = server.bind_to_any_port("127.0.0.1");
    thread = std::thread([this] { server.listen_after_bind(); });
  }
  ~AuthenticatedRepoServer() {
    server.stop();
    thread.join();
  }

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/repo.git"; }

  TempRepo source;
  TempDir dir;
  httplib::Server server;
  std::thread thread;
  int port = -1;
};

}  // namespace brackwen::test
