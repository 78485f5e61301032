// "/f/get_un_pushed_commits", "/f/calc_head_info" and "/f/calc_ref_diffs": the branch list's
// head, its remote counterpart and every ref's distance from them.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "server/reply.hpp"

namespace brackwen {

std::optional<Reply> handle_get_un_pushed_commits(std::string_view body);
std::optional<Reply> handle_calc_head_info(std::string_view body);
std::optional<Reply> handle_calc_ref_diffs(std::string_view body);

}  // namespace brackwen
