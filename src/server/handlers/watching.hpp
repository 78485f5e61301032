// Endpoints of repository watching, auto-complete, the workspace scan and the cache reset.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace brackwen {

std::optional<std::string> handle_watch_repo(std::string_view body);
std::optional<std::string> handle_stop_watching_repo(std::string_view body);
std::optional<std::string> handle_repo_has_changed(std::string_view body);
std::optional<std::string> handle_clear_repo_changed_status(std::string_view body);
std::optional<std::string> handle_clear_all_caches(std::string_view body);
std::optional<std::string> handle_auto_complete(std::string_view body);
std::optional<std::string> handle_scan_workspace(std::string_view body);

}  // namespace brackwen
