#include "git/queries/commits_parsers.hpp"

#include <gtest/gtest.h>

namespace brackwen {
namespace {

std::string record(std::string_view header, std::string_view body, std::string_view deco = "") {
  std::string r(header);
  r += body;
  r += COMMIT_LOG_MARKER;
  r += "; ";
  r += deco;
  return r;
}

const std::string ID1 = "1111111111111111111111111111111111111111";
const std::string ID2 = "2222222222222222222222222222222222222222";
const std::string ID3 = "3333333333333333333333333333333333333333";

std::optional<ParsedCommit> one(const std::string& text) {
  return parse_all(text, parse_commit);
}

TEST(CommitGrammar, ReadsHeaderFieldsParentsAndMessage) {
  struct Case {
    std::string text;
    std::string author, email, message;
    std::vector<std::string> parents;
    bool merge;
  };
  std::vector<Case> cases = {
      {record("Ann; ann@x.org; 1700000000 +0000; " + ID1 + "; ; ", "Subject\n"),
       "Ann",
       "ann@x.org",
       "Subject\n",
       {},
       false},
      {record("Ann; ; 1700000000 +0000; " + ID1 + "; " + ID2 + "; ", "m"),
       "Ann",
       "",
       "m",
       {ID2},
       false},
      {record("Bé Ö; b@x; 1 +0000; " + ID1 + "; " + ID2 + " " + ID3 + "; ", ""),
       "Bé Ö",
       "b@x",
       "",
       {ID2, ID3},
       true},
      {record("A; a@x; 1 +0000; " + ID1 + "; " + ID1 + " " + ID2 + " " + ID3 + "; ", "x"),
       "A",
       "a@x",
       "x",
       {ID1, ID2, ID3},
       true},
      // Blank lines opening the body belong to the separator; ";", "(" and line ends stay.
      {record("A; a@x; 1 +0000; " + ID1 + "; ; ", "\n\n  first; (x)\n\nbody )\n"),
       "A",
       "a@x",
       "first; (x)\n\nbody )\n",
       {},
       false},
      // Git keeps ";" inside names.
      {record("Doe; John; j@x; 1 +0000; " + ID1 + "; ; ", "m"), "Doe; John", "j@x", "m", {}, false},
  };
  for (const Case& c : cases) {
    auto parsed = one(c.text);
    ASSERT_TRUE(parsed) << c.text;
    EXPECT_EQ(parsed->author, c.author);
    EXPECT_EQ(parsed->email, c.email);
    EXPECT_EQ(parsed->id, ID1);
    EXPECT_EQ(parsed->parent_ids, c.parents);
    EXPECT_EQ(parsed->is_merge, c.merge);
    EXPECT_EQ(parsed->message, c.message);
    EXPECT_TRUE(parsed->refs.empty());
    EXPECT_EQ(parsed->index, 0u);
    EXPECT_FALSE(parsed->stash_id);
    EXPECT_FALSE(parsed->filtered);
  }
}

TEST(CommitGrammar, DateIsAFloatOfSecondsTimesAThousandWithTheZoneAsANumber) {
  struct Case {
    std::string date;
    float seconds;
    int32_t adjustment;
  };
  for (const Case& c : std::vector<Case>{{"1700000000 +0000", 1700000000.0f, 0},
                                         {"1700000063 -0500", 1700000063.0f, -500},
                                         {"1700000065 +0100", 1700000065.0f, 100},
                                         {"86400 +1400", 86400.0f, 1400},
                                         {"0 -0000", 0.0f, 0}}) {
    auto parsed = one(record("A; a@x; " + c.date + "; " + ID1 + "; ; ", "m"));
    ASSERT_TRUE(parsed) << c.date;
    EXPECT_EQ(parsed->date.ms, c.seconds * 1000.0f) << c.date;
    EXPECT_EQ(parsed->date.adjustment, c.adjustment) << c.date;
  }
}

TEST(CommitGrammar, MessageQuotingTheMarkerKeepsItsWholeBody) {
  std::string marker(COMMIT_LOG_MARKER);
  std::string body = "quotes " + marker + "; mid-line\n" + marker + "\n" + marker + "; (open\n";
  std::string log =
      record("A; a@x; 2 +0000; " + ID1 + "; " + ID2 + "; ", body, " (HEAD -> refs/heads/main)") +
      "\n" + record("B; b@x; 1 +0000; " + ID2 + "; ; ", "first\n");
  auto parsed = parse_all(log, parse_commits);
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->size(), 2u);
  EXPECT_EQ((*parsed)[0].message, body);
  ASSERT_EQ((*parsed)[0].refs.size(), 1u);
  EXPECT_EQ((*parsed)[1].id, ID2);
}

TEST(CommitGrammar, ShallowAndReplacedMarksAreNoRefs) {
  auto parsed = one(record("A; a@x; 1700000000 +0000; " + ID1 + "; ; ", "m\n",
                           " (grafted, tag: refs/tags/v1, replaced, refs/heads/grafted)"));
  ASSERT_TRUE(parsed);
  std::vector<std::string> ids;
  for (const RefInfo& ref : parsed->refs) ids.push_back(ref.id);
  EXPECT_EQ(ids, (std::vector<std::string>{"refs/tags/v1", "refs/heads/grafted"}));
}

TEST(CommitGrammar, DecorationWithParenthesesAndCommasStaysInItsRecord) {
  std::string log =
      record("A; a@x; 2 +0000; " + ID1 + "; " + ID2 + "; ", "second\n",
             " (HEAD -> refs/heads/main, refs/heads/fix(x), refs/heads/a,b), refs/heads/(z))") +
      "\n" + record("B; b@x; 1 +0000; " + ID2 + "; ; ", "first\n", " (HEAD)");
  auto parsed = parse_all(log, parse_commits);
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->size(), 2u);
  std::vector<std::string> ids;
  for (const RefInfo& r : (*parsed)[0].refs) ids.push_back(r.id);
  EXPECT_EQ(ids, (std::vector<std::string>{"refs/heads/main", "refs/heads/fix(x)",
                                           "refs/heads/a,b)", "refs/heads/(z)"}));
  EXPECT_EQ((*parsed)[0].refs[1].short_name, "fix(x)");
  EXPECT_EQ((*parsed)[1].author, "B");
  ASSERT_EQ((*parsed)[1].refs.size(), 1u);
  const RefInfo& detached = (*parsed)[1].refs[0];
  EXPECT_EQ(detached.id, "HEAD");
  EXPECT_EQ(detached.short_name, "HEAD");
  EXPECT_EQ(detached.location, RefLocation::Local);
  EXPECT_EQ(detached.ref_type, RefType::Branch);
  EXPECT_FALSE(detached.head);
}

TEST(CommitGrammar, BadRecordFailsTheWholeListWithAReport) {
  std::string good = record("A; a@x; 1 +0000; " + ID1 + "; ; ", "m\n");
  for (const std::string& bad : {record("; a@x; 1 +0000; " + ID2 + "; ; ", "m"),
                                 record("A; a@x; x +0000; " + ID2 + "; ; ", "m"),
                                 std::string("A; a@x; 1 +0000; " + ID2 + "; ; no marker"),
                                 record("A; a@x; 1 +0000; ; ; ", "m")}) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(parse_all(good + "\n" + bad, parse_commits)) << bad;
    EXPECT_NE(testing::internal::GetCapturedStderr().find("PARSE FAILURE AT POSITION"),
              std::string::npos);
  }
  testing::internal::CaptureStderr();
  auto empty = parse_all("", parse_commits);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
}

}  // namespace
}  // namespace brackwen
