// The commit relation endpoints through the server.
#include "server/handlers/relations.hpp"

#include <gtest/gtest.h>

#include "endpoint_calls.hpp"
#include "git/queries/refs/remote_repo.hpp"

namespace brackwen {
namespace {

using test::quoted;
using test::repo_body;

struct Line : test::RemoteRepo {
  Line() {
    c1 = commit("one", 1700000000);
    c2 = commit("two", 1700000100);
    c3 = commit("three", 1700000200);
  }
  std::string body(const std::string& fields) const {
    return "{\"repoPath\":" + quoted(repo.str()) + "," + fields + "}";
  }
  std::string c1, c2, c3;
};

TEST(RelationEndpoints, BeforeAndAfterLoading) {
  Line r;
  test::ServerProcess server;
  std::string ancestor =
      r.body("\"commitId\":\"" + r.c3 + "\",\"ancestorCandidateId\":\"" + r.c1 + "\"");
  std::string on_branch = r.body("\"commitId\":\"" + r.c2 + "\"");
  std::string between = r.body("\"commitId1\":\"" + r.c1 + "\",\"commitId2\":\"" + r.c3 + "\"");
  EXPECT_EQ(server.post("/f/commit_is_ancestor", ancestor).body, "false");
  EXPECT_EQ(server.post("/f/commit_is_on_branch", on_branch).body, "null");
  EXPECT_EQ(server.post("/f/get_all_commits_on_current_branch", repo_body(r.repo.str())).body,
            "null");
  EXPECT_EQ(server.post("/f/commit_ids_between_commits", between).body,
            "[\"" + r.c3 + "\",\"" + r.c2 + "\"]");  // git's order

  test::load_commits(server, r.repo.str());
  EXPECT_EQ(server.post("/f/commit_is_ancestor", ancestor).body, "true");
  EXPECT_EQ(server.post("/f/commit_is_on_branch", on_branch).body, "true");
  std::string all =
      server.post("/f/get_all_commits_on_current_branch", repo_body(r.repo.str())).body;
  for (const std::string& id : {r.c1, r.c2, r.c3}) EXPECT_NE(all.find(id), std::string::npos);
  std::string same = r.body("\"commitId1\":\"" + r.c2 + "\",\"commitId2\":\"" + r.c2 + "\"");
  EXPECT_EQ(server.post("/f/commit_ids_between_commits", same).body, "[]");
  EXPECT_EQ(server.post("/f/commit_ids_between_commits", r.body("\"commitId1\":\"x\"")).status,
            500);
}

}  // namespace
}  // namespace brackwen
