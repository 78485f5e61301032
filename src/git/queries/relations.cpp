// Ancestry and branch membership over the cached commits, with rev-list as the fallback.
#include "git/queries/relations.hpp"

#include "git/queries/commits.hpp"
#include "git/queries/graph.hpp"
#include "git/queries/refs/head_info.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"
#include "parser/standard_parsers.hpp"
#include "stores/stores.hpp"

namespace brackwen {

bool commit_is_ancestor(const std::string& repo_path, const std::string& commit_id,
                        const std::string& candidate) {
  std::shared_ptr<const CommitsAndRefs> all = get_cached_commits(repo_path);
  if (!all) return false;
  CommitsById commits = commits_by_id(all->commits);
  auto commit = commits.find(commit_id);
  if (commit == commits.end()) return false;
  return reachable_commit_ids(*commit->second, commits).contains(candidate);
}

std::optional<bool> commit_is_on_branch(const std::string& repo_path,
                                        const std::string& commit_id) {
  auto ids = get_commits_on_current_branch(repo_path);
  if (!ids) return std::nullopt;
  return ids->contains(commit_id);
}

std::optional<std::vector<std::string>> all_commits_on_current_branch(
    const std::string& repo_path) {
  auto ids = get_commits_on_current_branch(repo_path);
  if (!ids) return std::nullopt;
  return std::vector<std::string>(std::make_move_iterator(ids->begin()),
                                  std::make_move_iterator(ids->end()));
}

std::optional<std::vector<std::string>> commit_ids_between_commits(const std::string& repo_path,
                                                                   const std::string& from,
                                                                   const std::string& to) {
  if (auto all = get_cached_commits(repo_path)) {
    auto between = listed_commit_ids_between(to, from, *all);
    if (between) return between;
  }
  auto range = revision_range(from, "..", to);
  if (!range) return std::nullopt;
  auto args = revision_args({"rev-list"}, {*range});
  if (!args) return std::nullopt;
  std::optional<std::string> text = run_git(repo_path, *args);
  if (!text) return std::nullopt;
  return parse_all(*text, first_words_of_lines);
}

}  // namespace brackwen
