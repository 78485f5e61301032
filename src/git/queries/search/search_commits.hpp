// Case-insensitive search over a repository's loaded history: ids, messages, authors, e-mail
// addresses, changed paths and ref names.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/commit.hpp"
#include "model/patch.hpp"
#include "model/search_results.hpp"

namespace brackwen {

// The patches whose lower-cased old or new path contains `lower_text`, in list order.
std::vector<Patch> filter_by_search_text(std::string_view lower_text,
                                         const std::vector<Patch>& patches);

// The cached commits, in cached order, that match `search_text` (lower-cased here) in any
// way. The scan stops once there are more than `num_results` results, so at most
// `num_results` + 1 are returned.
std::vector<CommitSearchResult> search_commits(const CommitsAndRefs& history,
                                               const PatchMap& patches,
                                               std::string_view search_text, uint64_t num_results);

}  // namespace brackwen
