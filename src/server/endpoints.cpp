// Every "/f/" endpoint, keyed by the path after "/f/".
#include "server/endpoints.hpp"

#include "server/handlers/commit_log.hpp"
#include "server/handlers/conflicts.hpp"
#include "server/handlers/data_store.hpp"
#include "server/handlers/files.hpp"
#include "server/handlers/git_version.hpp"
#include "server/handlers/raw_git.hpp"

namespace brackwen {

std::span<const Endpoint> endpoint_table() {
  static constexpr Endpoint table[] = {
      {"git_version", &handle_git_version},
      {"load_commits_and_refs", &handle_load_commits_and_refs},
      {"load_head_commit", &handle_load_head_commit},
      {"load_top_commit_for_branch", &handle_load_top_commit_for_branch},
      {"load_conflicted_file", &handle_load_conflicted_file},
      {"run", &handle_run},
      {"load_commit_image", &handle_load_commit_image},
      {"get_data_store", &handle_get_data_store},
      {"set_data_store", &handle_set_data_store},
      {"path_exists", &handle_path_exists},
      {"temp_dir", &handle_temp_dir},
      {"file_size", &handle_file_size},
      {"write_file", &handle_write_file},
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
