#include "git/queries/hunks/load_hunks.hpp"

#include <gtest/gtest.h>

#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::git;
using test::TempRepo;

Commit commit_of(std::string id, std::vector<std::string> parents, bool merge = false) {
  Commit c;
  c.id = std::move(id);
  c.parent_ids = std::move(parents);
  c.is_merge = merge;
  return c;
}

Patch patch_of(std::string old_file, std::string new_file, PatchType type) {
  Patch p;
  p.old_file = std::move(old_file);
  p.new_file = std::move(new_file);
  p.patch_type = type;
  return p;
}

std::string head(const TempRepo& repo, const std::string& rev = "HEAD") {
  auto id = git(repo.path, {"rev-parse", rev});
  return id.substr(0, id.size() - 1);
}

using Args = std::optional<std::vector<std::string>>;

TEST(HunkDiffArgs, RangeDependsOnParentsAndOnlyRenamesPassTheNewPath) {
  auto m = patch_of("a.txt", "b.txt", PatchType::M);
  auto r = patch_of("a.txt", "b.txt", PatchType::R);
  auto dash = patch_of("-n", "-n", PatchType::M);
  EXPECT_EQ(hunk_diff_args(commit_of("c1", {}), m),
            Args({"diff", "--end-of-options", "4b825dc642cb6eb9a060e54bf8d69288fbee4904..c1", "--",
                  ":(literal)a.txt"}));
  EXPECT_EQ(hunk_diff_args(commit_of("c2", {"p1"}), m),
            Args({"diff", "--end-of-options", "p1..c2", "--", ":(literal)a.txt"}));
  EXPECT_EQ(hunk_diff_args(commit_of("c3", {"p1", "p2"}, true), m),
            Args({"diff", "--end-of-options", "p1...p2", "--", ":(literal)a.txt"}));
  EXPECT_EQ(
      hunk_diff_args(commit_of("c2", {"p1"}), r),
      Args({"diff", "--end-of-options", "p1..c2", "--", ":(literal)a.txt", ":(literal)b.txt"}));
  // A path is safe after "--"; a revision that would read as an option is refused.
  EXPECT_EQ(hunk_diff_args(commit_of("c2", {"p1"}), dash),
            Args({"diff", "--end-of-options", "p1..c2", "--", ":(literal)-n"}));
  EXPECT_EQ(hunk_diff_args(commit_of("c3", {"p1"}, true), m), std::nullopt);
  EXPECT_EQ(hunk_diff_args(commit_of("--output=x", {}), m), std::nullopt);
  EXPECT_EQ(hunk_diff_args(commit_of("c2", {"-p"}), m), std::nullopt);
  EXPECT_EQ(hunk_diff_args(commit_of("c3", {"p1", "--x"}, true), m), std::nullopt);
}

// (status, old, new, text, ending) of each line of a hunk.
struct L {
  HunkLineStatus status;
  std::optional<int32_t> old_num;
  std::optional<int32_t> new_num;
  std::string text;
  std::string ending = "\n";
};

void expect_lines(const Hunk& hunk, const std::vector<L>& expected) {
  ASSERT_EQ(hunk.lines.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const auto& line = hunk.lines[i];
    EXPECT_EQ(line.status, expected[i].status) << i;
    EXPECT_EQ(line.old_num, expected[i].old_num) << i;
    EXPECT_EQ(line.new_num, expected[i].new_num) << i;
    EXPECT_EQ(line.text, expected[i].text) << i;
    EXPECT_EQ(line.line_ending, expected[i].ending) << i;
    EXPECT_EQ(line.index, i);
    EXPECT_EQ(line.hunk_index, hunk.index);
  }
}

constexpr auto P = HunkLineStatus::Plus;
constexpr auto M = HunkLineStatus::Minus;
constexpr auto U = HunkLineStatus::Unchanged;
constexpr auto none = std::nullopt;

const std::string header = "diff --git a/f b/f\nindex 1111111..2222222 100644\n--- a/f\n+++ b/f\n";

