// Thin handlers over the commit queries; the loaded list is written straight from the cached
// snapshot, so the history reply copies no commit on its way out.
#include "server/handlers/commit_log.hpp"

#include "api_types/json.hpp"
#include "git/queries/commits.hpp"
#include "git/queries/load_commits.hpp"
#include "server/endpoint_shell.hpp"

namespace brackwen {

std::optional<std::string> handle_load_commits_and_refs(std::string_view body) {
  auto request = read_body<ReqCommitsOptions2>(body);
  if (!request) return std::nullopt;
  auto loaded = load_commits_and_refs(*request);
  if (!loaded) return "null";
  std::string out = "[";
  write_json(out, loaded->commits());
  out += ',';
  write_json(out, loaded->refs());
  out += ']';
  return out;
}

std::optional<std::string> handle_load_head_commit(std::string_view body) {
  return with_record<ReqOptions>(
      body, [](const ReqOptions& request) { return load_head_commit(request.repo_path); });
}

std::optional<std::string> handle_load_top_commit_for_branch(std::string_view body) {
  return with_record<TopCommitOptions>(body, [](const TopCommitOptions& request) {
    return load_top_commit_for_branch(request.repo_path, request.branch_name);
  });
}

}  // namespace brackwen
