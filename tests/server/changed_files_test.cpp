#include "server/changed_files.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "git/queries/git_stub.hpp"
#include "git/queries/load_commits.hpp"
#include "git/queries/patches/patches.hpp"
#include "server/history.hpp"
#include "stores/stores.hpp"

namespace brackwen {
namespace {

using test::git;
using test::sh;
using test::TempRepo;

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(PatchesCacheFileName, ComponentsRunTogether) {
  for (auto [path, name] : std::vector<std::pair<std::string, std::string>>{
           {"/work/projects/app", "workprojectsapp.json"},
           {"./a/../b", ".a..b.json"},
           {"/a/bc", "abc.json"},
           {"/ab/c", "abc.json"},
           {"/x//y/./z/", "xyz.json"},
           {"C:\\repo:1", "Crepo1.json"},
           {".", "..json"},
           {"", ".json"}}) {
    EXPECT_EQ(patches_cache_file_name(path), name) << path;
  }
}

class LoadPatches : public testing::Test {
 protected:
  void SetUp() override {
    test::use_plain_git_config();
    old_cache_home = get_environment("XDG_CACHE_HOME").value_or("");
    set_environment("XDG_CACHE_HOME", caches.str());
  }
  void TearDown() override { set_environment("XDG_CACHE_HOME", old_cache_home); }

  // `ordinary` plain commits (one of them on a side branch), then the merge of that branch and
  // a stash on top.
  std::vector<Commit> history(TempRepo& repo, int ordinary) {
    for (int i = 0; i + 1 < ordinary; ++i) {
      std::string n = std::to_string(i);
      repo.commit_file(std::string("f").append(n).append(".txt"), "x", n, 1600000000 + i);
    }
    git(repo.path, {"checkout", "-q", "-b", "side", "HEAD~1"});
    repo.commit_file("side.png", "s", "side", 1600001000);
    git(repo.path, {"checkout", "-q", "main"});
    sh(repo.path, "git merge -q --no-edit side");
    repo.write("f0.txt", "changed");
    sh(repo.path, "git stash push -q -m work");
    auto loaded = load_commits_and_refs(HistoryQuery{repo.str(), 500, {}, false, false});
    EXPECT_TRUE(loaded);
    return loaded ? loaded->commits() : std::vector<Commit>{};
  }

  std::vector<std::string> runs_of(const test::GitRecorder& recorder, const std::string& verb) {
    std::vector<std::string> out;
    for (const std::string& call : recorder.calls()) {
      if (call.starts_with(verb + " ")) out.push_back(call);
    }
    return out;
  }

