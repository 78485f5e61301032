// The diff hunks of one changed file of one commit: the git command line, the grammar of
// its unified diff, and the query that runs the two.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/commit.hpp"
#include "model/hunk.hpp"
#include "model/patch.hpp"

namespace brackwen {

inline constexpr std::string_view empty_tree_id = "4b825dc642cb6eb9a060e54bf8d69288fbee4904";

// "diff", the range, "--", the old path (and the new path of a rename) as literal pathspecs,
// the range after "--end-of-options". Absent for a merge
// with fewer than two parents, and for a commit or parent id that is empty or would read
// as an option.
std::optional<std::vector<std::string>> hunk_diff_args(const Commit& commit, const Patch& patch);

// The hunks of the whole output of one `git diff` of one file; absent (with the failure
// report) when the grammar does not reach the end of the text.
std::optional<std::vector<Hunk>> diff_hunks(std::string_view text);

// Runs the diff in the repository; absent when there are no arguments, git prints nothing
// or its output does not parse.
std::optional<std::vector<Hunk>> load_hunks(const std::string& repo_path, const Commit& commit,
                                            const Patch& patch);

}  // namespace brackwen
