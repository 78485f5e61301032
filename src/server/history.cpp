// The history queries composed with the changed-files cache.
#include "server/history.hpp"

#include "server/changed_files.hpp"
#include "stores/auto_complete.hpp"
#include "stores/stores.hpp"

namespace brackwen {

std::optional<LoadedCommits> load_commits_and_refs(const HistoryQuery& query) {
  std::shared_ptr<const CommitsAndRefs> all = load_history(query);
  if (!all) return std::nullopt;
  std::shared_ptr<const PatchMap> patches;
  if (needs_patches(query.filters)) patches = load_patches(query.repo_path, all->commits);
  return filter_history(std::move(all), query.filters, patches.get());
}

std::optional<std::vector<std::string>> complete_commit_message(const std::string& repo_path,
                                                                std::string_view current_word,
                                                                size_t max_num) {
  if (current_word.empty()) return std::nullopt;
  std::shared_ptr<const TrieNode> tree = stored_message_trie(repo_path);
  if (!tree) {
    auto history = get_cached_commits(repo_path);
    if (!history) return std::nullopt;
    auto patches = load_patches(repo_path, history->commits);
    tree = build_message_trie(*history, *patches);
    store_message_trie(repo_path, tree);
  }
  return trie_complete(*tree, current_word, max_num);
}

}  // namespace brackwen
