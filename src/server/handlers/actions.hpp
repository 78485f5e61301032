// The action endpoints: starters that reply with an action id, the poll, and the two
// endpoints that change the environment later git processes inherit.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "server/reply.hpp"

namespace brackwen {

std::optional<Reply> handle_command(std::string_view body);
std::optional<Reply> handle_commands(std::string_view body);
std::optional<Reply> handle_stash_changes(std::string_view body);
std::optional<Reply> handle_fetch_all(std::string_view body);
std::optional<Reply> handle_create_repo(std::string_view body);
std::optional<Reply> handle_clone_repo(std::string_view body);
std::optional<Reply> handle_stash_staged(std::string_view body);
std::optional<Reply> handle_poll_action2(std::string_view body);
std::optional<Reply> handle_set_credentials(std::string_view body);
std::optional<Reply> handle_override_git_home(std::string_view body);

}  // namespace brackwen
