#include "git/queries/patches/patch_parsers.hpp"

#include <gtest/gtest.h>

namespace brackwen {
namespace {

using namespace std::string_literals;

std::vector<NameStatusEntry> entries_of(const std::string& text, size_t* stop = nullptr) {
  Input in{text};
  auto entries = parse_name_status(in);
  if (stop) *stop = in.position;
  return *entries;
}

TEST(NameStatus, EntriesOfEveryShape) {
  auto entries = entries_of("R100\0old.txt\0new.txt\0C75\0a\0b\0M\0src/x.png\0C\0one\0D\0gone\0"s);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0], (NameStatusEntry{"old.txt", "new.txt", "new.txt-R100", PatchType::R}));
  EXPECT_EQ(entries[1], (NameStatusEntry{"a", "b", "b-C75", PatchType::C}));
  EXPECT_EQ(entries[2], (NameStatusEntry{"src/x.png", "src/x.png", "src/x.png-M", PatchType::M}));
  // "C" without a score is read as a copy with one path.
  EXPECT_EQ(entries[3], (NameStatusEntry{"one", "one", "one-C", PatchType::C}));
  EXPECT_EQ(entries[4].patch_type, PatchType::D);
}

TEST(NameStatus, OnlyNulEndsAPath) {
  std::string odd = "a\tb\nc  \x1b[0m\u0085 ";
  auto entries = entries_of("A\0"s + odd + "\0R090\0  lead\0"s + odd + "\0"s);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].new_file, odd);
  EXPECT_EQ(entries[0].id, odd + "-A");
  EXPECT_EQ(entries[1].old_file, "  lead");
  EXPECT_EQ(entries[1].new_file, odd);
}

TEST(NameStatus, UnknownLetterOrRenameWithoutScoreEndsTheList) {
  for (std::string text : {"M\0a\0Z\0b\0"s, "M\0a\0R\0b\0c\0"s, "M\0a\0\0"s}) {
    size_t stop = 0;
    auto entries = entries_of(text, &stop);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(stop, 4u);
  }
}

TEST(PatchList, RecordsOfShowAndLog) {
  std::string id1(40, '1');
  std::string id2(40, '2');
  std::string id3(40, '3');
  std::string text =
      id1 + ",\nA\0 lead\0\0"s + id2 + ",\nR100\0a\0b\tc\0M\0P.PNG\0\0"s + id3 + ",\n";
  auto records = patch_list(text);
  ASSERT_TRUE(records);
  ASSERT_EQ(records->size(), 3u);
  EXPECT_EQ((*records)[0].first, id1);
  ASSERT_EQ((*records)[0].second.size(), 1u);
  EXPECT_EQ((*records)[0].second[0],
            (Patch{id1, " lead", " lead", PatchType::A, " lead-A", false}));
  ASSERT_EQ((*records)[1].second.size(), 2u);
  EXPECT_EQ((*records)[1].second[0], (Patch{id2, "a", "b\tc", PatchType::R, "b\tc-R100", false}));
  EXPECT_TRUE((*records)[1].second[1].is_image);
  EXPECT_EQ((*records)[2].first, id3);
  EXPECT_TRUE((*records)[2].second.empty());
  EXPECT_TRUE(patch_list("")->empty());
}

}  // namespace
}  // namespace brackwen
