// "/f/git_version": the installed git's version, read again while it is still unknown.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "git/git_version.hpp"
#include "server/reply.hpp"

namespace brackwen {

// The stored version; when its major is 0, git is asked once more. Nothing when the store
// cannot be read or git still gives no usable version.
std::optional<GitVersion> current_git_version();

std::optional<Reply> handle_git_version(std::string_view body);

}  // namespace brackwen
