// The working-copy status endpoint.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "server/reply.hpp"

namespace brackwen {

// "/f/load_wip_patches": ReqOptions -> list of WipPatch, or null.
std::optional<Reply> handle_load_wip_patches(std::string_view body);

}  // namespace brackwen
