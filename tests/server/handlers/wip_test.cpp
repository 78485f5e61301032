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

}  // namespace
}  // namespace brackwen
