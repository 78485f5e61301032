// The environment every later git inherits: the login that the ask-pass program hands to git,
// and the home directory git reads its user configuration from.
#pragma once
#include <filesystem>
#include <optional>
#include <string>

namespace brackwen {

// Sets BRACKWEN_USERNAME, BRACKWEN_PASSWORD and GIT_ASKPASS (the ask-pass program beside the
// executable's directory). False when a value holds NUL (then nothing is set) or when the
// ask-pass path is not UTF-8 (then GIT_ASKPASS is left as it was).
bool set_credentials(const std::string& username, const std::string& password);

// <exe dir>/../ask-pass/ask-pass; absent when the executable has no grandparent directory.
std::optional<std::filesystem::path> ask_pass_path(const std::filesystem::path& executable);

// Sets HOME; false (nothing set) when the text holds NUL.
bool override_git_home(const std::string& home);

}  // namespace brackwen
