// Whether a merge or a rebase is under way, from the marker files git keeps in ".git" (or, in
// a linked worktree or a submodule, in the directory its ".git" file names).
#pragma once
#include <optional>
#include <string>

namespace brackwen {

// The text of .git/MERGE_HEAD without the white space around it (the commit ids being
// merged, one per line); absent when the file cannot be read or is not UTF-8.
std::optional<std::string> merge_in_progress(const std::string& repo_path);

// Whether .git/rebase-merge exists, whatever it is. Only the interactive/merge backend's
// directory is looked at.
bool rebase_in_progress(const std::string& repo_path);

}  // namespace brackwen
