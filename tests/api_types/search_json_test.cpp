#include "api_types/search_json.hpp"

#include <gtest/gtest.h>

#include "api_types/json.hpp"

namespace brackwen {
namespace {

TEST(SearchJson, WritesResultsWithMatchNamesAndEmptyDiffs) {
  CommitSearchResult result;
  result.commit_id = "c1";
  result.matches = {SearchMatchType::CommitId, SearchMatchType::CommitMessage,
                    SearchMatchType::Email, SearchMatchType::Author};
  result.ref_ids = {"r1"};
  EXPECT_EQ(to_json(std::vector<CommitSearchResult>{result}),
            R"([{"commitId":"c1","matches":["CommitId","CommitMessage","Email","Author"],)"
            R"("patches":[],"diffs":[],"refIds":["r1"]}])");
  EXPECT_EQ(to_json(std::optional<std::vector<CommitSearchResult>>()), "null");
}

}  // namespace
}  // namespace brackwen
