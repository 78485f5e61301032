// The JSON form of the reply records.
#pragma once
#include <array>
#include <string_view>
#include <tuple>

#include "api_types/json_fields.hpp"
#include "api_types/records_json.hpp"
#include "model/conflicts.hpp"
#include "model/data_store.hpp"
#include "model/head_info.hpp"
#include "model/ref_diffs.hpp"
#include "model/search_results.hpp"
#include "model/unpushed_commits.hpp"

namespace brackwen {

template <>
struct JsonVariants<DataStoreReply> {
  static constexpr std::string_view name = "DataStoreReply";
  static constexpr auto variants = std::tuple{
      json_value_variant("config", DataStoreReply::Kind::Config, &DataStoreReply::config),
      json_value_variant("error", DataStoreReply::Kind::Error, &DataStoreReply::error),
  };
};

template <>
struct JsonRecord<SetDataStoreResult> {
  static constexpr std::string_view name = "SetDataStoreResult";
  static constexpr auto fields = std::tuple{
      json_field("success", &SetDataStoreResult::success),
      json_field("message", &SetDataStoreResult::message),
  };
};

template <>
struct JsonRecord<DiffSearchPoll> {
  static constexpr std::string_view name = "DiffSearchPoll";
  static constexpr auto fields = std::tuple{
      json_field("searchId", &DiffSearchPoll::search_id),
      json_field("complete", &DiffSearchPoll::complete),
      json_field("results", &DiffSearchPoll::results),
  };
};

// Written "left"/"right"; the keys of the lines show "Left"/"Right".
template <>
struct JsonEnum<ConflictSide> {
  static constexpr std::array<std::string_view, 2> names = {"left", "right"};
};

template <>
struct JsonVariants<ConflictSideLine> {
  static constexpr std::string_view name = "ConflictSideLine";
  static constexpr auto variants = std::tuple{
      json_struct_variant("blank", "Blank", ConflictSideLine::Kind::Blank,
                          json_field("section", &ConflictSideLine::section)),
      json_struct_variant("conflict", "Conflict", ConflictSideLine::Kind::Conflict,
                          json_field("text", &ConflictSideLine::text),
                          json_field("side", &ConflictSideLine::side),
                          json_field("section", &ConflictSideLine::section),
                          json_field("key", &ConflictSideLine::key)),
  };
};

template <>
struct JsonRecord<ConflictSection> {
  static constexpr std::string_view name = "ConflictSection";
  static constexpr auto fields = std::tuple{
      json_field("left", &ConflictSection::left),
      json_field("right", &ConflictSection::right),
  };
};

template <>
struct JsonRecord<HeadInfo> {
  static constexpr std::string_view name = "HeadInfo";
  static constexpr auto fields = std::tuple{
      json_field("ref", &HeadInfo::ref),
      json_field("commit", &HeadInfo::commit),
      json_field("remoteRef", &HeadInfo::remote_ref),
      json_field("remoteCommit", &HeadInfo::remote_commit),
      json_field("remoteAhead", &HeadInfo::remote_ahead),
      json_field("remoteBehind", &HeadInfo::remote_behind),
  };
};

template <>
struct JsonRecord<RefDiff> {
  static constexpr std::string_view name = "RefDiff";
  static constexpr auto fields = std::tuple{
      json_field("aheadOfRemote", &RefDiff::ahead_of_remote),
      json_field("behindRemote", &RefDiff::behind_remote),
      json_field("aheadOfHead", &RefDiff::ahead_of_head),
      json_field("behindHead", &RefDiff::behind_head),
  };
};

template <>
// A ref's counts against the head commit, the only place the pair is written.
struct JsonRecord<AheadBehind> {
  static constexpr std::string_view name = "AheadBehind";
  static constexpr auto fields = std::tuple{
      json_field("aheadOfHead", &AheadBehind::ahead),
      json_field("behindHead", &AheadBehind::behind),
  };
};

template <>
struct JsonRecord<UnpushedCommits> {
  static constexpr std::string_view name = "UnpushedCommits";
  static constexpr auto fields = std::tuple{
      json_field("thisBranch", &UnpushedCommits::this_branch),
      json_field("allBranches", &UnpushedCommits::all_branches),
  };
};

}  // namespace brackwen
