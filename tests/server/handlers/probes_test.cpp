// "/f/is_merge_in_progress" and "/f/is_rebase_in_progress" through the server.
#include "server/handlers/probes.hpp"

#include <gtest/gtest.h>

#include "endpoint_calls.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::repo_body;

TEST(ProbeEndpoints, MarkerFiles) {
  test::TempRepo repo;
  test::ServerProcess server;
  EXPECT_EQ(server.post("/f/is_merge_in_progress", repo_body(repo.str())).body, "null");
  EXPECT_EQ(server.post("/f/is_rebase_in_progress", repo_body(repo.str())).body, "false");
  repo.write(".git/MERGE_HEAD", "aaa\nbbb\n");
  repo.write(".git/rebase-merge/head-name", "refs/heads/main\n");
  EXPECT_EQ(server.post("/f/is_merge_in_progress", repo_body(repo.str() + "/")).body,
            "\"aaa\\nbbb\"");
  EXPECT_EQ(server.post("/f/is_rebase_in_progress", repo_body(repo.str())).body, "true");
  EXPECT_EQ(server.post("/f/is_rebase_in_progress", "{}").status, 500);
}

}  // namespace
}  // namespace brackwen
