// The installed git's version, read once at start-up and again on request.
#pragma once
#include <optional>
#include <string_view>

#include "model/git_version.hpp"

namespace brackwen {

// Runs `git --version` and stores what it finds; keeps the old value when nothing is found.
void load_git_version();

// A copy of the stored version (0.0.0 before any load); absent when the store is poisoned.
std::optional<GitVersion> get_git_version();

// Whether the installed git is `version` or later. A version not read yet counts as new: git
// is read at start-up, and only a git too old to print its version would fail the guess.
bool git_is_at_least(const GitVersion& version);

// The version in the text `git --version` prints; absent when it begins with a digit.
std::optional<GitVersion> parse_git_version(std::string_view output);

}  // namespace brackwen
