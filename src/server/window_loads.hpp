// The changed files of whole loaded histories, read on one background thread after the reply
// that asked for one commit's: the loads run one at a time in the order they were asked for,
// so the caches end as they would have with each load made in its request.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/commit.hpp"
#include "stores/stores.hpp"

namespace brackwen {

// The load of a repository's loaded history, and the commits already read on their own for
// replies, which it takes as loaded.
struct WindowLoad {
  std::string repo_path;
  std::shared_ptr<const CommitsAndRefs> history;
  std::vector<PatchesCacheEntry> alone;
};

// Loads `history`'s changed files after every load asked for before, `alone` (when given)
// among them. Joins the last load asked for when it is this one; a load of the repository
// that has not started yet gives way, its commits read alone passing on: its files would be
// written over. Without a thread the load runs here.
void queue_window_load(const std::string& repo_path, std::shared_ptr<const CommitsAndRefs> history,
                       std::optional<PatchesCacheEntry> alone);

// Whether the load running now is of `history` of the repository.
bool window_load_running(const std::string& repo_path,
                         const std::shared_ptr<const CommitsAndRefs>& history);

// Whether no load is queued or running.
bool window_loads_idle();

// Returns once no load is queued or running.
void wait_for_window_loads();

// An entry read alone for a queued or running load of the repository that keeps `commit`
// against the parents listed now.
std::optional<PatchesCacheEntry> read_alone_for(const std::string& repo_path, const Commit& commit);

}  // namespace brackwen
