// Head info, ref-by-head counts and the unpushed-commit walk over the cached commit graph.
#include "git/queries/refs/head_info.hpp"

#include <tbb/parallel_for.h>

#include <algorithm>
#include <utility>

#include "git/queries/commits.hpp"
#include "stores/stores.hpp"
#include "stores/threads.hpp"

namespace brackwen {
namespace {

constexpr std::string_view REMOTES_PREFIX = "refs/remotes/";

const RefInfo* first_head_ref(const std::vector<RefInfo>& refs) {
  auto found = std::find_if(refs.begin(), refs.end(), [](const RefInfo& r) { return r.head; });
  return found == refs.end() ? nullptr : &*found;
}

HeadInfo with_remote(HeadInfo info, RemoteCounterpart remote) {
  info.remote_ref = std::move(remote.ref);
  info.remote_commit = std::move(remote.commit);
  info.remote_ahead = remote.counts.ahead;
  info.remote_behind = remote.counts.behind;
  return info;
}

// The head as the cached refs and commits know it; absent when the cache has no head ref or
// not its commit.
std::optional<HeadInfo> cached_head_info(const std::string& repo_path, const CommitsAndRefs& all) {
  const RefInfo* head = first_head_ref(all.refs);
  if (!head) return std::nullopt;
  CommitsById commits = commits_by_id(all.commits);
  auto commit = commits.find(head->commit_id);
  if (commit == commits.end()) return std::nullopt;
  HeadInfo info{*head, *commit->second, std::nullopt, std::nullopt, 0, 0};

  RefsById refs = refs_by_id(all.refs);
  auto sibling = head->sibling_id ? refs.find(*head->sibling_id) : refs.end();
  if (sibling != refs.end()) {
    const RefInfo& remote = *sibling->second;
    info.remote_ref = remote;
    auto remote_commit = commits.find(remote.commit_id);
    if (remote_commit != commits.end()) info.remote_commit = *remote_commit->second;
    // Only the sibling's pair of counts matters here, so only it is counted.
    AheadBehind counts = calc_ref_diff_counts(remote.commit_id, head->commit_id, commits);
    info.remote_ahead = counts.ahead;
    info.remote_behind = counts.behind;
    return info;
  }
  RefInfo local = *head;
  std::optional<RemoteCounterpart> remote = calc_remote_ahead_behind(repo_path, local);
  if (!remote) return info;
  info.ref = std::move(local);
  return with_remote(std::move(info), std::move(*remote));
}

}  // namespace

RefsById refs_by_id(const std::vector<RefInfo>& refs) {
  RefsById map;
  map.reserve(refs.size());
  for (const RefInfo& ref : refs) map.insert_or_assign(std::string_view(ref.id), &ref);
  return map;
}

std::optional<HeadInfo> calc_head_info(const std::string& repo_path) {
  std::shared_ptr<const CommitsAndRefs> all = get_cached_commits(repo_path);
  if (!all || all->commits.empty()) return std::nullopt;
  if (auto info = cached_head_info(repo_path, *all)) return info;

  std::optional<ParsedCommit> parsed = load_head_commit(repo_path);
  if (!parsed) return std::nullopt;
  auto head = std::find_if(parsed->refs.begin(), parsed->refs.end(),
                           [](const RefInfo& r) { return r.head; });
  if (head == parsed->refs.end()) return std::nullopt;
  RefInfo local = *head;
  std::optional<RemoteCounterpart> remote = calc_remote_ahead_behind(repo_path, local);
  if (!remote) return std::nullopt;
  HeadInfo info{
      std::move(local), commit_from_parsed(std::move(*parsed)), std::nullopt, std::nullopt, 0, 0};
  return with_remote(std::move(info), std::move(*remote));
}

std::optional<RemoteCounterpart> calc_remote_ahead_behind(const std::string& repo_path,
                                                          RefInfo& local) {
  std::optional<RepoConfig> config = get_cached_config(repo_path);
  std::string remote = get_push_remote(config ? config->entries : TextMap{}, local.short_name);
  std::string name = std::string(REMOTES_PREFIX) + remote + "/" + local.short_name;
  std::optional<ParsedCommit> parsed = load_top_commit_for_branch(repo_path, name);
  if (!parsed) return std::nullopt;
  auto found = std::find_if(parsed->refs.begin(), parsed->refs.end(), [&](const RefInfo& r) {
    return r.short_name == local.short_name && r.location == RefLocation::Remote;
  });
  if (found == parsed->refs.end()) return std::nullopt;
  RefInfo remote_ref = *found;
  local.sibling_id = remote_ref.id;
  remote_ref.sibling_id = local.id;
  uint32_t ahead = count_commits_in_range(repo_path, local.full_name, remote_ref.full_name);
  uint32_t behind = count_commits_in_range(repo_path, remote_ref.full_name, local.full_name);
  return RemoteCounterpart{std::move(remote_ref), commit_from_parsed(std::move(*parsed)),
                           AheadBehind{ahead, behind}};
}

std::optional<std::unordered_set<std::string>> get_commits_on_current_branch(
    const std::string& repo_path) {
  std::optional<HeadInfo> info = calc_head_info(repo_path);
  if (!info) return std::nullopt;
  std::shared_ptr<const CommitsAndRefs> all = get_cached_commits(repo_path);
  if (!all) return std::nullopt;
  CommitsById commits = commits_by_id(all->commits);
  std::unordered_set<std::string> ids;
  auto add_line = [&](const Commit& tip) {
    for (std::string_view id : reachable_commit_ids(tip, commits)) ids.emplace(id);
    ids.insert(tip.id);
  };
  if (info->remote_commit) add_line(*info->remote_commit);
  add_line(info->commit);
  return ids;
}

HeadDiffs head_diffs(std::string_view head_commit_id, const RefsById& refs,
                     const AncestryCounter& counter) {
  std::vector<const RefInfo*> listed;
  listed.reserve(refs.size());
  for (const auto& entry : refs) listed.push_back(entry.second);
  std::vector<AheadBehind> counts(listed.size());
  tbb::parallel_for(size_t{0}, listed.size(), [&](size_t i) {
    // A failed count (out of memory) leaves that ref at zero rather than leave the worker.
    run_reported("Counting a ref's commits ahead and behind HEAD",
                 [&] { counts[i] = counter.counts(listed[i]->commit_id, head_commit_id); });
  });
  HeadDiffs diffs;
  diffs.reserve(listed.size());
  for (size_t i = 0; i < listed.size(); ++i) {
    diffs.insert_or_assign(listed[i]->id, counts[i]);
  }
  return diffs;
}

uint32_t calc_ref_diff_count(std::string_view a, std::string_view b, const CommitsById& commits) {
  return calc_ref_diff_counts(a, b, commits).ahead;
}

AheadBehind calc_ref_diff_counts(std::string_view a, std::string_view b,
                                 const CommitsById& commits) {
  return AncestryCounter(commits).counts(a, b);
}

void walk_commit_graph(const Commit& start, std::string_view stop_id, const CommitsById& commits,
                       const RefsById& refs, const CommitIdSet& wanted, CommitIdSet& visited,
                       std::vector<std::string>& out) {
  auto on_remote_branch = [&](const Commit& commit) {
    return std::any_of(commit.refs.begin(), commit.refs.end(), [&](const std::string& id) {
      auto ref = refs.find(id);
      return ref != refs.end() && ref->second->ref_type == RefType::Branch &&
             ref->second->location == RefLocation::Remote;
    });
  };
  // Parents go on the stack last one first, and a commit is checked when it is taken off, so
  // the order is that of the recursive pre-order: the first parent's whole history comes
  // before the second parent is looked at.
  std::vector<const Commit*> stack{&start};
  while (!stack.empty()) {
    const Commit& commit = *stack.back();
    stack.pop_back();
    if (!visited.insert(commit.id).second) continue;
    if (commit.id == stop_id || on_remote_branch(commit)) continue;
    if (wanted.contains(commit.id)) out.push_back(commit.id);
    for (auto parent = commit.parent_ids.rbegin(); parent != commit.parent_ids.rend(); ++parent) {
      auto found = commits.find(*parent);
      if (found != commits.end()) stack.push_back(found->second);
    }
  }
}

}  // namespace brackwen
