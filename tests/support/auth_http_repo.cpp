#include "support/auth_http_repo.hpp"

#include <fstream>

namespace brackwen::test {

AuthenticatedRepoServer::AuthenticatedRepoServer() : bare(dir.path / "repo.git") {
  source.commit_file("readme.txt", readme, "first");
  git(dir.path, {"clone", "-q", "--bare", source.str(), bare.string()});
  git(bare, {"update-server-info"});
  server.Get(R"(/repo\.git/(.*))",
             [this](const httplib::Request& req, httplib::Response& res) { serve(req, res); });
  port = server.bind_to_any_port("127.0.0.1");
  thread = std::thread([this] { server.listen_after_bind(); });
}

AuthenticatedRepoServer::~AuthenticatedRepoServer() {
  server.stop();
  thread.join();
}

std::string AuthenticatedRepoServer::url() const {
  return "http://127.0.0.1:" + std::to_string(port) + "/repo.git";
}

void AuthenticatedRepoServer::serve(const httplib::Request& req, httplib::Response& res) const {
  auto expected = httplib::make_basic_authentication_header(user, password).second;
  if (req.get_header_value("Authorization") != expected) {
    res.status = 401;
    res.set_header("WWW-Authenticate", "Basic realm=\"test\"");
    return;
  }
  auto file = bare / req.matches[1].str();
  if (!std::filesystem::is_regular_file(file)) {
    res.status = 404;
    return;
  }
  std::ifstream in(file, std::ios::binary);
  res.set_content(std::string{std::istreambuf_iterator<char>(in), {}}, "text/plain");
}

}  // namespace brackwen::test
