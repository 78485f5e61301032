#include "git/queries/commits_parsers.hpp"

#include <gtest/gtest.h>

namespace brackwen {
namespace {

using Strings = std::vector<std::string>;

const std::string ID1 = std::string(40, '1');
const std::string ID2 = std::string(40, '2');
const std::string ID3 = std::string(64, 'a');

// One record as git prints the log format: every field followed by a NUL.
std::string record(std::string author, std::string email, std::string date, std::string id,
                   std::string parents, std::string message, std::string refs = "") {
  std::string r;
  for (const auto& field : {author, email, date, id, parents, message, refs}) {
    r += field;
    r += '\0';
  }
  return r;
}

std::string simple(const std::string& id, const std::string& message = "m") {
  return record("A", "a@x", "1 +0000", id, "", message);
}

TEST(CommitGrammar, ReadsEachFieldOfItsOwnRecord) {
  struct Case {
    std::string text;
    std::string author, email, message;
    Strings parents;
  };
  std::vector<Case> cases = {
      {record("Ann", "ann@x.org", "1 +0000", ID1, "", "Subject\n"),
       "Ann",
       "ann@x.org",
       "Subject\n",
       {}},
      {record("Ann", "", "1 +0000", ID1, ID2, "m"), "Ann", "", "m", {ID2}},
      {record("Bé Ö", "b@x", "1 +0000", ID1, ID2 + " " + ID3, ""), "Bé Ö", "b@x", "", {ID2, ID3}},
      // Whitespace opening a field is no part of it; ";", "(" and line ends in a text are.
      {record("  A", " a@x", "1 +0000", ID1, "", "\n\n  first; (x)\n\nbody )\n"),
       "A",
       "a@x",
       "first; (x)\n\nbody )\n",
       {}},
      // Texts that imitate another record's fields stay in their own field.
      {record("x; y; 1 +0000; " + ID2 + "; " + ID2, "e", "1 +0000", ID1, "",
              "m\n" + ID2 + "; (tag: refs/tags/v9.9)\nB; b@x; 1 +0000; " + ID2 + "; ; x"),
       "x; y; 1 +0000; " + ID2 + "; " + ID2,
       "e",
       "m\n" + ID2 + "; (tag: refs/tags/v9.9)\nB; b@x; 1 +0000; " + ID2 + "; ; x",
       {}},
  };
  for (const Case& c : cases) {
    auto parsed = parse_all(c.text, parse_commit);
    ASSERT_TRUE(parsed) << c.text;
    EXPECT_EQ(parsed->author, c.author);
    EXPECT_EQ(parsed->email, c.email);
    EXPECT_EQ(parsed->id, ID1);
    EXPECT_EQ(parsed->parent_ids, c.parents);
    EXPECT_EQ(parsed->is_merge, c.parents.size() >= 2);
    EXPECT_EQ(parsed->message, c.message);
    EXPECT_TRUE(parsed->refs.empty());
  }
}

TEST(CommitGrammar, DecorationsAreSplitOnCommaBlankAndNameNoPseudoRefs) {
  std::string log = record("A", "a@x", "2 +0000", ID1, ID2, "second\n",
                           "HEAD -> refs/heads/main, refs/heads/fix(x), refs/heads/a,b), grafted, "
                           "tag: refs/tags/v1, replaced") +
                    record("B", "b@x", "1 +0000", ID2, "", "first\n", "HEAD");
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
  const RefInfo& detached = (*parsed)[1].refs[0];
  EXPECT_EQ(detached.short_name, "HEAD");
  EXPECT_EQ(detached.ref_type, RefType::Branch);
  EXPECT_FALSE(detached.head);
  auto log_form = parse_all(log, [](Input& in) { return parse_commit_log(in, 2); });
  ASSERT_TRUE(log_form);
  EXPECT_EQ(log_form->refs.size(), 5u);
  EXPECT_EQ(log_form->commits[0].refs, ids);
}

TEST(CommitGrammar, BadRecordFailsTheWholeList) {
  std::string good = simple(ID1);
  for (const std::string& bad :
       {record("", "a@x", "1 +0000", ID2, "", "m"), record("A", "a@x", "x +0000", ID2, "", "m"),
        record("A", "a@x", "1 +0000 x", ID2, "", "m"), record("A", "a@x", "1 +0000", "", "", "m"),
        record("A", "a@x", "1 +0000", "--output=x", "", "m"),
        record("A", "a@x", "1 +0000", ID2.substr(1), "", "m"),
        record("A", "a@x", "1 +0000", ID2, "0123abc", "m"),
        record("A", "a@x", "1 +0000", std::string(40, 'G'), "", "m"),
        simple(ID2).substr(0, simple(ID2).size() - 1)}) {
    EXPECT_FALSE(parse_all(good + bad + good, parse_commits)) << bad;
  }
  auto empty = parse_all("", parse_commits);
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
}

}  // namespace
}  // namespace brackwen
