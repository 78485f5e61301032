#include "server/changed_files.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "api_types/json.hpp"
#include "git/queries/git_stub.hpp"
#include "git/queries/load_commits.hpp"
#include "git/queries/patches/patch_parsers.hpp"
#include "git/queries/patches/patches.hpp"
#include "git/run_git.hpp"
#include "server/history.hpp"
#include "stores/stores.hpp"

namespace brackwen {
namespace {

using test::git;
using test::read_file;
using test::sh;
using test::TempRepo;

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

// Each commit one second after the last, so that git's order among equal candidates is fixed.
// A rename on a topic; a criss-cross whose newer base (by date) is the lower one (by
// generation); unrelated histories; an octopus; a stash.
constexpr const char* HISTORY =
    R"(n=0; c() { n=$((n+1)); export GIT_COMMITTER_DATE="$((1700000000+n)) +0000"
  GIT_AUTHOR_DATE="$((1700000000+n)) +0000"; echo "$2" >"$1"; git add -A; git commit -qm "$1 $2"; }
m() { n=$((n+1)); GIT_COMMITTER_DATE="$((1700000000+n)) +0000" git merge -q --no-edit "$@"; }
seq 1 50 >big.txt; c a.txt 1; git checkout -qb topic; git mv big.txt moved.txt; c b.txt 2
git checkout -q main; c a.txt 3; m topic
git checkout -qb cc2 main; c q.txt 1; c q.txt 2; git checkout -qb cc1 main; c p.txt 1
git checkout -q cc1; m cc2; git checkout -q cc2; m cc1~1; git checkout -q cc1; m cc2
git checkout -q --orphan lone; git rm -rqf .; c lone.txt 1; git checkout -q main
m --allow-unrelated-histories lone; git checkout -qb o1 main~2; c o1.txt 1
git checkout -qb o2 main~2; c o2.txt 1; git checkout -q main; m o1 o2; c a.txt 4
echo w >>a.txt; git stash -q)";

// What the commit's own `git diff` lists.
std::vector<Patch> own_diff(const std::string& repo, const Commit& c) {
  std::string range = c.parent_ids[0] + (c.is_merge ? "..." + c.parent_ids[1] : ".." + c.id);
  auto out = run_git(repo, {"diff", "--name-status", "-z", range});
  std::vector<Patch> patches;
  for (auto& entry : out ? *parse_all(*out, parse_name_status) : std::vector<NameStatusEntry>{})
    patches.push_back(patch_from_entry(entry, c.id));
  return patches;
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

// Up to twenty ordinary commits are named on one `git show`; more go through one `git log`
// bounded by every commit given. The merge and the stash share one diff-tree.
TEST_F(LoadPatches, OrdinaryCommitsOnOneShowOrOneLog) {
  for (auto [ordinary, command, blanks] : std::vector<std::tuple<int, std::string, long>>{
           {20, "show --name-status --pretty=format:%H, -z --end-of-options ", 1 + 20 + 3},
           {21,
            "log --remotes --branches --all --name-status --pretty=format:%H, --no-merges -z -n23",
            8}}) {
    TempRepo repo;
    auto commits = history(repo, ordinary);
    test::GitRecorder recorder;
    auto map = load_patches(repo.str(), commits);
    auto runs = runs_of(recorder, "show"), logs = runs_of(recorder, "log");
    runs.insert(runs.end(), logs.begin(), logs.end());
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].starts_with(command)) << runs[0];
    EXPECT_EQ(std::count(runs[0].begin(), runs[0].end(), ' '), blanks);
    EXPECT_TRUE(runs_of(recorder, "diff").empty());
    EXPECT_EQ(runs_of(recorder, "diff-tree").size(), 1u);
    for (const Commit& c : commits) EXPECT_TRUE(map->contains(c.id)) << c.message;
    // Everything is cached now: no git, and the map is the memory cache's own.
    test::GitRecorder second;
    EXPECT_EQ(load_patches(repo.str(), commits), map);
    EXPECT_TRUE(second.calls().empty());
  }
}

// Each list is the commit's own `git diff`'s, whatever the history's shape.
TEST_F(LoadPatches, MergesAndStashesListWhatTheirOwnGitDiffLists) {
  // What runs after the history, and how many commits are loaded (fewer leave merge bases out).
  for (auto [setup, count] : std::vector<std::pair<std::string, uint32_t>>{
           {":", 100},
           {":", 5},
           {"git config diff.renames false", 100},
           {"git clone -q --no-single-branch --depth 3 file://$PWD s", 100}}) {
    TempRepo repo;
    sh(repo.path, HISTORY + ("\n" + setup));
    std::string path = std::filesystem::exists(repo.path / "s") ? repo.str() + "/s" : repo.str();
    auto loaded = load_commits_and_refs(HistoryQuery{path, count, {}, false, false});
    ASSERT_TRUE(loaded) << setup;
    auto map = load_patches(path, loaded->commits());
    for (const Commit& commit : loaded->commits()) {
      if (!commit.is_merge && !commit.stash_id) continue;
      EXPECT_EQ(map->at(commit.id), own_diff(path, commit)) << setup << count << commit.message;
    }
  }
}

// Past 2,000 ordinary commits the log runs in slices: read in order they are the one log, down
// to the disk cache file.
TEST_F(LoadPatches, SlicedLogIsTheOneLog) {
  TempRepo repo;
  sh(repo.path,
     "for i in $(seq 2500); do printf 'commit refs/heads/main\\ncommitter C <c@x> %d +0000"
     "\\ndata 0\\nM 644 inline f%d\\ndata 2\\n%d\\n\\n' $((1600000000+i)) $((i%7)) "
     "$((i%10)); done | git fast-import --quiet");
  auto loaded = load_commits_and_refs(HistoryQuery{repo.str(), 5000, {}, false, false});
  load_patches(repo.str(), loaded->commits());
  auto records =
      patch_list(*run_git(repo.str(), {"log", "--remotes", "--branches", "--all", "--name-status",
                                       "--pretty=format:%H,", "--no-merges", "-z", "-n2500"}));
  PatchMap one_log;
  for (auto& [id, patches] : *records) one_log.insert_or_assign(id, patches);
  EXPECT_EQ(read_file(*patches_cache_file(repo.str())), to_json(one_log));
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
