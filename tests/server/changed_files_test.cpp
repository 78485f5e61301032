// The changed files of merges and stashes, against their own `git diff`, over histories of
// every shape, and the slices a long history is read in.
#include "server/changed_files.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <unordered_map>

#include "api_types/json.hpp"
#include "git/queries/load_commits.hpp"
#include "git/queries/patches/patch_parsers.hpp"
#include "git/queries/patches/patches.hpp"
#include "git/run_git.hpp"
#include "server/history.hpp"
#include "stores/environment.hpp"
#include "support/git_recorder.hpp"

namespace brackwen {
namespace {

using test::TempRepo;

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

std::vector<Patch> own_diff(const std::string& repo, const Commit& c) {
  std::string range = c.parent_ids[0] + (c.is_merge ? "..." + c.parent_ids[1] : ".." + c.id);
  auto out = run_git(repo, {"diff", "--name-status", "-z", range});
  std::vector<Patch> patches;
  for (auto& entry : out ? *parse_all(*out, parse_name_status) : std::vector<NameStatusEntry>{})
    patches.push_back(patch_from_entry(entry, c.id));
  return patches;
}

struct ChangedFiles : testing::Test {
  void SetUp() override {
    test::use_plain_git_config();
    set_environment("XDG_CACHE_HOME", caches.str());
  }
  void TearDown() override { set_environment("XDG_CACHE_HOME", before); }

  test::TempDir caches;
  std::string before = get_environment("XDG_CACHE_HOME").value_or("");
};

// Each list is the commit's own `git diff`'s, whatever the history's shape, and only the loaded
// commits have one: the log that loads many lists others too (below the loaded ones, since it
// skips merges, and the stash's index commit).
TEST_F(ChangedFiles, MergesAndStashesListWhatTheirOwnGitDiffLists) {
  // What runs after the history, and how many commits are loaded (fewer leave merge bases out).
  for (auto [setup, count] : std::vector<std::pair<std::string, uint32_t>>{
           {":", 100},
           {":", 5},
           {"for i in $(seq 21); do c n$i.txt $i; done", 24},
           {"git config diff.renames false", 100},
           {"git clone -q --no-single-branch --depth 3 file://$PWD s", 100}}) {
    TempRepo repo;
    test::sh(repo.path, HISTORY + ("\n" + setup));
    std::string path = std::filesystem::exists(repo.path / "s") ? repo.str() + "/s" : repo.str();
    auto loaded = load_commits_and_refs(HistoryQuery{path, count, {}, false, false});
    ASSERT_TRUE(loaded) << setup;
    auto map = load_patches(path, loaded->commits());
    std::set<std::string> ids;
    for (const Commit& commit : loaded->commits()) ids.insert(commit.id);
    for (const auto& [id, patches] : *map) EXPECT_TRUE(ids.contains(id)) << setup << count << id;
    for (const Commit& commit : loaded->commits()) {
      if (!commit.is_merge && !commit.stash_id) continue;
      EXPECT_EQ(map->at(commit.id), own_diff(path, commit)) << setup << count << commit.message;
    }
  }
}

// A second load is the memory cache's map; with another repository in memory (one whose path
// runs on from this one's) the disk file answers, and a corrupt file is done again by git. Its
// name runs the path's parts together (their end, when long), then tells the path apart by the
// start of the id git gives its bytes as a blob.
TEST_F(ChangedFiles, CachesAnswerWithoutGit) {
  TempRepo repo;
  repo.commit_file("a", "1", "one");
  std::string other = repo.str() + "/inner";
  test::sh(repo.path,
           "git init -q inner && cd inner && git -c user.name=O -c user.email=o@x "
           "commit -q --allow-empty -m other");
  auto history = [](const std::string& path) {
    return load_commits_and_refs(HistoryQuery{path, 9, {}, false, false})->commits();
  };
  auto commits = history(repo.str()), other_commits = history(other);
  auto first = load_patches(repo.str(), commits);
  auto file = *patches_cache_file(repo.str());
  EXPECT_EQ(file.filename(), patches_cache_file_name(repo.str()));
  std::string e_acute = "\xC3\xA9", long_part;
  for (int i = 0; i < 100; ++i) long_part += e_acute;
  std::string long_end = long_part.substr(2 * 37) + "x";  // the last 128 bytes less half an é
  for (auto [path, readable] :
       std::vector<std::pair<std::string, std::string>>{{"/work/projects/app", "workprojectsapp"},
                                                        {"/x//y/./z/", "xyz"},
                                                        {"C:\\repo:1", "Crepo1"},
                                                        {"/w/ab/c", "wabc"},
                                                        {"/w/a/bc", "wabc"},
                                                        {"/" + long_part + "/x", long_end}}) {
    std::string blob =
        test::sh(repo.path, "printf %s " + test::shell_quoted(path) + " | git hash-object --stdin");
    EXPECT_EQ(patches_cache_file_name(path), readable + "-" + blob.substr(0, 16) + ".json");
  }
  for (bool corrupt : {false, true}) {
    load_patches(other, other_commits);
    if (corrupt) std::ofstream(file) << "{\"" << commits[0].id << "\": [1, 2";
    test::GitRecorder recorder;
    EXPECT_EQ(*load_patches(repo.str(), commits), *first);
    EXPECT_EQ(recorder.calls().empty(), !corrupt);
    test::GitRecorder quiet;
    EXPECT_EQ(load_patches(repo.str(), commits), load_patches(repo.str(), commits));
    EXPECT_TRUE(quiet.calls().empty());
  }
}

// From the memory cache too, only the commits asked for have entries, also when one is listed
// twice and the cache holds as many commits as the list; a list of the cached commits with one
// twice gets the cache's own map.
TEST_F(ChangedFiles, CommitListedTwiceMakesNoRoomForAnother) {
  TempRepo repo;
  repo.commit_file("a", "1", "one");
  repo.commit_file("b", "2", "two");
  auto commits = load_commits_and_refs(HistoryQuery{repo.str(), 9, {}, false, false})->commits();
  ASSERT_EQ(load_patches(repo.str(), commits)->size(), 2u);
  test::GitRecorder recorder;
  auto map = load_patches(repo.str(), {commits[0], commits[0]});
  EXPECT_EQ(map->size(), 1u);
  EXPECT_TRUE(map->contains(commits[0].id));
  auto shared = load_patches(repo.str(), commits);
  EXPECT_EQ(load_patches(repo.str(), {commits[0], commits[1], commits[0]}), shared);
  EXPECT_TRUE(recorder.calls().empty());
}

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
  // Each kept under its id and the parents it was read against (the root has none).
  std::unordered_map<std::string, std::string> keys;
  std::istringstream listed(*run_git(repo.str(), {"log", "--format=%H %P", "main"}));
  for (std::string line; std::getline(listed, line);) {
    keys[line.substr(0, 40)] = line.substr(0, line.find_last_not_of(' ') + 1);
  }
  PatchMap one_log;
  for (auto& [id, patches] : *records) one_log.insert_or_assign(keys.at(id), patches);
  EXPECT_EQ(read_body<PatchMap>(test::read_file(*patches_cache_file(repo.str()))), one_log);
}

}  // namespace
}  // namespace brackwen
