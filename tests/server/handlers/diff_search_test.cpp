// "/f/start_diff_search", "/f/poll_diff_search" and "/f/clear_cache" through the server.
#include "server/handlers/diff_search.hpp"

#include <gtest/gtest.h>

#include "endpoint_calls.hpp"
#include "git/queries/refs/remote_repo.hpp"

namespace brackwen {
namespace {

using test::quoted;
using test::repo_body;

std::string poll(uint64_t id) {
  return "{\"searchId\":" + std::to_string(id) + "}";
}

TEST(DiffSearchEndpoints, IdsPollsAndClearing) {
  test::RemoteRepo r;
  std::string c1 = r.repo.commit_file("a.txt", "a needle\n", "one", 1700000000);
  test::ServerProcess server;
  std::string start = "{\"repoPath\":" + quoted(r.repo.str()) +
                      ",\"searchText\":\"needle\",\"numResults\":10,\"startCommitIndex\":0}";
  // Never loaded: the search ends without results.
  EXPECT_EQ(server.post("/f/start_diff_search", start).body, "1");
  EXPECT_EQ(test::post_until(server, "/f/poll_diff_search", poll(1), "true"),
            "{\"searchId\":1,\"complete\":true,\"results\":null}");

  test::load_commits(server, r.repo.str());
  EXPECT_EQ(
      server.post("/f/start_diff_search", "[" + quoted(r.repo.str()) + ",\"needle\",10,0]").body,
      "2");
  std::string done = test::post_until(server, "/f/poll_diff_search", poll(2), "true");
  EXPECT_EQ(done.rfind("{\"searchId\":2,\"complete\":true,\"results\":[[\"" + c1 +
                           "\",[{\"patch\":{\"commitId\":\"" + c1 + "\",\"oldFile\":\"a.txt\"",
                       0),
            0u)
      << done;
  EXPECT_NE(done.find("\"lines\":[{\"status\":\"+\",\"oldNum\":null,\"newNum\":1,"),
            std::string::npos)
      << done;
  EXPECT_EQ(server.post("/f/poll_diff_search", poll(2)).body, done);

  EXPECT_EQ(server.post("/f/poll_diff_search", poll(77)).body,
            "{\"searchId\":77,\"complete\":false,\"results\":null}");
  EXPECT_EQ(server.post("/f/clear_cache", repo_body(r.repo.str())).body, "null");
  EXPECT_EQ(server.post("/f/poll_diff_search", poll(2)).body,
            "{\"searchId\":2,\"complete\":false,\"results\":null}");
  EXPECT_EQ(server.post("/f/clear_cache", "{}").status, 500);
}

}  // namespace
}  // namespace brackwen
