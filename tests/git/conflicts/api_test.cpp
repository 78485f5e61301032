#include "git/conflicts/api.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "api_types/json.hpp"
#include "git/queries/refs.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

ConflictSideLine cell(ConflictSide side, std::string text, uint64_t section, uint64_t i) {
  return {.kind = ConflictSideLine::Kind::Conflict,
          .text = std::move(text),
          .side = side,
          .section = section,
          .key = std::string(side == ConflictSide::Left ? "Left" : "Right") + "-" +
                 std::to_string(section) + "-" + std::to_string(i)};
}
ConflictSideLine left(std::string text, uint64_t section, uint64_t i) {
  return cell(ConflictSide::Left, std::move(text), section, i);
}
ConflictSideLine right(std::string text, uint64_t section, uint64_t i) {
  return cell(ConflictSide::Right, std::move(text), section, i);
}
ConflictSideLine blank(uint64_t section) {
  ConflictSideLine b;
  b.section = section;
  return b;
}
ConflictLine ok(std::string text) {
  ConflictLine row;
  row.text = std::move(text);
  return row;
}
ConflictLine slot(uint64_t section, uint64_t index) {
  ConflictLine row;
  row.kind = ConflictLine::Kind::Slot;
  row.section = section;
  row.index = index;
  return row;
}
using Lines = std::vector<ConflictLine>;
using Cells = std::vector<ConflictSideLine>;

TEST(ReadConflicts, EmptyFileAndPlainText) {
  EXPECT_EQ(read_conflicts(""), ConflictFile{});
  auto plain = read_conflicts("one\n\nthree");
  EXPECT_EQ(plain.lines, (Lines{ok("one"), ok(""), ok("three")}));
  EXPECT_TRUE(plain.sections.empty());
  EXPECT_EQ(plain.max_line_length, 5u);
}

TEST(ReadConflicts, CrlfLinesReadAsLf) {
  std::string lf = "x\n<<<<<<< HEAD\nl1\n=======\nr1\nr2\n>>>>>>> other\ny\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(read_conflicts(crlf), read_conflicts(lf));
  EXPECT_EQ(read_conflicts(crlf).line_ending, "\n");
  // Only one "\r" is taken off.
  EXPECT_EQ(read_conflicts("a\r\r\n").lines, (Lines{ok("a\r")}));
}

TEST(ReadConflicts, MarkerClassification) {
  struct Case {
    const char* text;
    size_t sections;
  };
  for (auto c : {
           Case{"<<<<<<\nx\n", 0},    // six is content
           Case{"<<<<<<<<\nx\n", 1},  // eight is a start marker
           Case{"<<<<<<<\nx\n", 1},   // exactly seven, no label
           Case{"|||||||\nx\n", 0},   // the diff3 base marker is not recognised
           Case{"=======\nx\n", 0},   // a stray separator opens nothing
           Case{"x<<<<<<<\ny\n", 0},  // markers only at the line start
       }) {
    EXPECT_EQ(read_conflicts(c.text).sections.size(), c.sections) << c.text;
  }
  auto stray = read_conflicts("=======\nx\n");
  EXPECT_EQ(stray.lines, (Lines{ok("x")}));
}

TEST(ReadConflicts, EmptySidedConflictIsClosedWithoutASection) {
  auto file = read_conflicts(
      "a\n<<<<<<< HEAD\n=======\n>>>>>>> b\nc\n<<<<<<< HEAD\nl\n=======\n>>>>>>> b\n");
  EXPECT_EQ(file.lines, (Lines{ok("a"), ok("c"), slot(0, 0)}));
  ASSERT_EQ(file.sections.size(), 1u);
  EXPECT_EQ(file.sections[0].left, (Cells{left("l", 0, 0)}));
  EXPECT_EQ(file.sections[0].right, (Cells{blank(0)}));
  // A lone end marker is dropped as well.
  EXPECT_EQ(read_conflicts(">>>>>>> x\ny\n").lines, (Lines{ok("y")}));
}

TEST(ReadConflicts, UnclosedConflictKeepsCellsWithoutSlots) {
  auto file = read_conflicts("a\n<<<<<<< HEAD\nl1\nl2\n=======\nr1\n");
  EXPECT_EQ(file.lines, (Lines{ok("a")}));
  ASSERT_EQ(file.sections.size(), 1u);
  EXPECT_EQ(file.sections[0].left.size(), 2u);
  EXPECT_EQ(file.sections[0].right, (Cells{right("r1", 0, 0)}));
  EXPECT_EQ(file.ref_name_bottom, "");
}

TEST(ReadConflicts, SecondConflictNumbersAndRefNames) {
  auto file = read_conflicts(
      "<<<<<<<\n<<<<<<< HEAD\nl\n=======\n>>>>>>> first\nmid\n<<<<<<< other\n=======\nr\n"
      "<<<<<<< again\nl2\n>>>>>>> second\n");
  EXPECT_EQ(file.ref_name_top, "HEAD");  // the label-less marker gives no id
  EXPECT_EQ(file.ref_name_bottom, "Local/first");
  ASSERT_EQ(file.sections.size(), 2u);
  // Right side empty: blanks on the right, one slot per left line.
  EXPECT_EQ(file.sections[0].right, (Cells{blank(0)}));
  // A start marker inside a conflict goes back to the left side of the same section.
  EXPECT_EQ(file.sections[1].left, (Cells{left("l2", 1, 0)}));
  EXPECT_EQ(file.sections[1].right, (Cells{right("r", 1, 0)}));
  EXPECT_EQ(file.lines, (Lines{slot(0, 0), ok("mid"), slot(1, 0)}));
}

TEST(ReadConflicts, MaxLineLengthCountsBytesOfContentOnly) {
  auto file = read_conflicts("<<<<<<< a-very-long-label-indeed\nééé\n=======\n>>>>>>> x\n");
  EXPECT_EQ(file.max_line_length, 6u);
}

TEST(LoadConflictedFile, ReadsFromTheWorkingCopy) {
  test::TempRepo repo;
  repo.write("dir/ä b.txt", "a\n<<<<<<< HEAD\nb\n=======\nc\n>>>>>>> x\n");
  auto file = load_conflicted_file(repo.str(), "dir/ä b.txt");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->sections.size(), 1u);
}

TEST(LoadConflictedFile, UnreadableInputsGiveNothing) {
  test::TempRepo repo;
  repo.write("good.txt", "ok\n");
  // A FIFO without a writer would block the open.
  ASSERT_EQ(mkfifo((repo.path / "pipe").c_str(), 0600), 0);
  EXPECT_FALSE(load_conflicted_file(repo.str(), "pipe"));
  EXPECT_FALSE(load_conflicted_file(repo.str(), "."));                // a directory
  EXPECT_FALSE(load_conflicted_file("/", repo.str() + "/good.txt"));  // only below the repository
  EXPECT_FALSE(load_conflicted_file(repo.str(), std::string("good.txt\0x", 10)));
  EXPECT_FALSE(load_conflicted_file(repo.str() + std::string("\0", 1), "good.txt"));
  EXPECT_TRUE(load_conflicted_file(repo.str(), "good.txt"));
}

}  // namespace
}  // namespace brackwen
