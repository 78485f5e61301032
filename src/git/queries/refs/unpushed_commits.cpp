// Unpushed commits: the cached graph walked from the head, or git's own answer without it.
#include "git/queries/refs/unpushed_commits.hpp"

#include <algorithm>

#include "git/queries/refs/head_info.hpp"
#include "git/run_git.hpp"
#include "parser/standard_parsers.hpp"
#include "stores/stores.hpp"

namespace brackwen {
namespace {

UnpushedCommits from_git(const std::string& repo_path) {
  std::optional<std::string> text =
      run_git(repo_path, {"log", "HEAD", "--not", "--remotes", "--pretty=format:%H"});
  if (!text) return {};
  std::optional<std::vector<std::string>> ids = parse_all(*text, first_words_of_lines);
  if (!ids) return {};
  return UnpushedCommits{{}, std::move(*ids)};
}

const RefInfo* first_ref(const std::vector<RefInfo>& refs, auto&& pred) {
  auto found = std::find_if(refs.begin(), refs.end(), pred);
  return found == refs.end() ? nullptr : &*found;
}

}  // namespace

UnpushedCommits get_un_pushed_commits(const std::string& repo_path) {
  // One snapshot serves both the difference and the walk, so a load in between cannot mix
  // two histories.
  std::shared_ptr<const CommitsAndRefs> all = get_cached_commits(repo_path);
  if (!all) return from_git(repo_path);
  const RefInfo* head = first_ref(all->refs, [](const RefInfo& r) { return r.head; });
  if (!head || !head->sibling_id) return from_git(repo_path);
  const RefInfo* sibling =
      first_ref(all->refs, [&](const RefInfo& r) { return r.id == *head->sibling_id; });
  if (!sibling) return from_git(repo_path);
  CommitsById commits = commits_by_id(all->commits);
  std::optional<std::vector<std::string>> between =
      commit_ids_between(head->commit_id, sibling->commit_id, commits);
  if (!between) return from_git(repo_path);

  UnpushedCommits unpushed{std::move(*between), {}};
  const Commit* head_commit = nullptr;
  for (const Commit& c : all->commits) {
    if (c.id == head->commit_id) {
      head_commit = &c;
      break;
    }
  }
  if (!head_commit) return unpushed;
  CommitIdSet wanted(unpushed.this_branch.begin(), unpushed.this_branch.end());
  CommitIdSet visited;
  walk_commit_graph(*head_commit, sibling->commit_id, commits, refs_by_id(all->refs), wanted,
                    visited, unpushed.all_branches);
  return unpushed;
}

}  // namespace brackwen
