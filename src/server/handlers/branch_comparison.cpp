// Branch comparison endpoints over the cached commits and refs.
#include "server/handlers/branch_comparison.hpp"

#include "git/queries/refs/head_info.hpp"
#include "git/queries/refs/ref_diffs.hpp"
#include "git/queries/refs/unpushed_commits.hpp"
#include "server/endpoint_shell.hpp"

namespace brackwen {

std::optional<Reply> handle_get_un_pushed_commits(std::string_view body) {
  return with_record<ReqOptions>(
      body, [](const ReqOptions& r) { return get_un_pushed_commits(r.repo_path); });
}

std::optional<Reply> handle_calc_head_info(std::string_view body) {
  return with_record<ReqOptions>(body,
                                 [](const ReqOptions& r) { return calc_head_info(r.repo_path); });
}

std::optional<Reply> handle_calc_ref_diffs(std::string_view body) {
  return with_record<RefDiffOptions>(
      body, [](const RefDiffOptions& r) { return calc_ref_diffs(r.repo_path, r.head_commit_id); });
}

}  // namespace brackwen
