// "/f/load_full_config": the repository's configuration, kept in CONFIG_CACHE for the branch
// endpoints and the commit loader.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "server/reply.hpp"

namespace brackwen {

std::optional<Reply> handle_load_full_config(std::string_view body);

}  // namespace brackwen
