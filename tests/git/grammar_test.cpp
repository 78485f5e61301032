// The readers of git's output as tables of text and what it reads as, hunks of commits, and the
// working-copy line diff.
#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "git/git_version.hpp"
#include "git/queries/commits.hpp"
#include "git/queries/commits_parsers.hpp"
#include "git/queries/config.hpp"
#include "git/queries/graph.hpp"
#include "git/queries/hunks/load_hunks.hpp"
#include "git/queries/patches/patch_parsers.hpp"
#include "git/queries/wip/line_diff.hpp"
#include "git/queries/wip/wip_status.hpp"
#include "support/git_recorder.hpp"

namespace brackwen {
namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;

const std::string ID1(40, '1'), ID2(40, '2'), ID3(64, 'a');

// One record as git prints the log format: every field followed by a NUL.
std::string record(const Strings& fields) {
  std::string r;
  for (const auto& field : fields) r += field + '\0';
  return r;
}

// "author|e-mail|message|parents|refs": each parent by its first digit, "+" for a merge, and
// each ref by its id, "*" for HEAD's.
std::string shown(const std::optional<ParsedCommit>& c) {
  if (!c) return "refused";
  std::string out = c->author + "|" + c->email + "|" + c->message + "|";
  for (const auto& parent : c->parent_ids) out += parent.front();
  out += std::string(c->is_merge ? "+" : "") + "|";
  for (const RefInfo& r : c->refs) out += r.id + (r.head ? "* " : " ");
  return out;
}

TEST(CommitGrammar, Table) {
  const std::string date = "1 +0000", imitation = "x; y; 1 +0000; " + ID2 + "; " + ID2;
  std::string message = "m\n" + ID2 + "; (tag: refs/tags/v9.9)\nB; b@x; 1 +0000; " + ID2 + "; ; x";
  std::pair<Strings, std::string> cases[] = {
      {{"Ann", "ann@x.org", date, ID1, "", "Subject\n", ""}, "Ann|ann@x.org|Subject\n||"},
      {{"Bé Ö", "", date, ID1, ID2 + " " + ID3, "", ""}, "Bé Ö|||2a+|"},
      // Whitespace opening a field is no part of it; ";", "(" and line ends in a text are.
      {{"  A", " a@x", date, ID1, ID2, "\n\n  first; (x)\n\nbody )\n", ""},
       "A|a@x|first; (x)\n\nbody )\n|2|"},
      // Texts that imitate another record's fields stay in their own field.
      {{imitation, "e", date, ID1, "", message, ""}, imitation + "|e|" + message + "||"},
      // Decorations split on comma and blank; pseudo-refs name no ref.
      {{"A", "a", date, ID1, "", "m",
        "HEAD -> refs/heads/main, refs/heads/fix(x), refs/heads/a,b), grafted, "
        "tag: refs/tags/v1, replaced"},
       "A|a|m||refs/heads/main* refs/heads/fix(x) refs/heads/a,b) refs/tags/v1 "},
      {{"A", "a", date, ID1, "", "m", "HEAD"}, "A|a|m||HEAD "},
      // git prints no name, e-mail or date for an author line it cannot read.
      {{"", "", "", ID1, "", "m", ""}, "||m||"},
      {{"A", "a", "x +0000", ID1, "", "m", ""}, "refused"},
      {{"A", "a", "1 +0000 x", ID1, "", "m", ""}, "refused"},
      {{"A", "a", date, "", "", "m", ""}, "refused"},
      {{"A", "a", date, "--output=x", "", "m", ""}, "refused"},
      {{"A", "a", date, ID1.substr(1), "", "m", ""}, "refused"},
      {{"A", "a", date, ID1, "0123abc", "m", ""}, "refused"},
      {{"A", "a", date, std::string(40, 'G'), "", "m", ""}, "refused"},
      {{"A", "a", date, ID1, "", "m"}, "refused"},
  };
  for (const auto& [fields, read] : cases) {
    EXPECT_EQ(shown(parse_all(record(fields), parse_commit)), read) << fields[0];
  }
}

TEST(ConfigGrammar, GitConfigList) {
  struct Case {
    std::string text;
    std::optional<TextMap> entries;  // absent: the whole output is refused
    TextMap remotes;
  } cases[] = {
      // clang-format off
      {"user.name=A B\nalias.x=log --format=%h\n", TextMap{{"user.name", "A B"}, {"alias.x", "log --format=%h"}}, {}},
      {"remote.origin.url=u1\nremote.origin.url=u2\n", TextMap{{"remote.origin.url", "u2"}}, {{"origin", "u2"}}},
      {"remote.origin.url=u\nremote.origin.fetch=f\nremote.up.pushurl=w\nremote.a.b.url=x\nremote.v.url\nb.c=y\n",
       TextMap{{"remote.origin.url", "u"}, {"remote.v.url\nb.c", "y"}, {"remote.origin.fetch", "f"},
               {"remote.up.pushurl", "w"}, {"remote.a.b.url", "x"}}, {{"origin", "u"}}},
      // git prints a key set without "=" as the bare key.
      {"a.flag\nb.c=1\n", TextMap{{"a.flag\nb.c", "1"}}, {}},
      {"b.c=1\na.flag\n", std::nullopt, {}},
      {"a.b=x\r\nc.d=y\r", TextMap{{"a.b", "x"}, {"c.d", "y\r"}}, {}},
      {"user.name=\nuser.email=zoë@exämple.org", TextMap{{"user.name", ""}, {"user.email", "zoë@exämple.org"}}, {}},
      // clang-format on
  };
  for (const Case& c : cases) {
    std::optional<RepoConfig> read = read_full_config(c.text);
    ASSERT_EQ(read.has_value(), c.entries.has_value()) << c.text;
    if (!read) continue;
    EXPECT_EQ(read->entries, *c.entries);
    EXPECT_EQ(read->remotes, c.remotes);
  }
}

TEST(NameStatusGrammar, EntriesAndWhereTheListStops) {
  std::string odd = "a\tb\nc  \x1b[0m\u0085 ";
  struct Case {
    std::string text;
    std::vector<NameStatusEntry> entries;
    size_t stop = 0;  // 0: the whole text is read
  } cases[] = {
      {"R100\0old\0new\0C75\0a\0b\0M\0x.png\0C\0one\0D\0gone\0"s,
       {{"old", "new", "new-R100", PatchType::R},
        {"a", "b", "b-C75", PatchType::C},
        {"x.png", "x.png", "x.png-M", PatchType::M},
        {"one", "one", "one-C", PatchType::C},
        {"gone", "gone", "gone-D", PatchType::D}}},
      {"A\0"s + odd + "\0R090\0  lead\0"s + odd + '\0',
       {{odd, odd, odd + "-A", PatchType::A}, {"  lead", odd, odd + "-R090", PatchType::R}}},
      {"M\0a\0Z\0b\0"s, {{"a", "a", "a-M", PatchType::M}}, 4},
      {"M\0a\0R\0b\0c\0"s, {{"a", "a", "a-M", PatchType::M}}, 4},
      {"M\0a\0\0"s, {{"a", "a", "a-M", PatchType::M}}, 4},
  };
  for (const Case& c : cases) {
    Input in{c.text};
    EXPECT_EQ(parse_name_status(in), c.entries);
    EXPECT_EQ(in.position, c.stop ? c.stop : c.text.size());
  }
}

TEST(NameStatusGrammar, RecordsOfShowAndLog) {
  std::string text =
      ID1 + ",\nA\0 lead\0\0"s + ID2 + ",\nR100\0a\0b\tc\0M\0P.PNG\0\0"s + ID3 + ",\n";
  EXPECT_EQ(patch_list(text), (std::vector<CommitPatches>{
                                  {ID1, {{ID1, " lead", " lead", PatchType::A, " lead-A", false}}},
                                  {ID2,
                                   {{ID2, "a", "b\tc", PatchType::R, "b\tc-R100", false},
                                    {ID2, "P.PNG", "P.PNG", PatchType::M, "P.PNG-M", true}}},
                                  {ID3, {}}}));
  EXPECT_EQ(patch_list(""), std::vector<CommitPatches>{});
}

// A working-copy patch as "<id> <old>><new> <type><staged><unstaged>", "_" for unchanged, and
// its flags.
Strings shown(const std::optional<std::vector<WipPatch>>& patches) {
  auto letter = [](WipPatchType t) { return "?_ACDMRU"[static_cast<int>(t)]; };
  Strings out;
  for (const WipPatch& p : patches.value_or(std::vector<WipPatch>{{}})) {
    out.push_back(p.id + " " + p.old_file + ">" + p.new_file + " " + letter(p.patch_type) +
                  letter(p.staged_type) + letter(p.un_staged_type) + (p.conflicted ? " U" : "") +
                  (p.is_image ? " image" : ""));
  }
  return patches ? out : Strings{"none"};
}

TEST(WipStatusGrammar, LetterPairsOrderAndConflicts) {
  std::pair<std::string, Strings> cases[] = {
      {"R  b.txt\0a.txt\0 M img/Logo.PNG\0?? u.txt\0AM m.txt\0 D d.txt\0RM new\0old\0"
       "C  copy\0orig\0 R ita\0src\0 T link\0"s,
       {"b.txtR a.txt>b.txt RR_", "copyC orig>copy CC_", "d.txtD d.txt>d.txt D_D",
        "img/Logo.PNGM img/Logo.PNG>img/Logo.PNG M_M image", "itaR src>ita R_R",
        "linkM link>link M_M", "m.txtM m.txt>m.txt MAM", "newM old>new MRM",
        "u.txtA u.txt>u.txt A??"}},
      // Only a NUL ends a path; names sort by Unicode lower case, equal ones in git's order.
      {"?? b\0?? A\0?? a\0?? Är\0?? z\0?? C\0?? är\0??  x\ty\n\0"s,
       {" x\ty\nA  x\ty\n> x\ty\n A??", "AA A>A A??", "aA a>a A??", "bA b>b A??", "CA C>C A??",
        "zA z>z A??", "ÄrA Är>Är A??", "ärA är>är A??"}},
      // Conflicts hide everything else.
      {"UU z\0 M b\0AA y\0DD x\0AD u\0DA t\0"s, {"zU z>z UUU U", "yA y>y AAA U", "xD x>x DDD U"}},
      {"", {"none"}},
      {" M a\0!! ignored\0"s, {"none"}},
  };
  for (const auto& [text, patches] : cases) {
    EXPECT_EQ(shown(wip_patches_from_status(text)), patches) << text;
  }
}

TEST(GitVersionGrammar, Table) {
  std::pair<std::string, std::optional<GitVersion>> cases[] = {
      // clang-format off
      {"git version 2.39.2\n", GitVersion{2, 39, 2}}, {"git version 2.40\n", GitVersion{2, 40, 0}},
      {"git version 2.39.2.1 (some vendor suffix)\n", GitVersion{2, 39, 2}},
      {"git version 2.45.windows.1\n", GitVersion{2, 45, 0}}, {"git version 2.", GitVersion{2, 0, 0}},
      {"git version 4294967295.4294967296.1", GitVersion{4294967295u, 0, 1}},
      {"git version 2.\u0664\u0660.1", GitVersion{2, 0, 1}},  // not ASCII digits
      {"git version 2.4\u0660.1", GitVersion{2, 0, 1}}, {"git version unknown\n", GitVersion{0, 0, 0}},
      {"2.39.2\n", std::nullopt}, {"", std::nullopt},
      // clang-format on
  };
  for (const auto& [text, version] : cases) EXPECT_EQ(parse_git_version(text), version) << text;
}

// A stash entry as the history shows it: one parent, no refs, "WIP" become "Stash".
TEST(StashGrammar, EntriesFromTheStashLog) {
  ParsedCommit entry;
  entry.message = "WIP on WIP-branch: 1234 WIP";
  entry.parent_ids = {"a", "b", "c"};
  entry.is_merge = true;
  entry.refs.push_back(RefInfo{});
  make_stash_entry(entry, 7);
  EXPECT_EQ(shown(entry), "||Stash on Stash-branch|a|");
  EXPECT_EQ(entry.stash_id, "refs/stash@{7}");
}

// git's count as the stand-in prints it.
TEST(CountGrammar, OnlyAnUnsignedDecimalCounts) {
  std::pair<std::string, uint32_t> cases[] = {{"12\n", 12},      {"+5", 5},
                                              {"-1\n", 0},       {"4294967295", 4294967295u},
                                              {"4294967296", 0}, {"\u00a07\u2003\n", 7},
                                              {"1 2", 0},        {"+", 0},
                                              {"0x10", 0}};
  for (const auto& [reply, count] : cases) {
    test::GitRecorder git(test::printing(reply));
    EXPECT_EQ(count_commits_in_range(git.dir.str(), "a", "b"), count) << reply;
  }
}

// Each line of the hunk as "<status><old>,<new> <text>|<ending>", read as a reply writes them;
// its index and hunk are checked on the way.
Strings shown(const HunkSpan& span, int32_t hunk) {
  Strings out;
  HunkLineCursor cursor = hunk_line_cursor(span, hunk);
  for (size_t i = 0; auto line = next_hunk_line(cursor); ++i) {
    HunkLine l = owned_line(*line);
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
std::optional<std::vector<Strings>> shown(const std::optional<std::vector<HunkSpan>>& hunks) {
  if (!hunks) return std::nullopt;
  std::vector<Strings> out;
  for (size_t i = 0; i < hunks->size(); ++i) {
    const HunkSpan& h = (*hunks)[i];
    auto range = [](LineRange r) {
      return std::to_string(r.start) + "," + std::to_string(r.length);
    };
    out.push_back({"@" + range(h.old_line_range) + " " + range(h.new_line_range)});
    for (std::string& line : shown(h, static_cast<int32_t>(i))) {
      out.back().push_back(std::move(line));
    }
  }
  return out;
}

TEST(HunkGrammar, Table) {
  const std::string header =
      "diff --git a/f b/f\nindex 1111111..2222222 100644\n--- a/f\n+++ b/f\n";
  std::pair<std::string, std::optional<std::vector<Strings>>> cases[] = {
      {header + "@@ -10,3 +10,3 @@ fn main()\n a\n-b\n+c\n\n d",
       std::vector<Strings>{
           {"@10,3 10,3", " 10,10 a|\n", "-11,_ b|\n", "+_,11 c|\n", " 12,12 |\n", " 13,13 d|"}}},
      {header + "@@ -1 +1 @@\r\n-x\r\n+y\r\n@@ -0,0 +5,2 @@\n+p\n+q\n",
       std::vector<Strings>{{"@1,1 1,1", "-1,_ x|\r\n", "+_,1 y|\r\n"},
                            {"@0,0 5,2", "+_,5 p|\n", "+_,6 q|\n"}}},
      // The marker is a context line that does not move the numbers.
      {header + "@@ -1 +1 @@\n-x\n\\ No newline at end of file\n+x\n\\ No newline at end of file\n",
       std::vector<Strings>{{"@1,1 1,1", "-1,_ x|\n", " 2,1  No newline at end of file|",
                             "+_,1 x|\n", " 2,2  No newline at end of file|"}}},
      // Past the largest header start the numbers wrap instead of overflowing.
      {header + "@@ -2147483647,2 +2147483647,2 @@\n a\n-b\n+c\n",
       std::vector<Strings>{{"@2147483647,2 2147483647,2", " 2147483647,2147483647 a|\n",
                             "-" + std::to_string(INT32_MIN) + ",_ b|\n",
                             "+_," + std::to_string(INT32_MIN) + " c|\n"}}},
      {"diff --git a/s b/s\nold mode 100644\nnew mode 100755\n", std::vector<Strings>{}},
      {"diff --git a/a b/b\nsimilarity index 100%\nrename from a\nrename to b\n",
       std::vector<Strings>{}},
      {"diff --git a/e b/e\nnew file mode 100644\nindex 0000000..e69de29\n",
       std::vector<Strings>{}},
      {"diff --git a/i b/i\nnew file mode 100644\nindex 0000000..1234567\n"
       "Binary files /dev/null and b/i differ\n",
       std::vector<Strings>{{"@0,0 0,0"}}},
      {"", std::nullopt},
      {header + "@@ -1 +1 @@\n-a\n+b\n" + header, std::nullopt},  // two files
      {"warning: something\n", std::nullopt},
  };
  for (const auto& [text, hunks] : cases) EXPECT_EQ(shown(diff_hunk_spans(text)), hunks) << text;
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
  std::tuple<Commit, Patch, std::optional<std::vector<Strings>>> cases[] = {
      {commit_of(repo, "HEAD~3", 0), patch_of("f.txt", "f.txt", PatchType::A),
       std::vector<Strings>{{"@0,0 1,1", "+_,1 one|\n"}}},
      {commit_of(repo, "HEAD~1", 2), patch_of("f.txt", "f.txt"),
       std::vector<Strings>{{"@1,1 1,2", " 1,1 one|\n", "+_,2 side|\n"}}},
      {commit_of(repo, "HEAD~1", 2), patch_of("g.txt", "g.txt"), std::nullopt},
      {commit_of(repo, "HEAD"), patch_of("f.txt", "r.txt", PatchType::R),
       std::vector<Strings>{{"@1,2 1,3", " 1,1 one|\n", " 2,2 side|\n", "+_,3 more|\n",
                             " 3,4  No newline at end of file|"}}},
  };
  for (const auto& [commit, patch, hunks] : cases) {
    auto diff = load_file_diff(repo.str(), commit, patch);
    EXPECT_EQ(shown(diff ? std::optional(diff->hunks) : std::nullopt), hunks) << patch.new_file;
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
}

// Among the least scripts, the one xdiff picks for the whole texts, though the lines both
// sides begin and end with are kept from it: "S", "R" and "A" for Same, Removed and Added.
TEST(LineDiff, ScriptIsTheWholeTextsOne) {
  const std::tuple<std::vector<std::string_view>, std::vector<std::string_view>, std::string>
      cases[] = {
          {{"1\n", "x\n", "y\n", "2\n"}, {"1\n", "p\n", "q\n", "r\n", "2\n"}, "SRRAAAS"},
          // The added run moves down over a common last line that repeats it.
          {{"a\n"}, {"b\n", "a\n", "a\n"}, "ASA"},
          // The removed "a" stands in the new side only among its common lines.
          {{"a\n", "a\n", "b\n", "b\n", "a\n"}, {"a\n", "b\n"}, "SRRSR"},
      };
  for (const auto& [old_lines, new_lines, expected] : cases) {
    std::string script;
    for (LineChange change : line_diff(old_lines, new_lines)) {
      script += "SRA"[static_cast<int>(change)];
    }
    EXPECT_EQ(script, expected) << old_lines.size() << " to " << new_lines.size() << " lines";
  }
}

}  // namespace
}  // namespace brackwen
