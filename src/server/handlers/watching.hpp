// Endpoints of repository watching, auto-complete, the workspace scan and the cache reset.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "server/reply.hpp"

namespace brackwen {

std::optional<Reply> handle_watch_repo(std::string_view body);
std::optional<Reply> handle_stop_watching_repo(std::string_view body);
std::optional<Reply> handle_repo_has_changed(std::string_view body);
std::optional<Reply> handle_clear_repo_changed_status(std::string_view body);
std::optional<Reply> handle_clear_all_caches(std::string_view body);
std::optional<Reply> handle_auto_complete(std::string_view body);
std::optional<Reply> handle_scan_workspace(std::string_view body);

}  // namespace brackwen
