// The JSON form of the shared records: commits, refs, changed files, hunks and action states.
#pragma once
#include <array>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "api_types/json_fields.hpp"
#include "model/action.hpp"
#include "model/commit.hpp"
#include "model/hunk.hpp"
#include "model/patch.hpp"
#include "model/search_results.hpp"

namespace brackwen {

template <>
struct JsonRecord<DateResult> {
  static constexpr std::string_view name = "DateResult";
  static constexpr auto fields = std::tuple{
      json_field("ms", &DateResult::ms),
      json_field("adjustment", &DateResult::adjustment),
  };
};

// `Commit` carries its refs as ids, `ParsedCommit` as whole RefInfo objects; the keys are the same.
template <class RefT>
struct JsonRecord<CommitOf<RefT>> {
  using C = CommitOf<RefT>;
  static constexpr std::string_view name =
      std::is_same_v<RefT, std::string> ? "Commit" : "ParsedCommit";
  static constexpr auto fields = std::tuple{
      json_field("author", &C::author),
      json_field("email", &C::email),
      json_field("date", &C::date),
      json_field("id", &C::id),
      json_field("index", &C::index),
      json_field("parentIds", &C::parent_ids),
      json_field("isMerge", &C::is_merge),
      json_field("message", &C::message),
      json_field_may_be_absent("stashId", &C::stash_id),
      json_field("refs", &C::refs),
      json_field("filtered", &C::filtered),
      json_field("numSkipped", &C::num_skipped),
  };
};

template <>
struct JsonEnum<RefLocation> {
  static constexpr std::array<std::string_view, 2> names = {"Local", "Remote"};
};

template <>
struct JsonEnum<RefType> {
  static constexpr std::array<std::string_view, 3> names = {"Branch", "Tag", "Stash"};
};

template <>
struct JsonRecord<RefInfo> {
  static constexpr std::string_view name = "RefInfo";
  static constexpr auto fields = std::tuple{
      json_field("id", &RefInfo::id),
      json_field("location", &RefInfo::location),
      json_field("fullName", &RefInfo::full_name),
      json_field("shortName", &RefInfo::short_name),
      json_field("remoteName", &RefInfo::remote_name),
      json_field("siblingId", &RefInfo::sibling_id),
      json_field("refType", &RefInfo::ref_type),
      json_field("head", &RefInfo::head),
      json_field("commitId", &RefInfo::commit_id),
      json_field("time", &RefInfo::time),
  };
};

template <>
struct JsonEnum<PatchType> {
  static constexpr std::array<std::string_view, 9> names = {"A", "C", "B", "D", "M",
                                                            "R", "T", "U", "X"};
};

template <>
struct JsonRecord<Patch> {
  static constexpr std::string_view name = "Patch";
  static constexpr auto fields = std::tuple{
      json_field("commitId", &Patch::commit_id),
      json_field("oldFile", &Patch::old_file),
      json_field("newFile", &Patch::new_file),
      json_field("patchType", &Patch::patch_type),
      json_field("id", &Patch::id),
      json_field("isImage", &Patch::is_image),
  };
};

template <>
struct JsonEnum<WipPatchType> {
  static constexpr std::array<std::string_view, 8> names = {"?", " ", "A", "C", "D", "M", "R", "U"};
};

template <>
struct JsonRecord<WipPatch> {
  static constexpr std::string_view name = "WipPatch";
  static constexpr auto fields = std::tuple{
      json_field("oldFile", &WipPatch::old_file),
      json_field("newFile", &WipPatch::new_file),
      json_field("patchType", &WipPatch::patch_type),
      json_field("stagedType", &WipPatch::staged_type),
      json_field("unStagedType", &WipPatch::un_staged_type),
      json_field("conflicted", &WipPatch::conflicted),
      json_field("id", &WipPatch::id),
      json_field("isImage", &WipPatch::is_image),
  };
};

template <>
struct JsonRecord<LineRange> {
  static constexpr std::string_view name = "LineRange";
  static constexpr auto fields = std::tuple{
      json_field("start", &LineRange::start),
      json_field("length", &LineRange::length),
  };
};

template <>
struct JsonEnum<HunkLineStatus> {
  static constexpr std::array<std::string_view, 5> names = {"+", "-", " ", "headerStart",
                                                            "headerEnd"};
};

// One table for both forms of a line, so that a line read from git's text is written exactly
// as the record would be.
template <class Line>
constexpr auto hunk_line_fields = std::tuple{
    json_field("status", &Line::status),
    json_field("oldNum", &Line::old_num),
    json_field("newNum", &Line::new_num),
    json_field("hunkIndex", &Line::hunk_index),
    json_field("text", &Line::text),
    json_field("index", &Line::index),
    json_field("lineEnding", &Line::line_ending),
};

template <>
struct JsonRecord<HunkLine> {
  static constexpr std::string_view name = "HunkLine";
  static constexpr auto fields = hunk_line_fields<HunkLine>;
};

template <>
struct JsonRecord<HunkLineView> {
  static constexpr std::string_view name = "HunkLine";
  static constexpr auto fields = hunk_line_fields<HunkLineView>;
};

template <>
struct JsonRecord<Hunk> {
  static constexpr std::string_view name = "Hunk";
  static constexpr auto fields = std::tuple{
      json_field("oldLineRange", &Hunk::old_line_range),
      json_field("newLineRange", &Hunk::new_line_range),
      json_field("contextLine", &Hunk::context_line),
      json_field("lines", &Hunk::lines),
      json_field("index", &Hunk::index),
  };
};

template <>
struct JsonRecord<PatchMatch> {
  static constexpr std::string_view name = "PatchMatch";
  static constexpr auto fields = std::tuple{
      json_field("patch", &PatchMatch::patch),
      json_field("lines", &PatchMatch::lines),
  };
};

template <>
struct JsonVariants<ActionError> {
  static constexpr std::string_view name = "ActionError";
  static constexpr auto variants = std::tuple{
      json_unit_variant("credential", ActionError::Kind::Credential),
      json_unit_variant("git", ActionError::Kind::Git),
      json_value_variant("iO", ActionError::Kind::IO, &ActionError::message),
  };
};

template <>
struct JsonRecord<ActionState> {
  static constexpr std::string_view name = "ActionState";
  static constexpr auto fields = std::tuple{
      json_field("stdout", &ActionState::stdout_lines),
      json_field("stderr", &ActionState::stderr_lines),
      json_field("done", &ActionState::done),
      json_field("error", &ActionState::error),
  };
};

// Display texts: the words and letters as people and ids see them.
constexpr std::string_view fmt_ref_location(RefLocation location) {
  return JsonEnum<RefLocation>::names[static_cast<size_t>(location)];
}

constexpr std::string_view fmt_wip_patch_type(WipPatchType type) {
  return JsonEnum<WipPatchType>::names[static_cast<size_t>(type)];
}

}  // namespace brackwen
