// The JSON form of the installed git's version: {"major":n,"minor":n,"patch":n}.
#pragma once
#include <string_view>
#include <tuple>

#include "api_types/json_fields.hpp"
#include "model/git_version.hpp"

namespace brackwen {

template <>
struct JsonRecord<GitVersion> {
  static constexpr std::string_view name = "GitVersion";
  static constexpr auto fields = std::tuple{
      json_field("major", &GitVersion::major),
      json_field("minor", &GitVersion::minor),
      json_field("patch", &GitVersion::patch),
  };
};

}  // namespace brackwen
