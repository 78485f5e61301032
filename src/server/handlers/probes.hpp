// "/f/is_merge_in_progress" and "/f/is_rebase_in_progress": git's marker files in ".git".
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "server/reply.hpp"

namespace brackwen {

std::optional<Reply> handle_is_merge_in_progress(std::string_view body);
std::optional<Reply> handle_is_rebase_in_progress(std::string_view body);

}  // namespace brackwen