TEST(DiffHunks, NumbersContextRemovedAndAddedLines) {
  auto hunks = diff_hunks(header + "@@ -10,3 +10,3 @@ fn main()\n a\n-b\n+c\n\n d");
  ASSERT_TRUE(hunks);
  ASSERT_EQ(hunks->size(), 1u);
  const auto& h = hunks->front();
  EXPECT_EQ(h.old_line_range, (LineRange{10, 3}));
  EXPECT_EQ(h.new_line_range, (LineRange{10, 3}));
  EXPECT_EQ(h.context_line, "");
  expect_lines(h, {{U, 10, 10, "a"},
                   {M, 11, none, "b"},
                   {P, none, 11, "c"},
                   {U, 12, 12, ""},
                   {U, 13, 13, "d", ""}});
}

TEST(DiffHunks, TwoHunksCrlfAndBareHeaderRanges) {
  auto hunks = diff_hunks(header + "@@ -1 +1 @@\r\n-x\r\n+y\r\n@@ -0,0 +5,2 @@\n+p\n+q\n");
  ASSERT_TRUE(hunks);
  ASSERT_EQ(hunks->size(), 2u);
  EXPECT_EQ((*hunks)[0].index, 0);
  EXPECT_EQ((*hunks)[0].old_line_range, (LineRange{1, 1}));
  expect_lines((*hunks)[0], {{M, 1, none, "x", "\r\n"}, {P, none, 1, "y", "\r\n"}});
  EXPECT_EQ((*hunks)[1].index, 1);
  EXPECT_EQ((*hunks)[1].old_line_range, (LineRange{0, 0}));
  EXPECT_EQ((*hunks)[1].new_line_range, (LineRange{5, 2}));
  expect_lines((*hunks)[1], {{P, none, 5, "p"}, {P, none, 6, "q"}});
}

TEST(DiffHunks, NoNewlineMarkerIsAContextLineThatDoesNotShiftNumbers) {
  auto hunks = diff_hunks(header +
                          "@@ -1 +1 @@\n-x\n\\ No newline at end of file\n+x\n"
                          "\\ No newline at end of file\n");
  ASSERT_TRUE(hunks);
  expect_lines(hunks->front(), {{M, 1, none, "x"},
                                {U, 2, 1, " No newline at end of file", ""},
                                {P, none, 1, "x"},
                                {U, 2, 2, " No newline at end of file", ""}});
}

TEST(DiffHunks, NumbersPastTheLargestHeaderStartWrapInsteadOfOverflowing) {
  auto hunks = diff_hunks(header + "@@ -2147483647,2 +2147483647,2 @@\n a\n-b\n+c\n");
  ASSERT_TRUE(hunks);
  constexpr int32_t max = INT32_MAX, min = INT32_MIN;
  expect_lines(hunks->front(), {{U, max, max, "a"}, {M, min, none, "b"}, {P, none, min, "c"}});
}

TEST(DiffHunks, HeadersWithoutHunksGiveEmptyListsAndBinaryOneEmptyHunk) {
  const std::string mode_change = "diff --git a/s b/s\nold mode 100644\nnew mode 100755\n";
  const std::string pure_rename =
      "diff --git a/a b/b\nsimilarity index 100%\nrename from a\nrename to b\n";
  const std::string empty_file =
      "diff --git a/e b/e\nnew file mode 100644\nindex 0000000..e69de29\n";
  for (const auto& text : {mode_change, pure_rename, empty_file}) {
    EXPECT_EQ(diff_hunks(text), std::vector<Hunk>()) << text;
  }
  auto binary = diff_hunks(
      "diff --git a/i.png b/i.png\nnew file mode 100644\nindex 0000000..1234567\n"
      "Binary files /dev/null and b/i.png differ\n");
  ASSERT_TRUE(binary);
  EXPECT_EQ(*binary, std::vector<Hunk>(1));
}

TEST(DiffHunks, TextTheGrammarDoesNotReachTheEndOfIsNoValue) {
  EXPECT_FALSE(diff_hunks(""));
  EXPECT_FALSE(diff_hunks(header + "@@ -1 +1 @@\n-a\n+b\n" + header));  // two files
  EXPECT_FALSE(diff_hunks("warning: something\n"));
}

