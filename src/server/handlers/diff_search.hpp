// "/f/start_diff_search", "/f/poll_diff_search" and "/f/clear_cache": the background diff
// search's id, its state, and dropping the finished ones.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "model/search_results.hpp"
#include "server/reply.hpp"

namespace brackwen {

// The search's state once complete; {id, false, null} while it runs or when it is unknown.
DiffSearchPoll poll_diff_search(uint32_t search_id);

std::optional<Reply> handle_start_diff_search(std::string_view body);
std::optional<Reply> handle_poll_diff_search(std::string_view body);
std::optional<Reply> handle_clear_cache(std::string_view body);

}  // namespace brackwen
