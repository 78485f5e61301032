// Every "/f/" endpoint, keyed by the path after "/f/".
#include "server/endpoints.hpp"

#include "server/handlers/git_version.hpp"
#include "server/handlers/watching.hpp"

namespace brackwen {

std::span<const Endpoint> endpoint_table() {
  static constexpr Endpoint table[] = {
      {"git_version", &handle_git_version},
      {"watch_repo", &handle_watch_repo},
      {"stop_watching_repo", &handle_stop_watching_repo},
      {"repo_has_changed", &handle_repo_has_changed},
      {"clear_repo_changed_status", &handle_clear_repo_changed_status},
      {"clear_all_caches", &handle_clear_all_caches},
      {"auto_complete", &handle_auto_complete},
      {"scan_workspace", &handle_scan_workspace},
  };
  return table;
}

Handler find_endpoint(std::span<const Endpoint> table, std::string_view path) {
  for (const Endpoint& endpoint : table) {
    if (endpoint.path == path) return endpoint.handler;
  }
  return nullptr;
}

}  // namespace brackwen