TEST(LoadHunks, RootCommitMergeRenameBinaryAndMissingNewline) {
  TempRepo repo;
  auto root = repo.commit_file("f.txt", "one\ntwo\n", "root");
  auto root_hunks =
      load_hunks(repo.str(), commit_of(root, {}), patch_of("f.txt", "f.txt", PatchType::A));
  ASSERT_TRUE(root_hunks);
  ASSERT_EQ(root_hunks->size(), 1u);
  EXPECT_EQ(root_hunks->front().new_line_range, (LineRange{1, 2}));
  expect_lines(root_hunks->front(), {{P, none, 1, "one"}, {P, none, 2, "two"}});

  // A merge diffs its first parent against its second.
  git(repo.path, {"checkout", "-q", "-b", "side"});
  auto side = repo.commit_file("f.txt", "one\ntwo\nside\n", "side");
  git(repo.path, {"checkout", "-q", "main"});
  auto main_tip = repo.commit_file("g.txt", "g\n", "main");
  git(repo.path, {"merge", "-q", "--no-edit", "side"});
  auto merge = commit_of(head(repo), {main_tip, side}, true);
  auto merge_hunks = load_hunks(repo.str(), merge, patch_of("f.txt", "f.txt", PatchType::M));
  ASSERT_TRUE(merge_hunks);
  expect_lines(merge_hunks->front(), {{U, 1, 1, "one"}, {U, 2, 2, "two"}, {P, none, 3, "side"}});

  git(repo.path, {"mv", "f.txt", "renamed.txt"});
  repo.write("renamed.txt", "one\ntwo\nside\nmore");
  git(repo.path, {"add", "-A"});
  git(repo.path, {"commit", "-q", "-m", "rename"});
  auto renamed = commit_of(head(repo), {head(repo, "HEAD~1")});
  auto rename_hunks =
      load_hunks(repo.str(), renamed, patch_of("f.txt", "renamed.txt", PatchType::R));
  ASSERT_TRUE(rename_hunks);
  ASSERT_EQ(rename_hunks->size(), 1u);
  const auto& lines = rename_hunks->front().lines;
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().text, " No newline at end of file");
  EXPECT_EQ(lines[lines.size() - 2].text, "more");
  EXPECT_EQ(lines[lines.size() - 2].new_num, 4);

  auto binary = repo.commit_file("blob.bin", std::string("\0\1\2", 3), "binary");
  auto binary_hunks = load_hunks(repo.str(), commit_of(binary, {head(repo, "HEAD~1")}),
                                 patch_of("blob.bin", "blob.bin", PatchType::A));
  EXPECT_EQ(binary_hunks, std::vector<Hunk>(1));

  // Nothing changed in that file between the two revisions: git prints nothing.
  EXPECT_EQ(load_hunks(repo.str(), commit_of(binary, {head(repo, "HEAD~1")}),
                       patch_of("g.txt", "g.txt", PatchType::M)),
            std::nullopt);
}

TEST(LoadHunks, DashLeadingFileNameIsAPathNotAnOption) {
  TempRepo repo;
  repo.commit_file("-n", "a\n", "one");
  auto second = repo.commit_file("-n", "b\n", "two");
  auto hunks = load_hunks(repo.str(), commit_of(second, {head(repo, "HEAD~1")}),
                          patch_of("-n", "-n", PatchType::M));
  ASSERT_TRUE(hunks);
  expect_lines(hunks->front(), {{M, 1, none, "a"}, {P, none, 1, "b"}});
}

TEST(LoadHunks, FileNameIsNeverAPattern) {
  TempRepo repo;
  repo.write("a.txt", "a\n");
  repo.write("[ab].txt", "x\n");
  git(repo.path, {"add", "-A"});
  git(repo.path, {"commit", "-q", "-m", "one"});
  repo.write("a.txt", "changed\n");
  git(repo.path, {"commit", "-q", "-am", "two"});
  // Only a.txt changed; as a pattern "[ab].txt" would match it and show its hunks.
  EXPECT_EQ(load_hunks(repo.str(), commit_of(head(repo), {head(repo, "HEAD~1")}),
                       patch_of("[ab].txt", "[ab].txt", PatchType::M)),
            std::nullopt);
}

}  // namespace
}  // namespace brackwen
