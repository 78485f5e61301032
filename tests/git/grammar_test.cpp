// The readers of git's output and of the files git writes, as tables of text and what it reads as.
#include <gtest/gtest.h>

#include "git/conflicts/api.hpp"
#include "git/git_version.hpp"
#include "git/queries/commits_parsers.hpp"
#include "git/queries/config.hpp"
#include "git/queries/graph.hpp"
#include "git/queries/patches/patch_parsers.hpp"
#include "git/queries/refs.hpp"
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

TEST(CommitGrammar, EachFieldOfItsOwnRecord) {
  std::string imitation = "x; y; 1 +0000; " + ID2 + "; " + ID2;
  std::string message = "m\n" + ID2 + "; (tag: refs/tags/v9.9)\nB; b@x; 1 +0000; " + ID2 + "; ; x";
  struct Case {
    Strings fields;  // author, e-mail, date, id, parents, message, decorations
    Strings read;    // author, e-mail, message, then the parents
  } cases[] = {
      {{"Ann", "ann@x.org", "1 +0000", ID1, "", "Subject\n", ""},
       {"Ann", "ann@x.org", "Subject\n"}},
      {{"Ann", "", "1 +0000", ID1, ID2, "m", ""}, {"Ann", "", "m", ID2}},
      {{"Bé Ö", "b@x", "1 +0000", ID1, ID2 + " " + ID3, "", ""}, {"Bé Ö", "b@x", "", ID2, ID3}},
      // Whitespace opening a field is no part of it; ";", "(" and line ends in a text are.
      {{"  A", " a@x", "1 +0000", ID1, "", "\n\n  first; (x)\n\nbody )\n", ""},
       {"A", "a@x", "first; (x)\n\nbody )\n"}},
      // Texts that imitate another record's fields stay in their own field.
      {{imitation, "e", "1 +0000", ID1, "", message, ""}, {imitation, "e", message}},
  };
  for (const Case& c : cases) {
    auto parsed = parse_all(record(c.fields), parse_commit);
    ASSERT_TRUE(parsed) << c.fields[0];
    Strings read{parsed->author, parsed->email, parsed->message};
    read.insert(read.end(), parsed->parent_ids.begin(), parsed->parent_ids.end());
    EXPECT_EQ(read, c.read);
    EXPECT_EQ(parsed->id, ID1);
    EXPECT_EQ(parsed->is_merge, c.read.size() == 5);
    EXPECT_TRUE(parsed->refs.empty());
  }
}

TEST(CommitGrammar, DecorationsAreSplitOnCommaBlankAndNameNoPseudoRefs) {
  std::string log = record({"A", "a@x", "2 +0000", ID1, ID2, "second\n",
                            "HEAD -> refs/heads/main, refs/heads/fix(x), refs/heads/a,b), "
                            "grafted, tag: refs/tags/v1, replaced"}) +
                    record({"B", "b@x", "1 +0000", ID2, "", "first\n", "HEAD"});
  auto parsed = parse_all(log, parse_commits);
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->size(), 2u);
  Strings ids;
  for (const RefInfo& r : (*parsed)[0].refs) ids.push_back(r.id);
  EXPECT_EQ(ids,
            (Strings{"refs/heads/main", "refs/heads/fix(x)", "refs/heads/a,b)", "refs/tags/v1"}));
  EXPECT_TRUE((*parsed)[0].refs[0].head);
  EXPECT_EQ((*parsed)[0].refs[1].commit_id, ID1);
  ASSERT_EQ((*parsed)[1].refs.size(), 1u);
  EXPECT_EQ((*parsed)[1].refs[0].short_name, "HEAD");
  EXPECT_FALSE((*parsed)[1].refs[0].head);
  auto log_form = parse_all(log, [](Input& in) { return parse_commit_log(in, 2); });
  ASSERT_TRUE(log_form);
  EXPECT_EQ(log_form->refs.size(), 5u);
  EXPECT_EQ(log_form->commits[0].refs, ids);
}

TEST(CommitGrammar, BadRecordFailsTheWholeList) {
  std::string good = record({"A", "a@x", "1 +0000", ID1, "", "m", ""});
  Strings bad_fields[] = {
      {"", "a@x", "1 +0000", ID2, "", "m", ""},
      {"A", "a@x", "x +0000", ID2, "", "m", ""},
      {"A", "a@x", "1 +0000 x", ID2, "", "m", ""},
      {"A", "a@x", "1 +0000", "", "", "m", ""},
      {"A", "a@x", "1 +0000", "--output=x", "", "m", ""},
      {"A", "a@x", "1 +0000", ID2.substr(1), "", "m", ""},
      {"A", "a@x", "1 +0000", ID2, "0123abc", "m", ""},
      {"A", "a@x", "1 +0000", std::string(40, 'G'), "", "m", ""},
  };
  for (const Strings& bad : bad_fields) {
    EXPECT_FALSE(parse_all(good + record(bad) + good, parse_commits)) << bad[3];
  }
  EXPECT_FALSE(parse_all(good + good.substr(0, good.size() - 1), parse_commits));
  EXPECT_EQ(parse_all("", parse_commits), std::vector<ParsedCommit>{});
}

