// The starters of the front end's long git operations: each picks its git commands, prepares
// the directory where it needs one, and starts the commands as one action.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "git/git_version.hpp"
#include "git/run_git_action.hpp"
#include "model/action.hpp"

namespace brackwen {

// Each returns the action's id, or 0 when it started nothing: the directory could not be made,
// or a text that git would read as an option was given where git expects a URL or a revision.
ActionId clone_repo(const std::string& repo_path, const std::string& url);
ActionId create_repo(const std::string& repo_path);
ActionId fetch_all(const std::string& repo_path);
ActionId start_command(const std::string& repo_path, GitCommand args);
ActionId start_commands(const std::string& repo_path, std::vector<GitCommand> commands);
ActionId stash_changes(const std::string& repo_path);
ActionId stash_staged(const std::string& repo_path, const std::string& head_commit_id);

// "--recurse-submodules" from git 2.13 on (each part compared by itself), else "--recursive".
std::string_view submodule_flag(const std::optional<GitVersion>& version);

inline constexpr std::string_view TEMP_COMMIT_MESSAGE =
    "TEMP_COMMIT: If you are seeing this commit there has been an error while stashing.";

}  // namespace brackwen
