#include "git/queries/patches/special_patches.hpp"

#include <gtest/gtest.h>

#include "git/queries/git_stub.hpp"
#include "git/queries/load_commits.hpp"
#include "git/queries/patches/patch_parsers.hpp"
#include "git/run_git.hpp"
#include "parser/input.hpp"

namespace brackwen {
namespace {

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

TEST(SpecialPatches, EachIsWhatItsOwnGitDiffLists) {
  struct Case {
    const char* name;
    const char* setup;  // run in the repository after the history
    uint32_t loaded;    // commits loaded: fewer leave merge bases outside the graph
  };
  for (Case c : std::vector<Case>{
           {"whole history", ":", 100},
           {"truncated history", ":", 5},
           {"renames off", "git config diff.renames false", 100},
           {"shallow clone", "git clone -q --no-single-branch --depth 3 file://$PWD s", 100}}) {
    test::use_plain_git_config();
    test::TempRepo repo;
    test::sh(repo.path, HISTORY);
    test::sh(repo.path, c.setup);
    std::string path = std::filesystem::exists(repo.path / "s") ? repo.str() + "/s" : repo.str();
    auto history = load_history(HistoryQuery{path, c.loaded, {}, false, false});
    ASSERT_TRUE(history) << c.name;
    std::vector<const Commit*> special;
    for (const Commit& commit : history->commits) {
      if (commit.is_merge || commit.stash_id) special.push_back(&commit);
    }
    auto found = load_special_patches(path, history->commits, special);
    ASSERT_EQ(found.size(), special.size());
    for (size_t i = 0; i < special.size(); ++i) {
      EXPECT_EQ(found[i], own_diff(path, *special[i])) << c.name << ": " << special[i]->message;
    }
  }
}

}  // namespace
}  // namespace brackwen
