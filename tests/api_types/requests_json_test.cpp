#include "api_types/requests_json.hpp"

#include <gtest/gtest.h>

#include "api_types/json.hpp"
#include "json_failures.hpp"

namespace brackwen {
namespace {

using K = JsonFailureKind;
using test::failure_kind;
using test::failure_message;

std::string commits_request(std::string_view filters) {
  return R"({"repoPath":"r","numCommits":100,"filters":)" + std::string(filters) +
         R"(,"fast":false,"skipStashes":true})";
}

CommitFilter branch(std::string id, std::string short_name) {
  CommitFilter f;
  f.id = std::move(id);
  f.short_name = std::move(short_name);
  return f;
}

TEST(CommitFilterJson, AcceptedForms) {
  auto read = read_body<ReqCommitsOptions2>(commits_request(
      R"([{"branch":{"id":"i","short_name":"s","email":"dropped"}},{"user":["a","e"]},)"
      R"({"commit":["c"]},{"file":{"file_name":"f"}}])"));
  ASSERT_TRUE(read);
  ASSERT_EQ(read->filters.size(), 4u);
  EXPECT_EQ(read->filters[0], branch("i", "s"));
  EXPECT_EQ(read->filters[1].kind, CommitFilter::Kind::User);
  EXPECT_EQ(read->filters[1].email, "e");
  EXPECT_EQ(read->filters[2].commit_id, "c");
  EXPECT_EQ(read->filters[3].file_name, "f");
  EXPECT_TRUE(read->skip_stashes);
  EXPECT_EQ(read_body<ReqCommitsOptions2>(commits_request("[]"))->filters.size(), 0u);
}

TEST(CommitFilterJson, Failures) {
  const std::pair<const char*, std::pair<K, const char*>> cases[] = {
      {"null", {K::InvalidType, "invalid type: null, expected a sequence"}},
      {"{}", {K::InvalidType, "invalid type: map, expected a sequence"}},
      {R"([{"branch":{"id":"i"}}])", {K::MissingField, "missing field `short_name`"}},
      {R"([{"branch":{"short_name":"s"}}])", {K::MissingField, "missing field `id`"}},
      {R"([{"branch":{"id":"i","shortName":"s"}}])",
       {K::MissingField, "missing field `short_name`"}},
      {R"([{"branch":{"id":"i","id":"j","short_name":"s"}}])",
       {K::DuplicateField, "duplicate field `id`"}},
      {R"([{"Branch":{"id":"i","short_name":"s"}}])",
       {K::UnknownVariant,
        "unknown variant `Branch`, expected one of `branch`, `user`, `commit`, `file`"}},
      {R"(["file"])", {K::InvalidType, nullptr}},
      {R"([{"file":"f"}])",
       {K::InvalidType, "invalid type: string, expected struct variant CommitFilter::File"}},
      {R"([{"user":["a"]}])",
       {K::InvalidLength,
        "invalid length 1, expected struct variant CommitFilter::User with 2 elements"}},
      {R"([{"commit":["c","d"]}])", {K::TrailingCharacters, nullptr}},
      {R"([{"file":{"file_name":"f"},"user":{"author":"a","email":"e"}}])", {K::Syntax, nullptr}},
      {R"([{"file":{"file_name":1}}])", {K::InvalidType, nullptr}},
      {"[1]", {K::Syntax, nullptr}},
      {"[null]", {K::Syntax, nullptr}},
      {"[[]]", {K::Syntax, nullptr}},
      {R"([{"file":{"file_name":"f"}},])", {K::Syntax, nullptr}},
  };
  for (const auto& [filters, expected] : cases) {
    auto read = parse_json<ReqCommitsOptions2>(commits_request(filters));
    ASSERT_TRUE(read.failure) << filters;
    EXPECT_EQ(read.failure->kind, expected.first) << filters;
    if (expected.second) {
      EXPECT_EQ(read.failure->message, expected.second);
    }
  }
}

TEST(AutoCompleteKindJson, StringOrUnitObject) {
  EXPECT_EQ(read_body<AutoCompleteKind>(R"("commitMessage")"), AutoCompleteKind::CommitMessage);
  EXPECT_EQ(read_body<AutoCompleteKind>(R"({"commitMessage":null})"),
            AutoCompleteKind::CommitMessage);
  EXPECT_EQ(read_body<AutoCompleteKind>(R"("createBranch")"), AutoCompleteKind::CreateBranch);
  EXPECT_EQ(failure_kind<AutoCompleteKind>(R"("CommitMessage")"), K::UnknownVariant);
  EXPECT_EQ(failure_kind<AutoCompleteKind>(R"("commit_message")"), K::UnknownVariant);
  EXPECT_EQ(failure_kind<AutoCompleteKind>("0"), K::Syntax);
  EXPECT_EQ(failure_kind<AutoCompleteKind>(R"({"createBranch":true})"), K::InvalidType);
}

TEST(RequestJson, WipHunksHeadCommitMayBeAbsentOrNull) {
  const char* patch = R"(["o","n","M"," ","M",false,"nM",false])";
  auto absent =
      read_body<ReqWipHunksOptions>(R"({"repoPath":"r","patch":)" + std::string(patch) + "}");
  ASSERT_TRUE(absent);
  EXPECT_FALSE(absent->head_commit);
  auto null = read_body<ReqWipHunksOptions>(R"(["r",)" + std::string(patch) + ",null]");
  EXPECT_EQ(null, absent);
}

TEST(RequestJson, NestedListsAndExtraKeys) {
  EXPECT_EQ(read_body<CommandsOptions>(R"({"repoPath":"r","commands":[["a","b"],[]]})"),
            (CommandsOptions{"r", {{"a", "b"}, {}}}));
  EXPECT_EQ(failure_kind<CommandsOptions>(R"({"repoPath":"r","commands":["a"]})"), K::InvalidType);
  EXPECT_EQ(read_body<ReqOptions>(R"({"otherPath":"/x","repoPath":"/r","more":[{}]})"),
            ReqOptions{"/r"});
  EXPECT_EQ(failure_message<MessageAC>("{}"), "missing field `currentWord`");
  EXPECT_EQ(failure_message<PollOptions>("[]"),
            "invalid length 0, expected struct PollOptions with 1 element");
}

}  // namespace
}  // namespace brackwen
