// Diffs: git's hunks read from its text, and the working-copy line diff with its numbering.
#include <gtest/gtest.h>

#include <random>

#include "git/queries/hunks/load_hunks.hpp"
#include "git/queries/wip/line_diff.hpp"
#include "support/git_recorder.hpp"

namespace brackwen {
namespace {

using Shown = std::vector<std::string>;

// A line as "<status><old>,<new> <text>|<ending>"; its index and hunk are checked on the way.
Shown shown(const std::vector<HunkLine>& lines, int32_t hunk) {
  Shown out;
  for (size_t i = 0; i < lines.size(); ++i) {
    const HunkLine& l = lines[i];
    EXPECT_EQ(l.index, i);
    EXPECT_EQ(l.hunk_index, hunk);
    auto num = [](std::optional<int32_t> n) { return n ? std::to_string(*n) : "_"; };
    char status = l.status == HunkLineStatus::Plus    ? '+'
                  : l.status == HunkLineStatus::Minus ? '-'
                                                      : ' ';
    out.push_back(status + num(l.old_num) + "," + num(l.new_num) + " " + l.text + "|" +
                  l.line_ending);
  }
  return out;
}

// Each hunk as "@<old start>,<length> <new start>,<length>" followed by its lines.
std::optional<std::vector<Shown>> shown(const std::optional<std::vector<Hunk>>& hunks) {
  if (!hunks) return std::nullopt;
  std::vector<Shown> out;
  for (size_t i = 0; i < hunks->size(); ++i) {
    const Hunk& h = (*hunks)[i];
    EXPECT_EQ(h.index, static_cast<int32_t>(i));
    auto range = [](LineRange r) {
      return std::to_string(r.start) + "," + std::to_string(r.length);
    };
    out.push_back({"@" + range(h.old_line_range) + " " + range(h.new_line_range)});
    for (std::string& line : shown(h.lines, h.index)) out.back().push_back(std::move(line));
  }
  return out;
}

TEST(HunkGrammar, Table) {
  const std::string header =
      "diff --git a/f b/f\nindex 1111111..2222222 100644\n--- a/f\n+++ b/f\n";
  std::pair<std::string, std::optional<std::vector<Shown>>> cases[] = {
      {header + "@@ -10,3 +10,3 @@ fn main()\n a\n-b\n+c\n\n d",
       std::vector<Shown>{
           {"@10,3 10,3", " 10,10 a|\n", "-11,_ b|\n", "+_,11 c|\n", " 12,12 |\n", " 13,13 d|"}}},
      {header + "@@ -1 +1 @@\r\n-x\r\n+y\r\n@@ -0,0 +5,2 @@\n+p\n+q\n",
       std::vector<Shown>{{"@1,1 1,1", "-1,_ x|\r\n", "+_,1 y|\r\n"},
                          {"@0,0 5,2", "+_,5 p|\n", "+_,6 q|\n"}}},
      // The marker is a context line that does not move the numbers.
      {header + "@@ -1 +1 @@\n-x\n\\ No newline at end of file\n+x\n\\ No newline at end of file\n",
       std::vector<Shown>{{"@1,1 1,1", "-1,_ x|\n", " 2,1  No newline at end of file|", "+_,1 x|\n",
                           " 2,2  No newline at end of file|"}}},
      // Past the largest header start the numbers wrap instead of overflowing.
      {header + "@@ -2147483647,2 +2147483647,2 @@\n a\n-b\n+c\n",
       std::vector<Shown>{{"@2147483647,2 2147483647,2", " 2147483647,2147483647 a|\n",
                           "-" + std::to_string(INT32_MIN) + ",_ b|\n",
                           "+_," + std::to_string(INT32_MIN) + " c|\n"}}},
      {"diff --git a/s b/s\nold mode 100644\nnew mode 100755\n", std::vector<Shown>{}},
      {"diff --git a/a b/b\nsimilarity index 100%\nrename from a\nrename to b\n",
       std::vector<Shown>{}},
      {"diff --git a/e b/e\nnew file mode 100644\nindex 0000000..e69de29\n", std::vector<Shown>{}},
      {"diff --git a/i b/i\nnew file mode 100644\nindex 0000000..1234567\n"
       "Binary files /dev/null and b/i differ\n",
       std::vector<Shown>{{"@0,0 0,0"}}},
      {"", std::nullopt},
      {header + "@@ -1 +1 @@\n-a\n+b\n" + header, std::nullopt},  // two files
      {"warning: something\n", std::nullopt},
  };
  for (const auto& [text, hunks] : cases) EXPECT_EQ(shown(diff_hunks(text)), hunks) << text;
}

Commit commit_of(const test::TempRepo& repo, std::string rev, size_t parents = 1) {
  Commit c;
  c.id = test::trimmed(test::git(repo.path, {"rev-parse", rev}));
  for (size_t i = 1; i <= parents; ++i) {
    c.parent_ids.push_back(
        test::trimmed(test::git(repo.path, {"rev-parse", rev + "^" + std::to_string(i)})));
  }
  c.is_merge = parents > 1;
  return c;
}

Patch patch_of(std::string old_file, std::string new_file, PatchType type = PatchType::M) {
  Patch p;
  p.old_file = std::move(old_file);
  p.new_file = std::move(new_file);
  p.patch_type = type;
  return p;
}

// A merge diffs its first parent against its second; a rename its old path against its new.
TEST(LoadHunks, Table) {
  test::use_plain_git_config();
  test::TempRepo repo;
  repo.commit_file("f.txt", "one\n", "root");
  test::sh(repo.path,
           "git checkout -q -b side && echo side >> f.txt && git commit -qam side && "
           "git checkout -q main && echo g > g.txt && git add g.txt && git commit -qm g && "
           "git merge -q --no-edit side && git mv f.txt r.txt && printf 'one\\nside\\nmore' "
           "> r.txt && git add -A && git commit -qm rename");
  std::tuple<Commit, Patch, std::optional<std::vector<Shown>>> cases[] = {
      {commit_of(repo, "HEAD~3", 0), patch_of("f.txt", "f.txt", PatchType::A),
       std::vector<Shown>{{"@0,0 1,1", "+_,1 one|\n"}}},
      {commit_of(repo, "HEAD~1", 2), patch_of("f.txt", "f.txt"),
       std::vector<Shown>{{"@1,1 1,2", " 1,1 one|\n", "+_,2 side|\n"}}},
      {commit_of(repo, "HEAD~1", 2), patch_of("g.txt", "g.txt"), std::nullopt},
      {commit_of(repo, "HEAD"), patch_of("f.txt", "r.txt", PatchType::R),
       std::vector<Shown>{{"@1,2 1,3", " 1,1 one|\n", " 2,2 side|\n", "+_,3 more|\n",
                           " 3,4  No newline at end of file|"}}},
  };
  for (const auto& [commit, patch, hunks] : cases) {
    EXPECT_EQ(shown(load_hunks(repo.str(), commit, patch)), hunks) << patch.new_file;
  }
}

size_t lcs_length(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b) {
  std::vector<std::vector<size_t>> t(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = a.size(); i-- > 0;) {
    for (size_t j = b.size(); j-- > 0;) {
      t[i][j] = a[i] == b[j] ? t[i + 1][j + 1] + 1 : std::max(t[i + 1][j], t[i][j + 1]);
    }
  }
  return t[0][0];
}

// Replays the script, which must rebuild both sides with no "+" right before a "-"; returns
// its number of unchanged lines.
size_t replayed(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b,
                const std::vector<LineChange>& script) {
  size_t i = 0, j = 0, same = 0;
  for (size_t k = 0; k < script.size(); ++k) {
    bool same_line = script[k] == LineChange::Same;
    EXPECT_FALSE(script[k] == LineChange::Removed && k > 0 && script[k - 1] == LineChange::Added);
    if (script[k] != LineChange::Added && i++ >= a.size()) return SIZE_MAX;
    if (script[k] != LineChange::Removed && j++ >= b.size()) return SIZE_MAX;
    if (same_line && a[i - 1] != b[j - 1]) return SIZE_MAX;
    same += same_line;
  }
  return i == a.size() && j == b.size() ? same : SIZE_MAX;
}

TEST(LineDiff, RandomTextsGetAValidScriptMinimalWhileSmall) {
  std::mt19937 random(7);
  std::vector<std::string> small = {"\n", "}\n", "c\r\n", "c\n", "c\r", "c"};
  for (char c = 'a'; c <= 'r'; ++c) small.push_back(std::string(1, c) + "\n");
  std::vector<std::string> often;
  for (int k = 0; k < 3000; ++k) often.push_back(std::to_string(k) + "u\n");
  std::vector<std::string> few(often.begin(), often.begin() + 40);
  // Lines drawn from `alphabet`, with `percent` odds from its first three lines alone. A few
  // lines that repeat often among many that occur once: xdiff on its own sets the repeated
  // ones aside where they stand among unmatched ones, and misses matches. Past about 512
  // edits its heuristics could engage; up to 1000 lines of 40 kinds it stays exact. The last
  // row is beyond exactness: its script must still be valid and come at a bounded cost.
  struct Case {
    const std::vector<std::string>& alphabet;
    unsigned percent;
    size_t max_lines;
    int rounds;
    bool minimal = true;
  } cases[] = {
      {small, 0, 80, 500}, {often, 40, 300, 200}, {few, 0, 1000, 10}, {often, 5, 200000, 2, false}};
  for (const Case& c : cases) {
    auto make = [&](size_t n) {
      std::vector<std::string_view> lines;
      for (size_t k = 0; k < n; ++k) {
        lines.push_back(
            c.alphabet[random() % (random() % 100 < c.percent ? 3 : c.alphabet.size())]);
      }
      return lines;
    };
    for (int round = 0; round < c.rounds; ++round) {
      auto a = make(random() % c.max_lines), b = make(random() % c.max_lines);
      size_t same = replayed(a, b, line_diff(a, b));
      ASSERT_NE(same, SIZE_MAX) << c.max_lines << " lines, round " << round;
      ASSERT_TRUE(!c.minimal || same == lcs_length(a, b))
          << c.max_lines << " lines, round " << round;
    }
  }
  using C = LineChange;
  EXPECT_EQ(
      line_diff({"1\n", "x\n", "y\n", "2\n"}, {"1\n", "p\n", "q\n", "r\n", "2\n"}),
      (std::vector<C>{C::Same, C::Removed, C::Removed, C::Added, C::Added, C::Added, C::Same}));
}

}  // namespace
}  // namespace brackwen
