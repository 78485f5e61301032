// Every "/f/" endpoint, keyed by the path after "/f/".
#include "server/endpoints.hpp"

#include "server/handlers/actions.hpp"
#include "server/handlers/branch_comparison.hpp"
#include "server/handlers/commit_log.hpp"
#include "server/handlers/config.hpp"
#include "server/handlers/conflicts.hpp"
#include "server/handlers/data_store.hpp"
#include "server/handlers/diff_search.hpp"
#include "server/handlers/files.hpp"
#include "server/handlers/git_version.hpp"
#include "server/handlers/hunks.hpp"
#include "server/handlers/probes.hpp"
#include "server/handlers/raw_git.hpp"
#include "server/handlers/relations.hpp"
#include "server/handlers/search.hpp"
#include "server/handlers/watching.hpp"
#include "server/handlers/wip_status.hpp"

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
