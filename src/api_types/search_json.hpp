// JSON form of the commit search's results.
#pragma once
#include <array>
#include <string_view>
#include <tuple>

#include "api_types/json_fields.hpp"
#include "model/search_results.hpp"

namespace brackwen {

template <>
struct JsonEnum<SearchMatchType> {
  static constexpr std::array<std::string_view, 4> names = {"CommitId", "CommitMessage", "Email",
                                                            "Author"};
};

template <>
struct JsonRecord<CommitSearchResult> {
  static constexpr std::string_view name = "CommitSearchResult";
  static constexpr auto fields = std::tuple{
      json_field("commitId", &CommitSearchResult::commit_id),
      json_field("matches", &CommitSearchResult::matches),
      json_field("patches", &CommitSearchResult::patches),
      json_field("diffs", &CommitSearchResult::diffs),
      json_field("refIds", &CommitSearchResult::ref_ids),
  };
};

}  // namespace brackwen
