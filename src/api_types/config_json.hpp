// The JSON form of a repository's configuration, as "/f/load_full_config" replies it.
#pragma once
#include <string_view>
#include <tuple>

#include "api_types/json_fields.hpp"
#include "model/config.hpp"

namespace brackwen {

template <>
struct JsonRecord<RepoConfig> {
  static constexpr std::string_view name = "FullConfig";
  static constexpr auto fields = std::tuple{
      json_field("entries", &RepoConfig::entries),
      json_field("remotes", &RepoConfig::remotes),
  };
};

}  // namespace brackwen
