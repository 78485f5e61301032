#include "server/handlers/wip.hpp"

#include <gtest/gtest.h>

#include "support/server_harness.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::TempRepo;

std::string repo_body(const TempRepo& repo) {
  return R"({"repoPath":")" + repo.str() + R"("})";
}

TEST(LoadWipPatchesEndpoint, WritesRecordsSortedOrNull) {
  TempRepo repo;
  repo.commit_file("b.txt", "b\n", "b");
  EXPECT_EQ(handle_load_wip_patches(repo_body(repo)), "null");
  repo.write("b.txt", "changed\n");
  repo.write("img/Logo.PNG", "p");
  EXPECT_EQ(handle_load_wip_patches(repo_body(repo)),
            R"([{"oldFile":"b.txt","newFile":"b.txt","patchType":"M","stagedType":" ",)"
            R"("unStagedType":"M","conflicted":false,"id":"b.txtM","isImage":false},)"
            R"({"oldFile":"img/Logo.PNG","newFile":"img/Logo.PNG","patchType":"A",)"
            R"("stagedType":"?","unStagedType":"?","conflicted":false,"id":"img/Logo.PNGA",)"
            R"("isImage":true}])");
  EXPECT_EQ(handle_load_wip_patches(R"({"repo":"x"})"), std::nullopt);
}

TEST(WorkingCopyEndpoints, AnsweredByTheServer) {
  TempRepo repo;
  repo.commit_file("a.txt", "a\n", "a");
  repo.write("a.txt", "b\n");
  test::ServerProcess server;
  auto status = server.post("/f/load_wip_patches", repo_body(repo));
  EXPECT_EQ(status.status, 200);
  EXPECT_NE(status.body.find(R"("id":"a.txtM")"), std::string::npos);
  auto wip = R"({"repoPath":")" + repo.str() +
             R"(","patch":{"oldFile":"a.txt","newFile":"a.txt","patchType":"A","stagedType":" ",)"
             R"("unStagedType":"M","conflicted":false,"id":"a.txtM","isImage":false}})";
  EXPECT_EQ(server.post("/f/load_wip_hunks", wip).body.substr(0, 2), "[[");
  EXPECT_EQ(server.post("/f/load_wip_hunk_lines", wip).body.substr(0, 2), "[{");
  EXPECT_EQ(server.post("/f/load_hunks", "{}").status, 500);
}

}  // namespace
}  // namespace brackwen
