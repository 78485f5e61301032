// The changed files of merges and stashes. A merge shows what its second parent brought in
// (`git diff p1...p2`), a stash what it holds over its base (`git diff p..stash`).
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "model/commit.hpp"
#include "model/patch.hpp"

namespace brackwen {

// A special commit's changed files; absent when they are past the caps of patch_parsers.hpp.
using SpecialFiles = std::optional<std::vector<Patch>>;

// Each of `special`'s changed files, in that order; `commits` is the loaded list the merge
// bases are found in. Each list is that of the commit's own `git diff`, byte for byte: where the
// loaded graph cannot name a single merge base, or the repository's configuration makes
// `git diff` list files otherwise than plumbing does, that commit gets its own `git diff`, as
// every one does when they are a handful in a long history.
std::vector<SpecialFiles> load_special_patches(const std::string& repo_path,
                                               const std::vector<Commit>& commits,
                                               const std::vector<const Commit*>& special);

}  // namespace brackwen
