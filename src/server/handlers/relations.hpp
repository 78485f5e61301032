// "/f/commit_is_ancestor", "/f/commit_is_on_branch", "/f/get_all_commits_on_current_branch"
// and "/f/commit_ids_between_commits": how commits relate, from the cached graph.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "server/reply.hpp"

namespace brackwen {

std::optional<Reply> handle_commit_is_ancestor(std::string_view body);
std::optional<Reply> handle_commit_is_on_branch(std::string_view body);
std::optional<Reply> handle_get_all_commits_on_current_branch(std::string_view body);
std::optional<Reply> handle_commit_ids_between_commits(std::string_view body);

}  // namespace brackwen
