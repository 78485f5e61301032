// The history view's query: the commit log of all refs with the stashes merged in by date,
// the refs with their remote names and siblings, cached per repository, then filtered.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/commit.hpp"
#include "model/commit_filter.hpp"
#include "model/patch.hpp"

namespace brackwen {

// What a load returns: the snapshot it cached (or found) and, when filters were given, the
// commits that passed. Without filters every commit passes with its index as cached and
// nothing skipped, which is exactly the snapshot, so it is handed out without a copy.
struct LoadedCommits {
  std::shared_ptr<const CommitsAndRefs> all;
  std::optional<std::vector<Commit>> kept;

  const std::vector<Commit>& commits() const { return kept ? *kept : all->commits; }
  const std::vector<RefInfo>& refs() const { return all->refs; }
};

// The repository's history: with `fast` the cached one when there is one, else loaded (and
// cached). Null when the commit log cannot be loaded (git fails, prints nothing as in an
// empty repository, or prints what the grammar cannot read) or a loader fails.
std::shared_ptr<const CommitsAndRefs> load_history(const HistoryQuery& query);

// Whether the filters need every commit's changed files: a File filter does.
bool needs_patches(const std::vector<CommitFilter>& filters);

// The commits that pass every filter; `patches` holds the changed files a File filter looks
// at (none pass it without them).
LoadedCommits filter_history(std::shared_ptr<const CommitsAndRefs> all,
                             const std::vector<CommitFilter>& filters, const PatchMap* patches);

// The ref list from every decoration of the list, in order: no names containing "HEAD", each
// with its remote name filled in and its sibling (local branch <-> remote-tracking branch).
std::vector<RefInfo> ref_list(const std::vector<RefInfo>& decorations,
                              const std::unordered_map<std::string, std::string>& config);

}  // namespace brackwen
