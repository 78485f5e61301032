// JSON form of the conflicted-file view: {"slot":{...}} / {"ok":{...}} rows and the file record.
#pragma once
#include <tuple>

#include "api_types/json_fields.hpp"
#include "api_types/replies_json.hpp"
#include "model/conflicts.hpp"

namespace brackwen {

template <>
struct JsonVariants<ConflictLine> {
  static constexpr std::string_view name = "ConflictLine";
  static constexpr auto variants = std::tuple{
      json_struct_variant("slot", "Slot", ConflictLine::Kind::Slot,
                          json_field("section", &ConflictLine::section),
                          json_field("index", &ConflictLine::index)),
      json_struct_variant("ok", "Ok", ConflictLine::Kind::Ok,
                          json_field("text", &ConflictLine::text)),
  };
};

template <>
struct JsonRecord<ConflictFile> {
  static constexpr std::string_view name = "ConflictFile";
  static constexpr auto fields = std::tuple{
      json_field("lines", &ConflictFile::lines),
      json_field("sections", &ConflictFile::sections),
      json_field("refNameTop", &ConflictFile::ref_name_top),
      json_field("refNameBottom", &ConflictFile::ref_name_bottom),
      json_field("lineEnding", &ConflictFile::line_ending),
      json_field("maxLineLength", &ConflictFile::max_line_length),
  };
};

}  // namespace brackwen
