// The fourteen process-wide stores, each made on first use, and their accessors.
#include "stores/stores.hpp"

#include "stores/auto_complete.hpp"

namespace brackwen {

Store<std::unordered_map<ActionId, ActionState>>& ACTIONS() {
  static Store<std::unordered_map<ActionId, ActionState>> store;
  return store;
}

Store<uint32_t>& LAST_ACTION_ID() {
  static Store<uint32_t> store{1};  // the first action id handed out is 2
  return store;
}

Store<GitVersion>& GIT_VERSION() {
  static Store<GitVersion> store;
  return store;
}

Store<CommitsCache>& COMMITS_CACHE() {
  static Store<CommitsCache> store;
  return store;
}

Store<PatchesCacheEntry>& PATCHES_CACHE() {
  static Store<PatchesCacheEntry> store;
  return store;
}

Store<std::unordered_map<std::string, RepoConfig>>& CONFIG_CACHE() {
  static Store<std::unordered_map<std::string, RepoConfig>> store;
  return store;
}

Store<std::unordered_map<std::string, uint32_t>>& REACHABLE_IDS_CACHE() {
  static Store<std::unordered_map<std::string, uint32_t>> store;
  return store;
}

Store<NamedCache>& HUNK_CACHE() {
  static Store<NamedCache> store;
  return store;
}

Store<DiffSearches>& DIFF_SEARCHES() {
  static Store<DiffSearches> store;
  return store;
}

Store<uint32_t>& LAST_SEARCH_ID() {
  static Store<uint32_t> store{0};
  return store;
}

Store<std::string>& WATCHED_REPO() {
  static Store<std::string> store;
  return store;
}

Store<std::unordered_map<std::string, bool>>& REPO_CHANGED() {
  static Store<std::unordered_map<std::string, bool>> store;
  return store;
}

Store<MessageTrie>& MESSAGE_TRIE() {
  // An empty tree kept for the path "": a request naming it has no words, not an unknown
  // history.
  static Store<MessageTrie> store{MessageTrie{std::make_shared<const TrieNode>(), ""}};
  return store;
}

std::optional<uint32_t> get_counter(Store<uint32_t>& counter) {
  return counter.get();
}

void set_counter(Store<uint32_t>& counter, uint32_t value) {
  counter.set(value);
}

std::shared_ptr<const CommitsAndRefs> get_cached_commits(const std::string& repo_path) {
  auto found = COMMITS_CACHE().read([&](const CommitsCache& cache) {
    auto it = cache.find(repo_path);
    return it == cache.end() ? nullptr : it->second;
  });
  return found ? *found : nullptr;
}

std::optional<RepoConfig> get_cached_config(const std::string& repo_path) {
  auto found = CONFIG_CACHE().read([&](const auto& cache) -> std::optional<RepoConfig> {
    auto it = cache.find(repo_path);
    if (it == cache.end()) return std::nullopt;
    return it->second;
  });
  return found ? *found : std::nullopt;
}

std::optional<std::unordered_map<std::string, bool>> get_repo_changed() {
  return REPO_CHANGED().get();
}

void set_repo_changed(std::unordered_map<std::string, bool> flags) {
  REPO_CHANGED().set(std::move(flags));
}

std::optional<DiffSearches> get_diff_searches() {
  return DIFF_SEARCHES().get();
}

void set_diff_search(uint32_t id, DiffSearch state) {
  DIFF_SEARCHES().update([&](DiffSearches& all) { all[id] = std::move(state); });
}

std::optional<NamedCache> get_hunk_cache() {
  return HUNK_CACHE().get();
}

}  // namespace brackwen
