// Every "/f/" endpoint, keyed by the path after "/f/".
#include "server/endpoints.hpp"

#include "server/handlers/actions.hpp"
#include "server/handlers/conflicts.hpp"
#include "server/handlers/data_store.hpp"
#include "server/handlers/files.hpp"
#include "server/handlers/git_version.hpp"
#include "server/handlers/raw_git.hpp"

namespace brackwen {

std::span<const Endpoint> endpoint_table() {
  static constexpr Endpoint table[] = {
      {"git_version", &handle_git_version},
      {"load_conflicted_file", &handle_load_conflicted_file},
      {"run", &handle_run},
      {"load_commit_image", &handle_load_commit_image},
      {"get_data_store", &handle_get_data_store},
      {"set_data_store", &handle_set_data_store},
      {"path_exists", &handle_path_exists},
      {"temp_dir", &handle_temp_dir},
      {"file_size", &handle_file_size},
      {"write_file", &handle_write_file},
      {"command", &handle_command},
      {"commands", &handle_commands},
      {"stash_changes", &handle_stash_changes},
      {"fetch_all", &handle_fetch_all},
      {"create_repo", &handle_create_repo},
      {"clone_repo", &handle_clone_repo},
      {"stash_staged", &handle_stash_staged},
      {"poll_action2", &handle_poll_action2},
      {"set_credentials", &handle_set_credentials},
      {"override_git_home", &handle_override_git_home},
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
