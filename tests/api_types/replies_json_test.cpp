#include "api_types/replies_json.hpp"

#include <gtest/gtest.h>

#include "api_types/json.hpp"

namespace brackwen {
namespace {

TEST(ReplyJson, DataStore) {
  DataStoreReply empty;
  EXPECT_EQ(to_json(empty), R"({"config":{}})");
  DataStoreReply one{DataStoreReply::Kind::Config, {{"k", "v\""}}, ""};
  EXPECT_EQ(to_json(one), R"({"config":{"k":"v\""}})");
  DataStoreReply failed{DataStoreReply::Kind::Error, {{"ignored", ""}}, "not found"};
  EXPECT_EQ(to_json(failed), R"({"error":"not found"})");
  EXPECT_EQ(to_json(SetDataStoreResult{true, "Data store updated"}),
            R"({"success":true,"message":"Data store updated"})");
}

TEST(ReplyJson, DiffSearchPoll) {
  EXPECT_EQ(to_json(DiffSearchPoll{7, false, std::nullopt}),
            R"({"searchId":7,"complete":false,"results":null})");
  Patch patch{"c", "o", "n", PatchType::A, "i", false};
  HunkLine line{HunkLineStatus::Plus, std::nullopt, 3, 0, "x", 1, "\n"};
  SearchResults results = {{"c", {PatchMatch{patch, {line}}}}, {"d", {}}};
  EXPECT_EQ(to_json(DiffSearchPoll{7, true, results}),
            R"({"searchId":7,"complete":true,"results":[["c",[{"patch":)" + to_json(patch) +
                R"(,"lines":[)" + to_json(line) + R"(]}]],["d",[]]]})");
}

TEST(ReplyJson, ConflictSides) {
  ConflictSideLine blank{ConflictSideLine::Kind::Blank, "ignored", ConflictSide::Right, 3, "k"};
  ConflictSideLine line{ConflictSideLine::Kind::Conflict, "t", ConflictSide::Right, 1, "Right-1-0"};
  ConflictSection section{{blank}, {line}};
  EXPECT_EQ(to_json(section),
            R"({"left":[{"blank":{"section":3}}],)"
            R"("right":[{"conflict":{"text":"t","side":"right","section":1,"key":"Right-1-0"}}]})");
}

TEST(ReplyJson, HeadInfoWithoutRemote) {
  HeadInfo info;
  info.remote_ahead = 2;
  std::string json = to_json(info);
  EXPECT_EQ(json.substr(0, 8), R"({"ref":{)");
  EXPECT_NE(json.find(R"(,"remoteRef":null,"remoteCommit":null,"remoteAhead":2,"remoteBehind":0})"),
            std::string::npos)
      << json;
  EXPECT_EQ(to_json(RefDiff{1, 2, 3, 4}),
            R"({"aheadOfRemote":1,"behindRemote":2,"aheadOfHead":3,"behindHead":4})");
  EXPECT_EQ(to_json(UnpushedCommits{{"a"}, {}}), R"({"thisBranch":["a"],"allBranches":[]})");
}

}  // namespace
}  // namespace brackwen
