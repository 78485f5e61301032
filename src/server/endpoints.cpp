// Every "/f/" endpoint, keyed by the path after "/f/".
#include "server/endpoints.hpp"

#include "server/handlers/commit_log.hpp"
#include "server/handlers/conflicts.hpp"
#include "server/handlers/data_store.hpp"
#include "server/handlers/files.hpp"
#include "server/handlers/git_version.hpp"
#include "server/handlers/hunks.hpp"
#include "server/handlers/raw_git.hpp"
#include "server/handlers/search.hpp"
#include "server/handlers/wip.hpp"
#include "server/handlers/watching.hpp"

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
      {"load_hunks", &handle_load_hunks},
      {"load_wip_hunks", &handle_load_wip_hunks},
      {"load_wip_hunk_lines", &handle_load_wip_hunk_lines},
      {"load_wip_patches", &handle_load_wip_patches},
      {"load_patches_for_commit", &handle_load_patches_for_commit},
      {"search_commits", &handle_search_commits},
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