TEST(ConfigGrammar, GitConfigList) {
  struct Case {
    std::string text;
    std::optional<TextMap> entries;  // absent: the whole output is refused
    TextMap remotes;
  } cases[] = {
      {"user.name=A B\nalias.x=log --format=%h\n",
       TextMap{{"user.name", "A B"}, {"alias.x", "log --format=%h"}},
       {}},
      {"remote.origin.url=u1\nremote.origin.url=u2\n",
       TextMap{{"remote.origin.url", "u2"}},
       {{"origin", "u2"}}},
      {"remote.origin.url=u\nremote.origin.fetch=f\nremote.up.pushurl=w\nremote.a.b.url=x\n",
       TextMap{{"remote.origin.url", "u"},
               {"remote.origin.fetch", "f"},
               {"remote.up.pushurl", "w"},
               {"remote.a.b.url", "x"}},
       {{"origin", "u"}}},
      // git prints a key set without "=" as the bare key.
      {"a.flag\nb.c=1\n", TextMap{{"a.flag\nb.c", "1"}}, {}},
      {"b.c=1\na.flag\n", std::nullopt, {}},
      {"a.b=x\r\nc.d=y\r", TextMap{{"a.b", "x"}, {"c.d", "y\r"}}, {}},
      {"user.name=\nuser.email=zoë@exämple.org",
       TextMap{{"user.name", ""}, {"user.email", "zoë@exämple.org"}},
       {}},
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
      {"?? b\0?? A\0?? a\0?? Är\0?? z\0?? är\0??  x\ty\n\0"s,
       {" x\ty\nA  x\ty\n> x\ty\n A??", "AA A>A A??", "aA a>a A??", "bA b>b A??", "zA z>z A??",
        "ÄrA Är>Är A??", "ärA är>är A??"}},
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
      {"git version 2.39.2\n", GitVersion{2, 39, 2}},
      {"git version 2.40\n", GitVersion{2, 40, 0}},
      {"git version 2.39.2.1 (some vendor suffix)\n", GitVersion{2, 39, 2}},
      {"git version 2.45.windows.1\n", GitVersion{2, 45, 0}},
      {"git version 2.", GitVersion{2, 0, 0}},
      {"git version 4294967295.4294967296.1", GitVersion{4294967295u, 0, 1}},
      {"git version 2.\u0664\u0660.1", GitVersion{2, 0, 1}},  // not ASCII digits
      {"git version unknown\n", GitVersion{0, 0, 0}},
      {"2.39.2\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, version] : cases) EXPECT_EQ(parse_git_version(text), version) << text;
}

// A file's rows, then per section its left and right cells, then the names and widths.
Strings shown(const ConflictFile& file) {
  Strings out;
  for (const ConflictLine& l : file.lines) {
    out.push_back(l.kind == ConflictLine::Kind::Ok
                      ? l.text
                      : "[" + std::to_string(l.section) + "." + std::to_string(l.index) + "]");
  }
  for (const ConflictSection& s : file.sections) {
    for (const auto* side : {&s.left, &s.right}) {
      for (const ConflictSideLine& c : *side) {
        bool blank = c.kind == ConflictSideLine::Kind::Blank;
        out.push_back(std::to_string(c.section) + ":" + (blank ? "_" : c.key + "=" + c.text));
      }
    }
  }
  out.push_back("top " + file.ref_name_top + ", bottom " + file.ref_name_bottom + ", width " +
                std::to_string(file.max_line_length));
  return out;
}

TEST(ConflictGrammar, Table) {
  std::string lf = "x\n<<<<<<< HEAD\nl1\n=======\nr1\n>>>>>>> other\ny\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? "\r\n"s : std::string(1, c);
  Strings lf_read = {"x",
                     "[0.0]",
                     "y",
                     "0:Left-0-0=l1",
                     "0:Right-0-0=r1",
                     "top HEAD, bottom Local/other, width 2"};
  std::pair<std::string, Strings> cases[] = {
      {"", {"top , bottom , width 0"}},
      {"one\n\nthree", {"one", "", "three", "top , bottom , width 5"}},
      {lf, lf_read},
      {crlf, lf_read},
      {"a\r\r\n", {"a\r", "top , bottom , width 2"}},  // only one "\r" is taken off
      // Six is content, a diff3 base marker or a stray separator is not recognised, and a
      // marker counts only at the line start; eight opens a conflict, and seven does alone.
      {"<<<<<<\n|||||||\n=======\nx<<<<<<<\n",
       {"<<<<<<", "|||||||", "x<<<<<<<", "top , bottom , width 8"}},
      {"<<<<<<<<\nx\n", {"0:Left-0-0=x", "top , bottom , width 1"}},
      {"<<<<<<<\nx\n", {"0:Left-0-0=x", "top , bottom , width 1"}},
      // An empty-sided conflict is closed without a section, and a lone end marker dropped.
      {"a\n<<<<<<< HEAD\n=======\n>>>>>>> b\nc\n>>>>>>> x\n<<<<<<< HEAD\nl\n=======\n>>>>>>> b\n",
       {"a", "c", "[0.0]", "0:Left-0-0=l", "0:_", "top HEAD, bottom Local/b, width 1"}},
      {"a\n<<<<<<< HEAD\nl1\nl2\n=======\nr1\n",
       {"a", "0:Left-0-0=l1", "0:Left-0-1=l2", "0:Right-0-0=r1", "top HEAD, bottom , width 2"}},
      // The label-less marker names nothing; a start marker inside a conflict goes back to the
      // left side of the same section. Widths count the bytes of content only.
      {"<<<<<<<\n<<<<<<< HEAD\nl\n=======\n>>>>>>> first\nmid\n<<<<<<< other\n=======\nr\n"
       "<<<<<<< again\nl2\n>>>>>>> second\n<<<<<<< a-very-long-label\nééé\n=======\n>>>>>>> x\n",
       {"[0.0]", "mid", "[1.0]", "[2.0]", "0:Left-0-0=l", "0:_", "1:Left-1-0=l2", "1:Right-1-0=r",
        "2:Left-2-0=ééé", "2:_", "top HEAD, bottom Local/first, width 6"}},
  };
  for (const auto& [text, read] : cases) EXPECT_EQ(shown(read_conflicts(text)), read) << text;
  EXPECT_EQ(read_conflicts(crlf).line_ending, "\n");
}

TEST(RefGrammar, NamesAndConflictMarkerLabels) {
  using L = RefLocation;
  using RT = RefType;
  std::tuple<std::string, std::string, std::optional<std::string>, L, RT> names[] = {
      {"refs/heads/feature/x", "feature/x", {}, L::Local, RT::Branch},
      {"refs/remotes/origin/main", "main", "origin", L::Remote, RT::Branch},
      {"refs/remotes/up/a/b", "a/b", "up", L::Remote, RT::Branch},
      {"refs/remotes/origin", "", {}, L::Remote, RT::Branch},
      {"refs/tags/v1.0^{}", "v1.0", {}, L::Remote, RT::Tag},
      {"refs/stash", "", {}, L::Local, RT::Stash},
      {"HEAD", "HEAD", {}, L::Local, RT::Branch},
      {"refs//x", "x", {}, L::Remote, RT::Branch},
      {"refs/heads/fix(x),y", "fix(x),y", {}, L::Local, RT::Branch},
  };
  for (const auto& [name, short_name, remote, location, type] : names) {
    RefInfo ref = ref_from_name(name);
    std::string id = name.ends_with("^{}") ? name.substr(0, name.size() - 3) : name;
    EXPECT_EQ(std::tie(ref.id, ref.full_name, ref.short_name, ref.remote_name, ref.location,
                       ref.ref_type),
              std::tie(id, id, short_name, remote, location, type))
        << name;
  }
  std::pair<std::string, std::string> labels[] = {
      {"<<<<<<< HEAD", "HEAD"},
      {">>>>>>> feature", "Local/feature"},
      {">>>>>>> refs/remotes/origin/main", "Remote/main"},
      {">>>>>>> fix(x) (some commit)", "Local/fix(x)"},
      {"<<<<<<<", ""},
      {"<<<<<<<  two-blanks", ""},
      {">>>>>>> a\tb", "a\tb"},
  };
  for (const auto& [marker, id] : labels) EXPECT_EQ(parse_ref_id(marker), id) << marker;
}

// git's count as the stand-in prints it.
TEST(CountGrammar, OnlyAnUnsignedDecimalCounts) {
  std::pair<std::string, uint32_t> cases[] = {
      {"12\n", 12},      {"+5", 5},
      {"-1\n", 0},       {"4294967295", 4294967295u},
      {"4294967296", 0}, {"\u00a07\u2003\n", 7},
      {"1 2", 0},        {"+", 0},
      {"0x10", 0},
  };
  for (const auto& [reply, count] : cases) {
    test::GitRecorder git(test::printing(reply));
    EXPECT_EQ(count_commits_in_range(git.dir.str(), "a", "b"), count) << reply;
  }
}

}  // namespace
}  // namespace brackwen
