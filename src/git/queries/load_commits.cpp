// Loading, caching and filtering the commit list. The stash list and the log come from two
// git processes that run at the same time; the log is read on the calling thread.
#include "git/queries/load_commits.hpp"

#include <algorithm>
#include <future>
#include <unordered_set>
#include <utility>

#include "git/queries/commits.hpp"
#include "git/queries/graph.hpp"
#include "git/reading/request_budget.hpp"
#include "stores/history_heaps.hpp"
#include "stores/repo_changed.hpp"
#include "stores/stores.hpp"
#include "stores/threads.hpp"

namespace brackwen {
namespace {

// The stash entries in the order they are placed in: newest first, equal dates as listed.
StashPlacement stash_placement(std::optional<std::vector<ParsedCommit>> stashes) {
  StashPlacement placement;
  if (!stashes) return placement;
  placement.entries.reserve(stashes->size());
  for (ParsedCommit& s : *stashes) placement.entries.push_back(commit_from_parsed(std::move(s)));
  // Among themselves the stashes order by date, newest first; the rule "a stash goes before
  // every log commit older than it" is no strict weak ordering once log commits are out of
  // date order, so it is applied while the log is read rather than handed to a sort.
  std::stable_sort(placement.entries.begin(), placement.entries.end(),
                   [](const Commit& a, const Commit& b) { return a.date.ms > b.date.ms; });
  return placement;
}

// The log and the stash list from two gits at once. The log places the stash entries as it
// reads its records, and asks for them at its first record, by when the short stash list has
// long been read. The log waits for the stash list while it runs, so the stash list's runs are
// the older of the request's, whichever starts first: a run ended for room waits for the older.
std::optional<CommitLog> load_log_and_stashes(const std::string& repo_path, uint32_t count) {
  std::promise<std::optional<std::vector<ParsedCommit>>> stash_list;
  std::shared_future<std::optional<std::vector<ParsedCommit>>> listed =
      stash_list.get_future().share();
  bool stashes_failed = false;
  std::shared_ptr<RequestBudget> request = current_request_budget();
  std::optional<uint64_t> stash_age;
  if (request) stash_age = reserve_age(*request);
  auto load_stash_list = [&] {
    RequestBudgetScope carried(request, stash_age);
    try {
      stash_list.set_value(load_stashes(repo_path));
    } catch (...) {
      // The log may be waiting for the entries: it fails with the same error.
      stashes_failed = true;
      stash_list.set_exception(std::current_exception());
      throw;
    }
  };
  std::optional<CommitLog> log;
  bool log_ok = false;
  auto load_log = [&] {
    log_ok = run_reported("Loading the commit log", [&] {
      log = load_commits(repo_path, count, [&] { return stash_placement(listed.get()); });
    });
  };
  run_alongside("Loading the stash list", load_stash_list, load_log);
  if (stashes_failed || !log_ok || !log) return std::nullopt;
  return log;
}

// A history and the heap it was made in, leased until the history goes (members are freed
// in reverse order: the history first).
struct HeldHistory {
  HistoryHeapLease heap;
  CommitsAndRefs history;
};

// Loads the history into a heap of its own; null when the log cannot be loaded.
std::shared_ptr<const CommitsAndRefs> load_into_own_heap(const HistoryQuery& request) {
  HistoryHeapLease heap = lease_history_heap();
  HistoryHeapScope scope(heap);
  auto log = request.skip_stashes ? load_commits(request.repo_path, request.num_commits)
                                  : load_log_and_stashes(request.repo_path, request.num_commits);
  if (!log) return nullptr;
  for (size_t i = 0; i < log->commits.size(); ++i) log->commits[i].index = i;
  auto config = get_cached_config(request.repo_path);
  auto held = std::make_shared<HeldHistory>(HeldHistory{std::move(heap), {}});
  held->history.refs = ref_list(log->refs, config ? config->entries : TextMap{});
  held->history.commits = std::move(log->commits);
  held->history.out_of_order = out_of_order_stretches(held->history.commits);
  return std::shared_ptr<const CommitsAndRefs>(held, &held->history);
}

std::shared_ptr<const CommitsAndRefs> load_fresh(const HistoryQuery& request) {
  std::shared_ptr<const CommitsAndRefs> snapshot = load_into_own_heap(request);
  if (!snapshot) return nullptr;
  // The snapshot it replaces is freed after the lock is released, not under it, and not on
  // the request thread.
  std::shared_ptr<const CommitsAndRefs> replaced;
  COMMITS_CACHE().update(
      [&](CommitsCache& cache) { replaced = std::exchange(cache[request.repo_path], snapshot); });
  release_in_background(std::move(replaced));
  clear_repo_changed_status(request.repo_path);
  return snapshot;
}

using IdSet = std::unordered_set<std::string_view>;

IdSet branch_ids(const CommitsAndRefs& all, const CommitsById& by_id,
                 const std::string& short_name) {
  IdSet ids;
  for (const RefInfo& ref : all.refs) {
    if (ref.short_name != short_name) continue;
    auto found = by_id.find(ref.commit_id);
    if (found == by_id.end() || ids.contains(found->first)) continue;
    ids.merge(reachable_commit_ids(*found->second, by_id));
    ids.insert(found->first);
  }
  if (ids.empty()) return ids;
  // Stash entries carry only their base commit as parent.
  for (const auto& [id, c] : by_id) {
    if (!c->stash_id) continue;
    bool on_branch = std::any_of(c->parent_ids.begin(), c->parent_ids.end(),
                                 [&](const std::string& p) { return ids.contains(p); });
    if (on_branch) ids.insert(id);
  }
  return ids;
}

IdSet user_ids(const CommitsAndRefs& all, const std::string& author) {
  IdSet ids;
  for (const Commit& c : all.commits) {
    if (c.author == author) ids.insert(c.id);
  }
  return ids;
}

IdSet file_ids(const CommitsAndRefs& all, const PatchMap& patches, const std::string& file_name) {
  IdSet ids;
  for (const Commit& c : all.commits) {
    auto found = patches.find(c.id);
    if (found == patches.end()) continue;
    bool touches = std::any_of(found->second.begin(), found->second.end(), [&](const Patch& p) {
      return p.new_file == file_name || p.old_file == file_name;
    });
    if (touches) ids.insert(c.id);
  }
  return ids;
}

std::vector<IdSet> filter_sets(const std::vector<CommitFilter>& filters, const CommitsAndRefs& all,
                               const PatchMap& patches) {
  std::optional<CommitsById> by_id;
  std::vector<IdSet> sets;
  for (const CommitFilter& filter : filters) {
    switch (filter.kind) {
      case CommitFilter::Kind::Branch:
        if (!by_id) by_id = commits_by_id(all.commits);
        sets.push_back(branch_ids(all, *by_id, filter.short_name));
        break;
      case CommitFilter::Kind::User:
        sets.push_back(user_ids(all, filter.author));
        break;
      case CommitFilter::Kind::Commit:
        sets.push_back(IdSet{filter.commit_id});
        break;
      case CommitFilter::Kind::File:
        sets.push_back(file_ids(all, patches, filter.file_name));
        break;
    }
  }
  return sets;
}

std::vector<Commit> kept_commits(const CommitsAndRefs& all, const std::vector<IdSet>& sets) {
  std::vector<Commit> kept;
  uint32_t skipped = 0;
  for (const Commit& c : all.commits) {
    bool passes =
        std::all_of(sets.begin(), sets.end(), [&](const IdSet& ids) { return ids.contains(c.id); });
    if (!passes) {
      ++skipped;
      continue;
    }
    kept.push_back(c);
    kept.back().index = kept.size() - 1;
    kept.back().num_skipped = skipped;
    skipped = 0;
  }
  return kept;
}

}  // namespace

std::vector<RefInfo> ref_list(const std::vector<RefInfo>& decorations,
                              const std::unordered_map<std::string, std::string>& config) {
  std::vector<const RefInfo*> listed;
  for (const RefInfo& ref : decorations) {
    if (ref.full_name.find("HEAD") == std::string::npos) listed.push_back(&ref);
  }
  // Siblings are looked for among the refs as parsed, first match in list order.
  std::unordered_map<std::string_view, const RefInfo*> first_local;
  std::unordered_map<std::string, const RefInfo*> first_remote;
  auto remote_key = [](std::string_view short_name, std::string_view remote) {
    std::string key(short_name);
    key += '\0';  // git allows no NUL in ref names
    key += remote;
    return key;
  };
  for (const RefInfo* ref : listed) {
    if (ref->location == RefLocation::Local) {
      first_local.try_emplace(ref->short_name, ref);
    } else if (ref->remote_name) {
      first_remote.try_emplace(remote_key(ref->short_name, *ref->remote_name), ref);
    }
  }
  std::vector<RefInfo> refs;
  refs.reserve(listed.size());
  for (const RefInfo* ref : listed) {
    RefInfo out = *ref;
    if (!out.remote_name) out.remote_name = get_push_remote(config, out.short_name);
    out.sibling_id.reset();
    const RefInfo* sibling = nullptr;
    if (out.location == RefLocation::Remote) {
      auto found = first_local.find(out.short_name);
      if (found != first_local.end()) sibling = found->second;
    } else {
      auto found = first_remote.find(remote_key(out.short_name, *out.remote_name));
      if (found != first_remote.end()) sibling = found->second;
    }
    if (sibling) out.sibling_id = sibling->id;
    refs.push_back(std::move(out));
  }
  return refs;
}

std::shared_ptr<const CommitsAndRefs> load_history(const HistoryQuery& query) {
  std::shared_ptr<const CommitsAndRefs> all;
  if (query.fast) all = get_cached_commits(query.repo_path);
  if (!all) all = load_fresh(query);
  return all;
}

bool needs_patches(const std::vector<CommitFilter>& filters) {
  return std::any_of(filters.begin(), filters.end(), [](const CommitFilter& filter) {
    return filter.kind == CommitFilter::Kind::File;
  });
}

LoadedCommits filter_history(std::shared_ptr<const CommitsAndRefs> all,
                             const std::vector<CommitFilter>& filters, const PatchMap* patches) {
  if (filters.empty()) return LoadedCommits{std::move(all), std::nullopt};
  static const PatchMap NO_PATCHES;
  auto sets = filter_sets(filters, *all, patches ? *patches : NO_PATCHES);
  auto kept = kept_commits(*all, sets);
  return LoadedCommits{std::move(all), std::move(kept)};
}

}  // namespace brackwen
