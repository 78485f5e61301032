// The background search through history's diffs: the commits whose changes add or remove a
// text (git's pickaxe, "log -S"), with the matching lines of each changed file.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "git/queries/hunks/load_hunks.hpp"
#include "model/commit.hpp"
#include "model/hunk.hpp"
#include "model/patch.hpp"
#include "stores/stores.hpp"

namespace brackwen {

// The log of the commits whose diffs change the text's number of occurrences, each with its
// matching files, NUL-separated.
std::vector<std::string> diff_search_args(const std::string& search_text, uint64_t num_results,
                                          uint64_t start_commit_index);

// Hands out the next search id, records the search as running and starts it on a detached
// thread. Every search still waiting for its git then kills it and ends without results.
uint32_t start_diff_search(const std::string& repo_path, const std::string& search_text,
                           uint64_t num_results, uint64_t start_commit_index);

// The search thread's body; ends by marking the search complete in DIFF_SEARCHES, with no
// results when git fails or is superseded, its output does not read, the repository was never
// loaded, or it throws (the exception then passes on).
void run_diff_search(uint32_t search_id, const std::string& repo_path,
                     const std::string& search_text, uint64_t num_results,
                     uint64_t start_commit_index);

// One PatchMatch per changed file whose diff reads, also when no line matches.
std::vector<PatchMatch> search_patch_lines(const Commit& commit, const std::vector<Patch>& patches,
                                           const std::string& repo_path,
                                           const std::string& search_text);

// The added and removed lines that hold the text, byte for byte, in diff order; only those
// are copied out of the diff's text. It stops short once the request holds more than a reply
// may (HeldBytes), which fails the search.
std::vector<HunkLine> filter_patches_by_text(const FileDiff& diff, std::string_view search_text);

}  // namespace brackwen