  test::TempDir caches;
  std::string old_cache_home;
};

TEST_F(LoadPatches, EmptyListRunsNoGitAndWritesNothing) {
  TempRepo repo;
  test::GitRecorder recorder;
  auto map = load_patches(repo.str(), {});
  EXPECT_TRUE(map->empty());
  EXPECT_TRUE(recorder.calls().empty());
  EXPECT_FALSE(std::filesystem::exists(*patches_cache_file(repo.str())));
}

TEST_F(LoadPatches, TwentyOrdinaryCommitsAreNamedOnOneShow) {
  TempRepo repo;
  auto commits = history(repo, 20);
  ASSERT_EQ(commits.size(), 22u);
  test::GitRecorder recorder;
  auto map = load_patches(repo.str(), commits);
  auto shows = runs_of(recorder, "show");
  ASSERT_EQ(shows.size(), 1u);
  EXPECT_EQ(std::count(shows[0].begin(), shows[0].end(), ' '), 1 + 20 + 3);
  EXPECT_TRUE(shows[0].starts_with("show --name-status --pretty=format:%H, -z --end-of-options "));
  EXPECT_TRUE(runs_of(recorder, "log").empty());
  // The merge and the stash share one diff-tree.
  EXPECT_TRUE(runs_of(recorder, "diff").empty());
  EXPECT_EQ(runs_of(recorder, "diff-tree").size(), 1u);
  const Commit& stash = *std::find_if(commits.begin(), commits.end(),
                                      [](const Commit& c) { return c.stash_id.has_value(); });
  const Commit& merge =
      *std::find_if(commits.begin(), commits.end(), [](const Commit& c) { return c.is_merge; });
  ASSERT_EQ(map->at(merge.id).size(), 1u);
  EXPECT_EQ(map->at(merge.id)[0],
            (Patch{merge.id, "side.png", "side.png", PatchType::A, "side.png-A", true}));
  ASSERT_EQ(map->at(stash.id).size(), 1u);
  EXPECT_EQ(map->at(stash.id)[0].id, "f0.txt-M");
  for (const Commit& c : commits) EXPECT_TRUE(map->contains(c.id)) << c.message;
}

TEST_F(LoadPatches, TwentyOneGoThroughLogCountingEveryCommitGiven) {
  TempRepo repo;
  auto commits = history(repo, 21);
  ASSERT_EQ(commits.size(), 23u);
  test::GitRecorder recorder;
  auto map = load_patches(repo.str(), commits);
  EXPECT_TRUE(runs_of(recorder, "show").empty());
  EXPECT_EQ(runs_of(recorder, "log"),
            std::vector<std::string>{"log --remotes --branches --all --name-status "
                                     "--pretty=format:%H, --no-merges -z -n23"});
  for (const Commit& c : commits) EXPECT_TRUE(map->contains(c.id)) << c.message;

  // Everything is cached now: no git, and the map is the memory cache's own.
  test::GitRecorder second;
  auto again = load_patches(repo.str(), commits);
  EXPECT_TRUE(second.calls().empty());
  EXPECT_EQ(again, map);
}

TEST_F(LoadPatches, DiskCacheIsReadBackWhenMemoryHoldsAnotherRepository) {
  TempRepo repo;
  TempRepo other;
  auto commits = history(repo, 3);
  auto other_commits = history(other, 3);
  auto first = load_patches(repo.str(), commits);
  auto file = *patches_cache_file(repo.str());
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(read_file(file).front(), '{');
  load_patches(other.str(), other_commits);

  test::GitRecorder recorder;
  auto from_disk = load_patches(repo.str(), commits);
  EXPECT_TRUE(recorder.calls().empty());
  EXPECT_EQ(*from_disk, *first);
  EXPECT_EQ(PATCHES_CACHE().get()->repo_path, repo.str());
}

TEST_F(LoadPatches, CorruptCacheFileIsIgnoredAndReplaced) {
  TempRepo repo;
  TempRepo other;
  auto commits = history(repo, 3);
  auto other_commits = history(other, 3);
  load_patches(other.str(), other_commits);
  auto file = *patches_cache_file(repo.str());
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file) << "{\"" << commits[2].id << "\": [1, 2";

  test::GitRecorder recorder;
  auto map = load_patches(repo.str(), commits);
  EXPECT_FALSE(recorder.calls().empty());
  for (const Commit& c : commits) EXPECT_TRUE(map->contains(c.id));
  load_patches(other.str(), other_commits);
  test::GitRecorder quiet;
  EXPECT_EQ(*load_patches(repo.str(), commits), *map);
  EXPECT_TRUE(quiet.calls().empty());
}

TEST_F(LoadPatches, ClearAllCachesDeletesTheDiskCacheOnly) {
  TempRepo repo;
  auto commits = history(repo, 3);
  auto map = load_patches(repo.str(), commits);
  auto file = *patches_cache_file(repo.str());
  DiffSearch finished;
  finished.complete = true;
  DIFF_SEARCHES().set({{1, finished}, {2, DiffSearch{}}});
  clear_all_caches();
  EXPECT_FALSE(std::filesystem::exists(file.parent_path()));
  auto searches = *get_diff_searches();
  EXPECT_EQ(searches.size(), 1u);
  EXPECT_TRUE(searches.contains(2));
  EXPECT_EQ(load_patches(repo.str(), commits), map);
  // Memory still holds this repository, so a load with something new cannot write its file.
  repo.commit_file("late.txt", "l", "late", 1700000000);
  auto more = load_commits_and_refs(HistoryQuery{repo.str(), 500, {}, false, false});
  auto loaded = load_patches(repo.str(), more->commits());
  EXPECT_TRUE(loaded->contains(more->commits()[0].id));
  EXPECT_FALSE(std::filesystem::exists(file));
}

}  // namespace
}  // namespace brackwen
