// Every "/f/" endpoint, keyed by the path after "/f/".
#include "server/endpoints.hpp"

#include "server/handlers/branches.hpp"
#include "server/handlers/config.hpp"
#include "server/handlers/conflicts.hpp"
#include "server/handlers/data_store.hpp"
#include "server/handlers/diff_search.hpp"
#include "server/handlers/files.hpp"
#include "server/handlers/git_version.hpp"
#include "server/handlers/probes.hpp"
#include "server/handlers/raw_git.hpp"
#include "server/handlers/relations.hpp"

namespace brackwen {

std::span<const Endpoint> endpoint_table() {
  static constexpr Endpoint table[] = {
      {"git_version", &handle_git_version},
      {"commit_is_ancestor", &handle_commit_is_ancestor},
      {"commit_is_on_branch", &handle_commit_is_on_branch},
      {"get_all_commits_on_current_branch", &handle_get_all_commits_on_current_branch},
      {"commit_ids_between_commits", &handle_commit_ids_between_commits},
      {"get_un_pushed_commits", &handle_get_un_pushed_commits},
      {"calc_head_info", &handle_calc_head_info},
      {"calc_ref_diffs", &handle_calc_ref_diffs},
      {"is_merge_in_progress", &handle_is_merge_in_progress},
      {"is_rebase_in_progress", &handle_is_rebase_in_progress},
      {"start_diff_search", &handle_start_diff_search},
      {"poll_diff_search", &handle_poll_diff_search},
      {"clear_cache", &handle_clear_cache},
      {"load_full_config", &handle_load_full_config},
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
