// The process-wide stores: created on first use, alive until the process ends.
#pragma once
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "model/action.hpp"
#include "model/commit.hpp"
#include "model/config.hpp"
#include "model/git_version.hpp"
#include "model/hunk.hpp"
#include "model/patch.hpp"
#include "model/search_results.hpp"
#include "stores/store.hpp"

namespace brackwen {

using CommitsCache = std::unordered_map<std::string, std::shared_ptr<const CommitsAndRefs>>;

// What a cache entry keeps of one commit: its files in the entry's map (none when it is
// refused), and a digest of the ids of the parents they were read against, as the log listed
// them (parents_digest in git/queries/patches/patches.hpp).
struct KeptCommit {
  const PatchMap::value_type* files = nullptr;
  uint64_t parents = 0;
};

// Commit id -> what the entry keeps of it. Its keys are views of the entry's own copies of the
// ids, and its files point into the entry's map: it is made and replaced with them.
using KeptIndex = std::unordered_map<std::string_view, KeptCommit>;

// A repository's changed files, and its commits whose files were too many to keep or that git
// could not list: those are answered as failed reads, and not read again while the entry
// lasts. Each commit's answer holds while the log lists the parents it was read against:
// grafts, replace refs and a deepened shallow clone give a commit other parents, and so other
// files, under the same id.
struct PatchesCacheEntry {
  std::string repo_path;
  std::shared_ptr<const PatchMap> patches = std::make_shared<const PatchMap>();
  std::shared_ptr<const std::unordered_set<std::string>> refused;  // null: none
  // Of every commit in `patches` or `refused`.
  std::shared_ptr<const KeptIndex> kept = std::make_shared<const KeptIndex>();
  // A loaded history whose every commit the entry answers for against the parents it lists: a
  // history never changes, so that holds while it lives.
  std::weak_ptr<const CommitsAndRefs> checked = {};
};

struct NamedCache {
  std::unordered_map<std::string, std::vector<Hunk>> map;
  std::string name = "Hunk Cache";
  std::chrono::steady_clock::time_point created = std::chrono::steady_clock::now();
  std::chrono::seconds lifetime{10};
};

struct DiffSearch {
  std::optional<SearchResults> results;
  bool complete = false;
  std::string repo_path;
  std::string search_text;
  uint32_t search_id = 0;
  std::chrono::steady_clock::time_point start_time;
};
using DiffSearches = std::unordered_map<uint32_t, DiffSearch>;

struct TrieNode;  // the auto-complete word tree
struct MessageTrie {
  std::shared_ptr<const TrieNode> root;  // immutable once stored
  std::string repo_path;
};

Store<std::unordered_map<ActionId, ActionState>>& ACTIONS();
Store<uint32_t>& LAST_ACTION_ID();
Store<GitVersion>& GIT_VERSION();
Store<CommitsCache>& COMMITS_CACHE();
Store<PatchesCacheEntry>& PATCHES_CACHE();
Store<std::unordered_map<std::string, RepoConfig>>& CONFIG_CACHE();
Store<std::unordered_map<std::string, uint32_t>>& REACHABLE_IDS_CACHE();
Store<NamedCache>& HUNK_CACHE();
Store<DiffSearches>& DIFF_SEARCHES();
Store<uint32_t>& LAST_SEARCH_ID();
Store<std::string>& WATCHED_REPO();
Store<std::unordered_map<std::string, bool>>& REPO_CHANGED();
Store<MessageTrie>& MESSAGE_TRIE();

std::optional<uint32_t> get_counter(Store<uint32_t>& counter);
void set_counter(Store<uint32_t>& counter, uint32_t value);

// Null when the repository was never loaded or the store is poisoned.
std::shared_ptr<const CommitsAndRefs> get_cached_commits(const std::string& repo_path);
std::optional<RepoConfig> get_cached_config(const std::string& repo_path);
std::optional<std::unordered_map<std::string, bool>> get_repo_changed();
void set_repo_changed(std::unordered_map<std::string, bool> flags);
std::optional<DiffSearches> get_diff_searches();
void set_diff_search(uint32_t id, DiffSearch state);
std::optional<NamedCache> get_hunk_cache();

}  // namespace brackwen
