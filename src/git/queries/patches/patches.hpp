// The changed files of commits: from git, kept in memory (PATCHES_CACHE). The disk cache,
// which keeps them as JSON between runs, is the server's (src/server/changed_files).
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "model/commit.hpp"
#include "model/patch.hpp"

namespace brackwen {

// The memory cache's map when it holds this repository's, and is not empty.
std::shared_ptr<const PatchMap> memory_cached_patches(const std::string& repo_path);

// Makes `patches` the memory cache's map, for `repo_path`.
void store_patches(const std::string& repo_path, std::shared_ptr<const PatchMap> patches);

// The changed files of `commits` when `cached` holds every one's: `cached` itself when it holds
// no other commit's, else a map of theirs alone. Null when one is missing.
std::shared_ptr<const PatchMap> cached_patches_of(std::shared_ptr<const PatchMap> cached,
                                                  const std::vector<Commit>& commits);

// When some of `commits` are not in `cached`: a new map of every commit's changed files, and of
// no other commit's, the missing ones loaded from git (up to 20 named on one `git show`, more
// through one `git log`; merges and stashes as special_patches.hpp says, alongside), the others
// taken from `cached`. Null when nothing is missing.
std::shared_ptr<PatchMap> load_missing_patches(const std::string& repo_path,
                                               const std::vector<Commit>& commits,
                                               const PatchMap* cached);

}  // namespace brackwen
