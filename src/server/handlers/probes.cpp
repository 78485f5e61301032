// Merge and rebase probes: no git run, only the marker files.
#include "server/handlers/probes.hpp"

#include "git/queries/merge_rebase.hpp"
#include "server/endpoint_shell.hpp"

namespace brackwen {

std::optional<Reply> handle_is_merge_in_progress(std::string_view body) {
  return with_record<ReqOptions>(
      body, [](const ReqOptions& r) { return merge_in_progress(r.repo_path); });
}

std::optional<Reply> handle_is_rebase_in_progress(std::string_view body) {
  return with_record<ReqOptions>(
      body, [](const ReqOptions& r) { return rebase_in_progress(r.repo_path); });
}

}  // namespace brackwen
