// Merges and stashes in bulk: each is one pair of commits whose trees differ as its `git diff`
// shows, and `git diff-tree --stdin` diffs thousands of pairs in one child where `git diff`
// costs a child (and, for a merge, a merge-base walk) each. The pairs are split among as many
// children as there are cores.
#include "git/queries/patches/special_patches.hpp"

#include <tbb/info.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <optional>
#include <span>
#include <string_view>

#include "git/queries/merge_bases.hpp"
#include "git/queries/patches/patch_parsers.hpp"
#include "git/queries/patches/patches.hpp"
#include "git/reading/request_budget.hpp"
#include "git/revisions.hpp"
#include "stores/threads.hpp"

namespace brackwen {
namespace {

// A line "<commit> <parent>" diffs that commit against that one parent, whatever its own
// parents are; "--always" prints the header of an empty diff too, so records and lines pair
// up. "-r -M" are what `git diff` does by default and diff-tree does not; the settings only
// `git diff` reads are pinned for every read, so both list the same files.
const std::vector<std::string> DIFF_TREE_ARGS = {
    "diff-tree", "--stdin", "-r", "-M", "--always", "--name-status", "-z", "--pretty=format:%H,"};

// With fewer special commits than one per this many loaded ones (a reload that found a merge or
// two in a long history), numbering the whole graph costs more than their own `git diff`s.
constexpr size_t MAX_COMMITS_PER_SPECIAL = 10000;
// Below this many pairs a child of its own costs more than it saves; a batch git fails on is
// halved down to this many.
constexpr size_t MIN_PAIRS_PER_CHILD = 64;
// Keeps a child's arguments far below the kernel's limit.
constexpr size_t MAX_PAIRS_PER_CHILD = 4096;

// Each special commit's files once read.
using Found = std::vector<std::optional<SpecialFiles>>;

// "diff `parent` → `commit`" answers special commit `slot`.
struct TreePair {
  size_t slot;
  std::string_view commit;
  std::string_view parent;
};

std::optional<MergeBaseGraph> loaded_graph(const std::vector<Commit>& commits) {
  // A stash entry keeps only its first parent, so the graph is the log's commits alone.
  CommitsById log_commits;
  log_commits.reserve(commits.size());
  for (const Commit& c : commits) {
    if (!c.stash_id) log_commits.insert_or_assign(std::string_view(c.id), &c);
  }
  return merge_base_graph(log_commits);
}

std::optional<TreePair> pair_of(size_t slot, std::string_view commit, std::string_view parent) {
  if (!is_object_id(commit) || !is_object_id(parent)) return std::nullopt;
  return TreePair{slot, commit, parent};
}

// The pairs of the special commits that have one; a merge whose parents have no merge base
// is answered here, with no files, as its failing `git diff` is.
std::vector<TreePair> tree_pairs(const std::vector<Commit>& commits,
                                 const std::vector<const Commit*>& special, Found& found) {
  std::vector<TreePair> pairs;
  std::optional<MergeBaseGraph> graph;
  MergeBaseWalk walk;
  for (size_t slot = 0; slot < special.size(); ++slot) {
    const Commit& c = *special[slot];
    std::optional<TreePair> pair;
    if (!c.is_merge) {
      if (!c.parent_ids.empty()) pair = pair_of(slot, c.id, c.parent_ids[0]);
    } else if (c.parent_ids.size() >= 2) {
      if (!graph) graph = loaded_graph(commits);
      if (!graph) return pairs;
      MergeBase base = merge_base(*graph, c.parent_ids[0], c.parent_ids[1], walk);
      if (base.kind == MergeBaseKind::None) found[slot].emplace(std::vector<Patch>{});
      if (base.kind == MergeBaseKind::One) pair = pair_of(slot, c.parent_ids[1], base.id);
    }
    if (pair) pairs.push_back(*pair);
  }
  return pairs;
}

void diff_pairs(const std::string& repo_path, std::span<const TreePair> pairs,
                const std::vector<const Commit*>& special, Found& found) {
  std::string input;
  for (const TreePair& p : pairs) input.append(p.commit).append(" ").append(p.parent) += '\n';
  PatchStream stream;
  std::optional<int> status = read_patches(repo_path, DIFF_TREE_ARGS, stream, input);
  if (status && *status != 0 && pairs.size() > MIN_PAIRS_PER_CHILD) {
    // git stops at a pair whose trees it cannot read: the half without it is read whole, and
    // only the last few pairs are left to their own `git diff`.
    size_t half = pairs.size() / 2;
    diff_pairs(repo_path, pairs.first(half), special, found);
    diff_pairs(repo_path, pairs.subspan(half), special, found);
    return;
  }
  if (status != 0 || !finish_patches(stream)) return;
  std::vector<CommitPatches>& records = stream.records;
  if (records.size() != pairs.size()) return;
  for (size_t i = 0; i < pairs.size(); ++i) {
    if (records[i].first != pairs[i].commit) return;
  }
  for (size_t i = 0; i < pairs.size(); ++i) {
    // Two merges may share a second parent: a record with files was not the refused one.
    bool refused =
        records[i].second.empty() && std::ranges::count(stream.refused, records[i].first);
    const std::string& id = special[pairs[i].slot]->id;
    if (refused) {
      report_refused(id);
      found[pairs[i].slot].emplace(std::nullopt);
      continue;
    }
    for (Patch& patch : records[i].second) patch.commit_id = id;
    found[pairs[i].slot] = std::move(records[i].second);
  }
}

void diff_all_pairs(const std::string& repo_path, const std::vector<TreePair>& pairs,
                    const std::vector<const Commit*>& special, Found& found) {
  if (pairs.empty()) return;
  size_t cores = static_cast<size_t>(std::max(1, tbb::info::default_concurrency()));
  size_t children =
      std::clamp((pairs.size() + MIN_PAIRS_PER_CHILD - 1) / MIN_PAIRS_PER_CHILD, size_t{1}, cores);
  children = std::max(children, (pairs.size() + MAX_PAIRS_PER_CHILD - 1) / MAX_PAIRS_PER_CHILD);
  size_t per_child = (pairs.size() + children - 1) / children;
  std::shared_ptr<RequestBudget> request = current_request_budget();
  tbb::parallel_for(size_t{0}, children, [&](size_t child) {
    RequestBudgetScope carried(request);
    size_t begin = std::min(pairs.size(), child * per_child);
    size_t end = std::min(pairs.size(), begin + per_child);
    // A failure leaves its commits to their own `git diff` below.
    run_reported("Loading the changed files of merges", [&] {
      diff_pairs(repo_path, std::span(pairs).subspan(begin, end - begin), special, found);
    });
  });
}

// A merge shows what its second parent brought in; a stash what it holds over its base.
std::optional<GitArgs> special_commit_args(const Commit& c) {
  std::optional<std::string> range;
  if (c.is_merge) {
    if (c.parent_ids.size() < 2) return std::nullopt;
    range = revision_range(c.parent_ids[0], "...", c.parent_ids[1]);
  } else if (!c.parent_ids.empty()) {
    range = revision_range(c.parent_ids[0], "..", c.id);
  }
  if (!range) return std::nullopt;
  return revision_args({"diff", "--name-status", "-z"}, {*range});
}

// The commit's own `git diff`: no files when it cannot be run, fails (as where the parents
// have no merge base) or does not read.
SpecialFiles load_special(const std::string& repo_path, const Commit& c) {
  auto args = special_commit_args(c);
  if (!args) return std::vector<Patch>{};
  PatchStream stream(c.id);
  if (read_patches(repo_path, *args, stream) != 0 || !finish_patches(stream)) {
    return std::vector<Patch>{};
  }
  if (!stream.refused.empty()) {
    report_refused(c.id);
    return std::nullopt;
  }
  return std::move(stream.records.front().second);
}

void load_one_by_one(const std::string& repo_path, const std::vector<const Commit*>& special,
                     Found& found) {
  std::vector<size_t> open;
  for (size_t slot = 0; slot < special.size(); ++slot) {
    if (!found[slot]) open.push_back(slot);
  }
  std::shared_ptr<RequestBudget> request = current_request_budget();
  tbb::parallel_for(size_t{0}, open.size(), [&](size_t i) {
    RequestBudgetScope carried(request);
    // A failure is tried again below, on this thread, where what it throws passes on.
    run_reported("Loading the changed files of a merge",
                 [&] { found[open[i]] = load_special(repo_path, *special[open[i]]); });
  });
  for (size_t slot : open) {
    if (!found[slot]) found[slot] = load_special(repo_path, *special[slot]);
  }
}

}  // namespace

std::vector<SpecialFiles> load_special_patches(const std::string& repo_path,
                                               const std::vector<Commit>& commits,
                                               const std::vector<const Commit*>& special) {
  Found found(special.size());
  bool many = special.size() * MAX_COMMITS_PER_SPECIAL >= commits.size();
  if (!special.empty() && many) {
    diff_all_pairs(repo_path, tree_pairs(commits, special, found), special, found);
  }
  load_one_by_one(repo_path, special, found);
  std::vector<SpecialFiles> patches;
  patches.reserve(special.size());
  for (auto& files : found) patches.push_back(std::move(*files));
  return patches;
}

}  // namespace brackwen
