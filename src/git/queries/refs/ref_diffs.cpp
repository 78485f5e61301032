// Per-branch counts against the push remote and the head, spread over oneTBB's workers.
#include "git/queries/refs/ref_diffs.hpp"

#include <tbb/parallel_for.h>

#include "stores/threads.hpp"

namespace brackwen {
namespace {

RefDiff count_pair(const BranchPair& pair, std::string_view head_commit_id,
                   const AncestryCounter& counter) {
  RefDiff diff;
  AheadBehind head = counter.counts(pair.local->commit_id, head_commit_id);
  diff.ahead_of_head = head.ahead;
  diff.behind_head = head.behind;
  if (!pair.remote) return diff;
  AheadBehind remote = counter.counts(pair.local->commit_id, pair.remote->commit_id);
  diff.ahead_of_remote = remote.ahead;
  diff.behind_remote = remote.behind;
  return diff;
}

}  // namespace

std::vector<BranchPair> branch_push_remote_pairs(const TextMap& config_entries,
                                                 const RefsById& refs) {
  std::vector<BranchPair> pairs;
  for (const auto& [id, ref] : refs) {
    if (ref->location == RefLocation::Remote) continue;
    BranchPair pair{ref, nullptr};
    auto sibling = ref->sibling_id ? refs.find(*ref->sibling_id) : refs.end();
    if (sibling != refs.end() &&
        sibling->second->remote_name == get_push_remote(config_entries, ref->short_name)) {
      pair.remote = sibling->second;
    }
    pairs.push_back(pair);
  }
  return pairs;
}

std::optional<std::pair<RefDiffs, HeadDiffs>> calc_ref_diffs(const std::string& repo_path,
                                                             std::string_view head_commit_id) {
  std::shared_ptr<const CommitsAndRefs> all = get_cached_commits(repo_path);
  if (!all) return std::nullopt;
  std::optional<RepoConfig> config = get_cached_config(repo_path);
  RefsById refs = refs_by_id(all->refs);
  std::vector<BranchPair> pairs =
      branch_push_remote_pairs(config ? config->entries : TextMap{}, refs);
  CommitsById commits = commits_by_id(all->commits);
  AncestryCounter counter(commits, head_commit_id);

  std::vector<RefDiff> counted(pairs.size());
  tbb::parallel_for(size_t{0}, pairs.size(), [&](size_t i) {
    // A failed count (out of memory) leaves that branch at zero rather than leave the worker.
    run_reported("Counting a branch's commits ahead and behind its remote",
                 [&] { counted[i] = count_pair(pairs[i], head_commit_id, counter); });
  });
  RefDiffs by_branch;
  by_branch.reserve(pairs.size());
  for (size_t i = 0; i < pairs.size(); ++i)
    by_branch.insert_or_assign(pairs[i].local->id, counted[i]);
  return std::pair{std::move(by_branch), head_diffs(head_commit_id, refs, counter)};
}

}  // namespace brackwen
