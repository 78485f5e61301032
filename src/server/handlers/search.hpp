// Endpoints over the cached history: a commit's changed files and the commit search.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "server/reply.hpp"

namespace brackwen {

// "/f/load_patches_for_commit": ReqPatchesForCommitOpts -> list of Patch, or null.
std::optional<Reply> handle_load_patches_for_commit(std::string_view body);

// "/f/search_commits": SearchOptions -> list of CommitSearchResult, or null.
std::optional<Reply> handle_search_commits(std::string_view body);

}  // namespace brackwen
