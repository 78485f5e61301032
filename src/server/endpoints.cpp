// Every "/f/" endpoint, keyed by the path after "/f/".
#include "server/endpoints.hpp"

#include "server/handlers/git_version.hpp"
#include "server/handlers/hunks.hpp"
#include "server/handlers/search.hpp"
#include "server/handlers/wip.hpp"

namespace brackwen {

std::span<const Endpoint> endpoint_table() {
  static constexpr Endpoint table[] = {
      {"git_version", &handle_git_version},
      {"load_hunks", &handle_load_hunks},
      {"load_wip_hunks", &handle_load_wip_hunks},
      {"load_wip_hunk_lines", &handle_load_wip_hunk_lines},
      {"load_wip_patches", &handle_load_wip_patches},
      {"load_patches_for_commit", &handle_load_patches_for_commit},
      {"search_commits", &handle_search_commits},
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
