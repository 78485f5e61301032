// The changed files of commits in three layers: memory, one JSON file per repository in the
// per-user caches directory, git. Both caches always hold the map of the last call that had
// something to load.
#pragma once
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/commit.hpp"
#include "model/patch.hpp"
#include "server/window_loads.hpp"

namespace brackwen {

// The disk cache file's name, one for each repository path: the path's components run together
// without separators, with every "/", ":" and "\" dropped (the last 128 bytes of that when
// longer), then "-", the first 16 digits of the id git gives the path's bytes as a blob (what
// `printf %s PATH | git hash-object --stdin` prints), and ".json": /work/app gives
// workapp-767e7fe47bf5c684.json, and /w/ab/c and /w/a/bc get names of their own. Absent when
// the hash cannot be made. The file holds a JSON object whose keys are commit ids, each followed
// by the ids of the parents its files were read against (a space before each), and whose values
// are the commits' Patch lists.
std::optional<std::string> patches_cache_file_name(std::string_view repo_path);

// The disk cache file of a repository; absent when there is no per-user caches directory (or
// no name).
std::optional<std::filesystem::path> patches_cache_file(std::string_view repo_path);

// The changed files of `commits` (normally the whole cached commit list), in git's order per
// commit: an entry for every one of them whose files were found, and none for any other
// commit, nor for one whose diff is past the caps of patch_parsers.hpp or that git cannot list
// (its files are never cached, and it is not read again while the memory cache knows it). A
// commit's kept files answer only while the log lists the parents they were read against; when
// the parents change, the commit is read again. When the memory cache holds
// exactly these commits the map is its own, shared: reading it never copies the lists. The
// background loads asked for before are waited for: the map is never one they left partial.
std::shared_ptr<const PatchMap> load_patches(const std::string& repo_path,
                                             const std::vector<Commit>& commits);

// The changed files of one commit of the loaded `history` (byte for byte what load_patches
// gives it), and the rest of the history loaded after the reply, as load_patches would have
// loaded it (window_loads.hpp). Unless the caches know every commit, the commit is read by its
// own git run, its own `git show` or `git diff`, so that its reply costs about what it costs.
// Absent when the commit is not in the history or has no files load_patches would give.
std::optional<std::vector<Patch>> patches_of_commit(
    const std::string& repo_path, const std::shared_ptr<const CommitsAndRefs>& history,
    const std::string& commit_id);

// The background load of a history's changed files: load_patches, with the commits read alone
// taken as loaded.
void load_window(const WindowLoad& load);

// Drops the finished diff searches and deletes the disk cache; the memory cache stays.
void clear_all_caches();

}  // namespace brackwen
