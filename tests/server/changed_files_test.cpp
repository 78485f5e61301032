// The slices a long history's changed files are read in, which only a history of thousands
// of commits shows.
#include "server/changed_files.hpp"

#include <gtest/gtest.h>

#include "api_types/json.hpp"
#include "git/queries/git_stub.hpp"
#include "git/queries/load_commits.hpp"
#include "git/queries/patches/patch_parsers.hpp"
#include "git/run_git.hpp"
#include "server/history.hpp"
#include "stores/environment.hpp"

namespace brackwen {
namespace {

using test::TempRepo;

struct ChangedFiles : testing::Test {
  void SetUp() override {
    test::use_plain_git_config();
    set_environment("XDG_CACHE_HOME", caches.str());
  }
  void TearDown() override { set_environment("XDG_CACHE_HOME", before); }

  test::TempDir caches;
  std::string before = get_environment("XDG_CACHE_HOME").value_or("");
};

// Past 2,000 ordinary commits the log runs in slices: read in order they are the one log, down
// to the disk cache file.
TEST_F(ChangedFiles, SlicedLogIsTheOneLog) {
  TempRepo repo;
  test::sh(repo.path,
           "for i in $(seq 2500); do printf 'commit refs/heads/main\\ncommitter C <c@x> %d +0000"
           "\\ndata 0\\nM 644 inline f%d\\ndata 2\\n%d\\n\\n' $((1600000000+i)) $((i%7)) "
           "$((i%10)); done | git fast-import --quiet");
  load_patches(repo.str(),
               load_commits_and_refs(HistoryQuery{repo.str(), 5000, {}, false, false})->commits());
  auto records =
      patch_list(*run_git(repo.str(), {"log", "--remotes", "--branches", "--all", "--name-status",
                                       "--pretty=format:%H,", "--no-merges", "-z", "-n2500"}));
  PatchMap one_log;
  for (auto& [id, patches] : *records) one_log.insert_or_assign(id, patches);
  EXPECT_EQ(test::read_file(*patches_cache_file(repo.str())), to_json(one_log));
}

}  // namespace
}  // namespace brackwen
