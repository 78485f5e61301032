// Commit relation endpoints: read the record, ask the relation queries, write the answer.
#include "server/handlers/relations.hpp"

#include "git/queries/relations.hpp"
#include "server/endpoint_shell.hpp"

namespace brackwen {

std::optional<Reply> handle_commit_is_ancestor(std::string_view body) {
  return with_record<CommitAncestorOpts>(body, [](const CommitAncestorOpts& r) {
    return commit_is_ancestor(r.repo_path, r.commit_id, r.ancestor_candidate_id);
  });
}

std::optional<Reply> handle_commit_is_on_branch(std::string_view body) {
  return with_record<CommitOnBranchOpts>(body, [](const CommitOnBranchOpts& r) {
    return commit_is_on_branch(r.repo_path, r.commit_id);
  });
}

std::optional<Reply> handle_get_all_commits_on_current_branch(std::string_view body) {
  return with_record<ReqOptions>(
      body, [](const ReqOptions& r) { return all_commits_on_current_branch(r.repo_path); });
}

std::optional<Reply> handle_commit_ids_between_commits(std::string_view body) {
  return with_record<CommitDiffOpts>(body, [](const CommitDiffOpts& r) {
    return commit_ids_between_commits(r.repo_path, r.commit_id1, r.commit_id2);
  });
}

}  // namespace brackwen
