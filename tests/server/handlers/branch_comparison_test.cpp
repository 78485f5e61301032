// "/f/get_un_pushed_commits", "/f/calc_head_info" and "/f/calc_ref_diffs" through the server.
#include "server/handlers/branch_comparison.hpp"

#include <gtest/gtest.h>

#include "endpoint_calls.hpp"
#include "git/queries/refs/remote_repo.hpp"

namespace brackwen {
namespace {

using test::git;
using test::quoted;
using test::repo_body;

// main: c1 pushed to origin, c2 pushed to fork, c3 local only.
struct TwoRemotes : test::RemoteRepo {
  TwoRemotes() {
    add_remote("fork");
    c1 = commit("one", 1700000000);
    git(repo.path, {"push", "-q", "origin", "main"});
    c2 = commit("two", 1700000100);
    git(repo.path, {"push", "-q", "fork", "main"});
    c3 = commit("three", 1700000200);
  }
  std::string c1, c2, c3;
};

TEST(BranchEndpoints, BeforeLoadingTheCache) {
  TwoRemotes r;
  test::ServerProcess server;
  EXPECT_EQ(server.post("/f/calc_head_info", repo_body(r.repo.str())).body, "null");
  std::string ref_diffs =
      "{\"repoPath\":" + quoted(r.repo.str()) + ",\"headCommitId\":\"" + r.c3 + "\"}";
  EXPECT_EQ(server.post("/f/calc_ref_diffs", ref_diffs).body, "null");
  EXPECT_EQ(server.post("/f/get_un_pushed_commits", repo_body(r.repo.str())).body,
            "{\"thisBranch\":[],\"allBranches\":[\"" + r.c3 + "\"]}");
  EXPECT_EQ(server.post("/f/get_un_pushed_commits", repo_body("/nonexistent")).body,
            "{\"thisBranch\":[],\"allBranches\":[]}");
  EXPECT_EQ(server.post("/f/calc_ref_diffs", repo_body(r.repo.str())).status, 500);
  EXPECT_EQ(server.post("/f/calc_head_info", "null").status, 500);
}

TEST(BranchEndpoints, FromTheCacheWithAPushRemoteOtherThanOrigin) {
  TwoRemotes r;
  git(r.repo.path, {"config", "remote.pushdefault", "fork"});
  test::ServerProcess server;
  test::HttpReply config = server.post("/f/load_full_config", repo_body(r.repo.str()));
  EXPECT_NE(config.body.find("\"remote.pushdefault\":\"fork\""), std::string::npos) << config.body;
  test::load_commits(server, r.repo.str());

  std::string diffs =
      server.post("/f/calc_ref_diffs", "[" + quoted(r.repo.str()) + ",\"" + r.c1 + "\"]").body;
  EXPECT_NE(diffs.find("[{\"refs/heads/main\":{\"aheadOfRemote\":1,\"behindRemote\":0,"
                       "\"aheadOfHead\":2,\"behindHead\":0}},{"),
            std::string::npos)
      << diffs;
  EXPECT_NE(diffs.find("\"refs/remotes/origin/main\":{\"aheadOfHead\":0,\"behindHead\":0}"),
            std::string::npos)
      << diffs;

  std::string head = server.post("/f/calc_head_info", repo_body(r.repo.str())).body;
  EXPECT_EQ(head.rfind("{\"ref\":{\"id\":\"refs/heads/main\",\"location\":\"Local\"", 0), 0u)
      << head;
  EXPECT_NE(head.find("\"remoteRef\":{\"id\":\"refs/remotes/fork/main\""), std::string::npos);
  EXPECT_NE(head.find(",\"remoteAhead\":0,\"remoteBehind\":1}"), std::string::npos) << head;

  EXPECT_EQ(server.post("/f/get_un_pushed_commits", repo_body(r.repo.str())).body,
            "{\"thisBranch\":[\"" + r.c3 + "\"],\"allBranches\":[\"" + r.c3 + "\"]}");
}

}  // namespace
}  // namespace brackwen
