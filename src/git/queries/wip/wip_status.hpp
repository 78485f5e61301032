// The changed files of the working copy, from `git status --porcelain -uall -z`.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/patch.hpp"

namespace brackwen {

// The records of a whole status output: only the conflicted ones while any conflict exists,
// else all of them ordered by lower-cased new path. Absent for an empty output or one the
// grammar does not read to its end (the failure report then goes to standard error).
std::optional<std::vector<WipPatch>> wip_patches_from_status(std::string_view status);

// Runs git's status in the repository; absent when git cannot run or prints nothing.
std::optional<std::vector<WipPatch>> load_wip_patches(const std::string& repo_path);

}  // namespace brackwen
