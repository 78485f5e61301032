// "/f/run" (any git command, its standard output as text) and "/f/load_commit_image" (a
// file of an old commit copied byte for byte to a file the front end names).
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "server/reply.hpp"

namespace brackwen {

std::optional<Reply> handle_run(std::string_view body);
std::optional<Reply> handle_load_commit_image(std::string_view body);

}  // namespace brackwen
