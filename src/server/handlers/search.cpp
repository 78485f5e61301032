// Both endpoints answer from the commit cache only: a repository never loaded gives null.
#include "server/handlers/search.hpp"

#include "git/queries/search/search_commits.hpp"
#include "server/changed_files.hpp"
#include "server/endpoint_shell.hpp"
#include "stores/stores.hpp"

namespace brackwen {

std::optional<Reply> handle_load_patches_for_commit(std::string_view body) {
  return with_record<ReqPatchesForCommitOpts>(
      body, [](const ReqPatchesForCommitOpts& request) -> std::optional<std::vector<Patch>> {
        auto history = get_cached_commits(request.repo_path);
        if (!history) return std::nullopt;
        return patches_of_commit(request.repo_path, history, request.commit_id);
      });
}

std::optional<Reply> handle_search_commits(std::string_view body) {
  return with_record<SearchOptions>(
      body, [](const SearchOptions& request) -> std::optional<std::vector<CommitSearchResult>> {
        auto history = get_cached_commits(request.repo_path);
        if (!history) return std::nullopt;
        auto patches = load_patches(request.repo_path, history->commits);
        return search_commits(*history, patches ? *patches : PatchMap(), request.search_text,
                              request.num_results);
      });
}

}  // namespace brackwen
