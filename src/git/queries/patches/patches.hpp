// The changed files of commits: from git, kept in memory (PATCHES_CACHE). The disk cache,
// which keeps them as JSON between runs, is the server's (src/server/changed_files).
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "git/queries/patches/patch_parsers.hpp"
#include "model/commit.hpp"
#include "model/patch.hpp"
#include "stores/stores.hpp"

namespace brackwen {

// The memory cache's entry when it holds this repository's changed files (or knows some of its
// commits to be past the caps of patch_parsers.hpp).
std::optional<PatchesCacheEntry> memory_cached_patches(const std::string& repo_path);

// A digest of a commit's parent ids, for the memory cache to tell whether the parents the log
// lists are those a commit's files were read against; it holds within one run of the server.
uint64_t parents_digest(const std::vector<std::string>& parent_ids);

// Makes `entry` the memory cache's.
void store_patches(PatchesCacheEntry entry);

// The changed files of `commits` when `cached` knows every one against the parents it lists
// (its files, or that they are refused, which leaves it out): `cached`'s map itself when it holds
// no other commit's, else a map of theirs alone. Null when one is unknown. With
// `parents_checked` (`commits` are a loaded history `cached` was checked against) the parents
// are not looked at again.
std::shared_ptr<const PatchMap> cached_patches_of(const PatchesCacheEntry& cached,
                                                  const std::vector<Commit>& commits,
                                                  bool parents_checked);

// When some of `commits` are unknown to `cached` (or were read against other parents): an entry
// for the repository with every commit's changed files and no other commit's, the unknown ones
// taken from `read_alone` where it answers for them against the parents listed now, the rest
// loaded from git (up to 20 named on one `git show`, more through one `git log`; merges and
// stashes as special_patches.hpp says, alongside), the others taken from `cached`, and the
// commits past the caps that any of them knows. When git fails on a commit it cannot read, the
// commits it left unanswered are shown again by halves, down to those it cannot list alone,
// which are refused with a line each. Absent when nothing is unknown to `cached`, or
// when the request holds more than a reply may (HeldBytes): the copies of the lists `cached`
// keeps count with what git prints.
std::optional<PatchesCacheEntry> load_missing_patches(
    const std::string& repo_path, const std::vector<Commit>& commits,
    const PatchesCacheEntry* cached, std::span<const PatchesCacheEntry> read_alone = {});

// An entry for `commit` alone, read by the git run that would read it among `commits` (the
// loaded list, in which a merge's base is looked for): `git show` of an ordinary commit, a
// merge's or a stash's as special_patches.hpp says. Its files, or its refusal; neither when git
// does not answer for it. The work runs on this thread and the tasks it starts, never on another
// load's. Without `tell_refusals` a refusal writes no line: a load under way reads it too.
PatchesCacheEntry load_commit_patches(const std::string& repo_path,
                                      const std::vector<Commit>& commits, const Commit& commit,
                                      bool tell_refusals);

// What `entry` keeps of `commit` when it read it against the parents the log lists now.
const KeptCommit* kept_commit(const PatchesCacheEntry& entry, const Commit& commit);

// Git's name-status output for `args` (`input` on its standard input) read into `stream` as it
// comes; git's exit status. Absent when git could not run or was ended by a limit. What a git
// that exits non-zero printed is no answer either: it stops at what it cannot read.
std::optional<int> read_patches(const std::string& repo_path, const std::vector<std::string>& args,
                                PatchStream& stream, std::string_view input = {});

}  // namespace brackwen
