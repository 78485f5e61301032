// Diff search endpoints: start a search thread, poll its state, clear finished searches.
#include "server/handlers/diff_search.hpp"

#include "git/queries/diff_search.hpp"
#include "server/endpoint_shell.hpp"
#include "stores/diff_searches.hpp"

namespace brackwen {

DiffSearchPoll poll_diff_search(uint32_t search_id) {
  // Only the asked entry is copied, not every search's results.
  auto found = DIFF_SEARCHES().read([&](const DiffSearches& all) -> std::optional<DiffSearchPoll> {
    auto entry = all.find(search_id);
    if (entry == all.end() || !entry->second.complete) return std::nullopt;
    return DiffSearchPoll{search_id, true, entry->second.results};
  });
  if (found && *found) return **found;
  return DiffSearchPoll{search_id, false, std::nullopt};
}

std::optional<Reply> handle_start_diff_search(std::string_view body) {
  return with_record<CodeSearchOpts>(body, [](const CodeSearchOpts& r) {
    return start_diff_search(r.repo_path, r.search_text, r.num_results, r.start_commit_index);
  });
}

std::optional<Reply> handle_poll_diff_search(std::string_view body) {
  return with_record<PollSearchOpts>(
      body, [](const PollSearchOpts& r) { return poll_diff_search(r.search_id); });
}

std::optional<Reply> handle_clear_cache(std::string_view body) {
  // The path is required but not used.
  if (!read_body<ReqOptions>(body)) return std::nullopt;
  clear_searches();
  return text_reply("null");
}

}  // namespace brackwen
