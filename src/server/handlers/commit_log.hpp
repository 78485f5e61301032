// The commit log endpoints: the history view's list with its refs, the head commit and the
// newest commit of a ref.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "server/reply.hpp"

namespace brackwen {

// [[Commit...],[RefInfo...]] or null.
std::optional<Reply> handle_load_commits_and_refs(std::string_view body);

// The commit with its refs written whole, or null.
std::optional<Reply> handle_load_head_commit(std::string_view body);
std::optional<Reply> handle_load_top_commit_for_branch(std::string_view body);

}  // namespace brackwen
