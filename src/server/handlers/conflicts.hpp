// "/f/load_conflicted_file": a working-copy file with conflict markers as aligned sides.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "server/reply.hpp"

namespace brackwen {

std::optional<Reply> handle_load_conflicted_file(std::string_view body);

}  // namespace brackwen
