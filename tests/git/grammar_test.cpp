// The readers of git's output, as tables of text and what it reads as.
#include <gtest/gtest.h>

#include "git/git_version.hpp"
#include "git/queries/commits.hpp"
#include "git/queries/commits_parsers.hpp"
#include "git/queries/config.hpp"
#include "git/queries/graph.hpp"
#include "git/queries/patches/patch_parsers.hpp"
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
      {{"", "a", date, ID1, "", "m", ""}, "refused"},
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

}  // namespace
}  // namespace brackwen
