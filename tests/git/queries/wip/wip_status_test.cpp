#include "git/queries/wip/wip_status.hpp"

#include <gtest/gtest.h>

#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::git;
using test::TempRepo;
using T = WipPatchType;

std::vector<std::string> new_files(const std::optional<std::vector<WipPatch>>& patches) {
  std::vector<std::string> out;
  for (const auto& p : patches.value_or(std::vector<WipPatch>())) out.push_back(p.new_file);
  return out;
}

WipPatch record(std::string old_file, std::string new_file, T type, T staged, T unstaged,
                bool conflicted = false) {
  WipPatch p;
  p.old_file = std::move(old_file);
  p.new_file = std::move(new_file);
  p.patch_type = type;
  p.staged_type = staged;
  p.un_staged_type = unstaged;
  p.conflicted = conflicted;
  const char letters[] = "? ACDMRU";
  p.id = p.new_file + letters[static_cast<int>(type)];
  return p;
}

using namespace std::string_literals;

TEST(WipPatchesFromStatus, BuildsRecordsFromLetterPairs) {
  auto patches = wip_patches_from_status(
      "R  b.txt\0a.txt\0 M img/Logo.PNG\0?? u.txt\0A  n.txt\0AM m.txt\0 D d.txt\0RM new\0old\0"
      "C  copy\0orig\0 R ita\0src\0"s);
  ASSERT_TRUE(patches);
  auto logo = record("img/Logo.PNG", "img/Logo.PNG", T::M, T::Unchanged, T::M);
  logo.is_image = true;
  EXPECT_EQ(*patches, (std::vector<WipPatch>{
                          record("a.txt", "b.txt", T::R, T::R, T::Unchanged),
                          record("orig", "copy", T::C, T::C, T::Unchanged),
                          record("d.txt", "d.txt", T::D, T::Unchanged, T::D),
                          logo,
                          record("src", "ita", T::R, T::Unchanged, T::R),
                          record("m.txt", "m.txt", T::M, T::A, T::M),
                          record("n.txt", "n.txt", T::A, T::A, T::Unchanged),
                          record("old", "new", T::M, T::R, T::M),
                          record("u.txt", "u.txt", T::A, T::Question, T::Question),
                      }));
}

TEST(WipPatchesFromStatus, PathsEndOnlyAtNulAndTypeChangeReadsAsModified) {
  auto patches = wip_patches_from_status("?? a\tb\0 M x\ny\0??  lead\0 T link\0T  t2\0"s);
  ASSERT_TRUE(patches);
  EXPECT_EQ(new_files(patches), (std::vector<std::string>{" lead", "a\tb", "link", "t2", "x\ny"}));
  EXPECT_EQ((*patches)[2].patch_type, T::M);
  EXPECT_EQ((*patches)[2].id, "linkM");
  EXPECT_EQ((*patches)[3].staged_type, T::M);
}

TEST(WipPatchesFromStatus, ConflictsHideEverythingElse) {
  auto patches = wip_patches_from_status("UU z\0 M b\0AA y\0DD x\0AU w\0UD v\0AD u\0DA t\0"s);
  EXPECT_EQ(new_files(patches), (std::vector<std::string>{"z", "y", "x", "w", "v"}));
  for (const auto& p : *patches) EXPECT_TRUE(p.conflicted);
}

TEST(WipPatchesFromStatus, SortsByUnicodeLowerCaseKeepingGitOrderForEqualNames) {
  auto patches =
      wip_patches_from_status("?? b.txt\0?? A.txt\0?? a.txt\0?? Ärger\0?? zeta\0?? ärger\0"s);
  EXPECT_EQ(new_files(patches),
            (std::vector<std::string>{"A.txt", "a.txt", "b.txt", "zeta", "Ärger", "ärger"}));
}

TEST(WipPatchesFromStatus, UnknownLettersAndEmptyOutputAreNoValue) {
  EXPECT_EQ(wip_patches_from_status(""), std::nullopt);
  EXPECT_EQ(wip_patches_from_status(" M a\0!! ignored\0"s), std::nullopt);
}

TEST(LoadWipPatches, RealRepository) {
  TempRepo repo;
  EXPECT_EQ(load_wip_patches(repo.str()), std::nullopt);  // no commit, nothing to show
  repo.commit_file("a.txt", "l1\nl2\nl3\nl4\nl5\n", "a");
  repo.commit_file("old.txt", "o1\no2\no3\no4\no5\n", "old");
  EXPECT_EQ(load_wip_patches(repo.str()), std::nullopt);  // clean

  git(repo.path, {"mv", "old.txt", "moved.txt"});
  repo.write("moved.txt", "o1\no2\no3\no4\no5\no6\n");
  repo.write("Upper.txt", "u\n");
  repo.write("lower.txt", "l\n");
  repo.write("tab\there.txt", "t\n");
  repo.write(" leading.txt", "b\n");
  repo.write("dir/ünï.txt", "x\n");
  auto patches = load_wip_patches(repo.str());
  EXPECT_EQ(new_files(patches),
            (std::vector<std::string>{" leading.txt", "dir/ünï.txt", "lower.txt", "moved.txt",
                                      "tab\there.txt", "Upper.txt"}));
  ASSERT_TRUE(patches);
  EXPECT_EQ((*patches)[3], record("old.txt", "moved.txt", T::M, T::R, T::M));
  EXPECT_EQ((*patches)[5], record("Upper.txt", "Upper.txt", T::A, T::Question, T::Question));

  // Copies show when git is asked to detect them.
  git(repo.path, {"config", "status.renames", "copies"});
  repo.write("a.txt", "l1\nl2\nl3\nl4\nl5\nl6\n");
  repo.write("copy.txt", "l1\nl2\nl3\nl4\nl5\n");
  git(repo.path, {"add", "a.txt", "copy.txt"});
  patches = load_wip_patches(repo.str());
  ASSERT_TRUE(patches);
  EXPECT_EQ((*patches)[2], record("a.txt", "copy.txt", T::C, T::C, T::Unchanged));

  EXPECT_EQ(load_wip_patches((repo.path / "no-such-dir").string()), std::nullopt);
}

TEST(LoadWipPatches, ConflictedMergeReturnsOnlyConflicts) {
  TempRepo repo;
  repo.commit_file("c.txt", "base\n", "base");
  git(repo.path, {"checkout", "-q", "-b", "side"});
  repo.commit_file("c.txt", "side\n", "side");
  git(repo.path, {"checkout", "-q", "main"});
  repo.commit_file("c.txt", "main\n", "main");
  repo.commit_file("other.txt", "o\n", "other");
  test::sh(repo.path, "git merge side >/dev/null 2>&1 || true");
  repo.write("untracked.txt", "u\n");
  auto patches = load_wip_patches(repo.str());
  ASSERT_TRUE(patches);
  EXPECT_EQ(*patches, (std::vector<WipPatch>{record("c.txt", "c.txt", T::U, T::U, T::U, true)}));
}

}  // namespace
}  // namespace brackwen
