// "/f/load_full_config" through the server.
#include "server/handlers/config.hpp"

#include <gtest/gtest.h>

#include "endpoint_calls.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::repo_body;

TEST(ConfigEndpoint, EntriesAndRemotes) {
  test::TempRepo repo;
  test::git(repo.path, {"remote", "add", "origin", "https://example.com/ö.git"});
  test::ServerProcess server;
  std::string reply = server.post("/f/load_full_config", repo_body(repo.str())).body;
  EXPECT_EQ(reply.rfind("{\"entries\":{", 0), 0u) << reply;
  EXPECT_NE(reply.find("\"remote.origin.url\":\"https://example.com/ö.git\""), std::string::npos);
  EXPECT_NE(reply.find("\"user.name\":\"Test User\""), std::string::npos);
  EXPECT_NE(reply.find("},\"remotes\":{\"origin\":\"https://example.com/ö.git\"}}"),
            std::string::npos)
      << reply;
  EXPECT_EQ(server.post("/f/load_full_config", repo_body("/nonexistent/repo")).body, "null");
  EXPECT_EQ(server.post("/f/load_full_config", "{\"repo\":1}").status, 500);
}

}  // namespace
}  // namespace brackwen
