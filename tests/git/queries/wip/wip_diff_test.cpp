#include "git/queries/wip/wip_diff.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::git;
using test::TempRepo;

constexpr auto P = HunkLineStatus::Plus;
constexpr auto M = HunkLineStatus::Minus;
constexpr auto U = HunkLineStatus::Unchanged;

struct L {
  HunkLineStatus status;
  std::optional<int32_t> old_num;
  std::optional<int32_t> new_num;
  std::string text;
  std::string ending = "\n";
};

void expect_lines(const std::optional<std::vector<HunkLine>>& lines,
                  const std::vector<L>& expected) {
  ASSERT_TRUE(lines);
  ASSERT_EQ(lines->size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const auto& line = (*lines)[i];
    EXPECT_EQ(line.status, expected[i].status) << i;
    EXPECT_EQ(line.old_num, expected[i].old_num) << i;
    EXPECT_EQ(line.new_num, expected[i].new_num) << i;
    EXPECT_EQ(line.text, expected[i].text) << i;
    EXPECT_EQ(line.line_ending, expected[i].ending) << i;
    EXPECT_EQ(line.index, i);
    EXPECT_EQ(line.hunk_index, -1);
  }
}

TEST(DiffTexts, NumbersEachSideAndSplitsLineEnds) {
  expect_lines(diff_texts("a\nb\nc", "a\nx\nc\n"), {{U, 1, 1, "a"},
                                                    {M, 2, std::nullopt, "b"},
                                                    {M, 3, std::nullopt, "c"},
                                                    {P, std::nullopt, 2, "x"},
                                                    {P, std::nullopt, 3, "c"}});
  // A lone "\r" ends a line of its own but is no line ending.
  expect_lines(diff_texts("", "p\rq\r\n"),
               {{P, std::nullopt, 1, "p\r", ""}, {P, std::nullopt, 2, "q", "\r\n"}});
  expect_lines(diff_texts("", ""), {});
}

WipPatch wip(std::string file, WipPatchType type) {
  WipPatch patch;
  patch.old_file = file;
  patch.new_file = std::move(file);
  patch.patch_type = type;
  return patch;
}

struct WipRepo : TempRepo {
  std::string head;
  WipRepo() {
    head = commit_file("lf.txt", "one\ntwo\nthree\n", "lf");
    head = commit_file("gone.txt", "x\ny", "gone");
  }
};

TEST(LoadWipDiff, WorkingFileEndingInLineFeedGetsNoPhantomLine) {
  WipRepo repo;
  // Mostly "\r\n", but the last line ends in "\n": nothing is appended.
  repo.write("lf.txt", "one\r\ntwo\r\nthree\n");
  expect_lines(load_wip_diff(repo.str(), wip("lf.txt", WipPatchType::M), repo.head),
               {{U, 1, 1, "one", "\r\n"},
                {U, 2, 2, "two", "\r\n"},
                {M, 3, std::nullopt, "three", "\r\n"},
                {P, std::nullopt, 3, "three", "\n"}});
  // Without a final line end, the majority ending is appended.
  repo.write("lf.txt", "one\ntwo\nthree");
  expect_lines(load_wip_diff(repo.str(), wip("lf.txt", WipPatchType::M), repo.head),
               {{U, 1, 1, "one"}, {U, 2, 2, "two"}, {U, 3, 3, "three"}});
}

TEST(LoadWipDiff, CommittedTextWithoutLastLineEndGainsIt) {
  WipRepo repo;
  repo.write("gone.txt", "x\ny\n");
  expect_lines(load_wip_diff(repo.str(), wip("gone.txt", WipPatchType::M), repo.head),
               {{U, 1, 1, "x"}, {U, 2, 2, "y"}});
}

TEST(LoadWipDiff, CarriageReturnOnlyFileShowsOnlyTheChangedLine) {
  TempRepo repo;
  auto head = repo.commit_file("mac.txt", "a\rb\rc\r", "mac");
  repo.write("mac.txt", "a\rB\rc\r");
  // Both sides get the same "\r\n" after their last lone "\r"; only "b" changed.
  expect_lines(load_wip_diff(repo.str(), wip("mac.txt", WipPatchType::M), head),
               {{U, 1, 1, "a\r", ""},
                {M, 2, std::nullopt, "b\r", ""},
                {P, std::nullopt, 2, "B\r", ""},
                {U, 3, 3, "c\r", ""},
                {U, 4, 4, "", "\r\n"}});
}

TEST(LoadWipDiff, EmptyMissingAndNonUtf8Files) {
  WipRepo repo;
  repo.write("empty.txt", "");
  expect_lines(load_wip_diff(repo.str(), wip("empty.txt", WipPatchType::A), repo.head), {});
  EXPECT_EQ(load_wip_diff(repo.str(), wip("missing.txt", WipPatchType::M), repo.head),
            std::nullopt);
  repo.write("latin1.txt", "caf\xe9\n");
  EXPECT_EQ(load_wip_diff(repo.str(), wip("latin1.txt", WipPatchType::A), repo.head), std::nullopt);
}

void only_regular_files_are_read() {
  alarm(10);  // a read that waits on the FIFO ends the check as a failure
  WipRepo repo;
  ASSERT_EQ(mkfifo((repo.path / "pipe").c_str(), 0600), 0);
  EXPECT_EQ(load_wip_diff(repo.str(), wip("pipe", WipPatchType::A), repo.head), std::nullopt);
  std::filesystem::create_directory(repo.path / "dir");
  EXPECT_EQ(load_wip_diff(repo.str(), wip("dir", WipPatchType::A), repo.head), std::nullopt);
}

TEST(LoadWipDiff, OnlyRegularFilesAreRead) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        only_regular_files_are_read();
        std::exit(testing::Test::HasFailure() ? 1 : 0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(LoadWipDiff, HeadIdThatReadsAsAnOptionIsRefused) {
  WipRepo repo;
  repo.write("lf.txt", "changed\n");
  EXPECT_EQ(load_wip_diff(repo.str(), wip("lf.txt", WipPatchType::M), "--output=x"), std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(repo.path / "x"));
}

TEST(LoadWipDiff, MajorityOfCarriageReturnsDecidesTheLineEnding) {
  TempRepo repo;
  auto head = repo.commit_file("f.txt", "a\nb\nc\nd\n", "f");
  // 4 "\n" and 3 "\r": "\r\n", so the committed lines are compared as "\r\n" lines.
  repo.write("f.txt", "a\r\nb\r\nc\r\nd\n");
  auto lines = load_wip_diff(repo.str(), wip("f.txt", WipPatchType::M), head);
  ASSERT_TRUE(lines);
  EXPECT_EQ((*lines)[0].status, U);
  EXPECT_EQ((*lines)[0].line_ending, "\r\n");
  // 4 "\n" and 2 "\r": "\n"; the two "\r\n" lines differ from the committed ones.
  repo.write("f.txt", "a\r\nb\r\nc\nd\n");
  lines = load_wip_diff(repo.str(), wip("f.txt", WipPatchType::M), head);
  ASSERT_TRUE(lines);
  EXPECT_EQ(lines->size(), 6u);
  EXPECT_EQ((*lines)[4].status, U);
  EXPECT_EQ((*lines)[4].text, "c");
}

}  // namespace
}  // namespace brackwen
