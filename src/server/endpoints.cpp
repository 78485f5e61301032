// Every "/f/" endpoint, keyed by the path after "/f/".
#include "server/endpoints.hpp"

#include "server/handlers/commit_log.hpp"
#include "server/handlers/git_version.hpp"

namespace brackwen {

std::span<const Endpoint> endpoint_table() {
  static constexpr Endpoint table[] = {
      {"git_version", &handle_git_version},
      {"load_commits_and_refs", &handle_load_commits_and_refs},
      {"load_head_commit", &handle_load_head_commit},
      {"load_top_commit_for_branch", &handle_load_top_commit_for_branch},
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
