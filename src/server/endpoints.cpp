// Every "/f/" endpoint, keyed by the path after "/f/".
#include "server/endpoints.hpp"

#include "server/handlers/git_version.hpp"

namespace brackwen {

std::span<const Endpoint> endpoint_table() {
  static constexpr Endpoint table[] = {
      {"git_version", &handle_git_version},
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
