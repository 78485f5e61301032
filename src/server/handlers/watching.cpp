// Endpoints of repository watching, auto-complete, the workspace scan and the cache reset.
#include "server/handlers/watching.hpp"

#include "server/changed_files.hpp"
#include "server/endpoint_shell.hpp"
#include "server/history.hpp"
#include "stores/auto_complete.hpp"
#include "stores/repo_changed.hpp"
#include "stores/stores.hpp"
#include "stores/watcher.hpp"
#include "stores/workspace_scan.hpp"

namespace brackwen {
namespace {

// Written as "null": the reply of the endpoints that only act.

}  // namespace

std::optional<Reply> handle_watch_repo(std::string_view body) {
  return with_record<WatchRepoOptions>(body, [](const WatchRepoOptions& options) {
    watch_repo(options.repo_paths, options.root_repo, options.start_changed);
    return NULL_REPLY;
  });
}

// The repository path is required but not used.
std::optional<Reply> handle_stop_watching_repo(std::string_view body) {
  return with_record<ReqOptions>(body, [](const ReqOptions&) {
    stop_watching_repo();
    return NULL_REPLY;
  });
}

// "null", not false, for a path without a flag: the client tells unwatched from unchanged.
std::optional<Reply> handle_repo_has_changed(std::string_view body) {
  return with_record<ReqOptions>(body, [](const ReqOptions& options) -> std::optional<bool> {
    auto flags = get_repo_changed();
    if (!flags) return std::nullopt;
    auto it = flags->find(options.repo_path);
    if (it == flags->end()) return std::nullopt;
    return it->second;
  });
}

std::optional<Reply> handle_clear_repo_changed_status(std::string_view body) {
  return with_record<ReqOptions>(body, [](const ReqOptions& options) {
    clear_repo_changed_status(options.repo_path);
    return NULL_REPLY;
  });
}

// The repository path is required but not used.
std::optional<Reply> handle_clear_all_caches(std::string_view body) {
  return with_record<ReqOptions>(body, [](const ReqOptions&) {
    clear_all_caches();
    return NULL_REPLY;
  });
}

std::optional<Reply> handle_auto_complete(std::string_view body) {
  return with_record<MessageAC>(body, [](const MessageAC& request) {
    if (request.kind == AutoCompleteKind::CreateBranch) {
      return complete_branch_name(request.repo_path, request.current_word, request.max_num);
    }
    return complete_commit_message(request.repo_path, request.current_word, request.max_num);
  });
}

std::optional<Reply> handle_scan_workspace(std::string_view body) {
  return with_record<ScanOptions>(body, [](const ScanOptions& options) {
    return scan_workspace(options.repo_path, options.workspaces_enabled);
  });
}

}  // namespace brackwen
