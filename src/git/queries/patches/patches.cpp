// The changed files of commits from git, and the memory cache that keeps them.
#include "git/queries/patches/patches.hpp"

#include <tbb/info.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <iterator>
#include <string_view>
#include <unordered_set>

#include "git/queries/patches/patch_parsers.hpp"
#include "git/queries/patches/special_patches.hpp"
#include "git/request_budget.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"
#include "parser/input.hpp"
#include "stores/stores.hpp"
#include "stores/threads.hpp"

namespace brackwen {
namespace {

constexpr const char* NAME_STATUS_FORMAT_ARG = "--pretty=format:%H,";
// Up to this many commits are named on one `git show`; more go through one `git log`.
constexpr size_t MAX_SHOW_COMMITS = 20;
// The log is cut into slices (`--skip`, `-n`) of at least this many commits, at most one per
// core: git walks past the skipped commits without diffing them, so the diffs, which are most
// of the work, run on every core, and the slices read in order are the one log.
constexpr size_t MIN_COMMITS_PER_LOG = 1000;

// The records of one or more logs, and those among them past the caps.
struct Records {
  std::vector<CommitPatches> files;
  std::unordered_set<std::string> refused;
};

std::vector<GitArgs> ordinary_commits_args(const std::vector<const Commit*>& ordinary,
                                           size_t all_commits) {
  if (ordinary.size() <= MAX_SHOW_COMMITS) {
    std::vector<std::string> ids;
    for (const Commit* c : ordinary) ids.push_back(c->id);
    auto args = revision_args({"show", "--name-status", NAME_STATUS_FORMAT_ARG, "-z"}, ids);
    return args ? std::vector<GitArgs>{*args} : std::vector<GitArgs>{};
  }
  GitArgs log = {
      "log",         "--remotes", "--branches", "--all", "--name-status", NAME_STATUS_FORMAT_ARG,
      "--no-merges", "-z"};
  size_t limit = static_cast<uint32_t>(all_commits);
  size_t cores = static_cast<size_t>(std::max(1, tbb::info::default_concurrency()));
  size_t slices = std::clamp(ordinary.size() / MIN_COMMITS_PER_LOG, size_t{1}, cores);
  if (slices == 1) {
    log.push_back("-n" + std::to_string(limit));
    return {log};
  }
  // Sized by the commits expected; the last slice runs to the limit, as the one log would.
  size_t per_slice = (ordinary.size() + slices - 1) / slices;
  std::vector<GitArgs> all;
  for (size_t k = 0; k < slices; ++k) {
    size_t skip = std::min(limit, k * per_slice);
    size_t count = k + 1 == slices ? limit - skip : std::min(per_slice, limit - skip);
    GitArgs slice = log;
    slice.push_back("--skip=" + std::to_string(skip));
    slice.push_back("-n" + std::to_string(count));
    all.push_back(std::move(slice));
  }
  return all;
}

// Absent when the records do not read; none when git prints nothing or is ended by a limit.
std::optional<Records> run_slice(const std::string& repo_path, const GitArgs& args) {
  PatchStream stream;
  if (!read_patches(repo_path, args, stream)) return Records{};
  if (!finish_patches(stream)) return std::nullopt;
  for (const std::string& id : stream.refused) report_refused(id);
  return Records{std::move(stream.records), {stream.refused.begin(), stream.refused.end()}};
}

// As the one log's: a slice that does not read leaves no records at all.
std::optional<Records> load_ordinary(const std::string& repo_path,
                                     const std::vector<const Commit*>& ordinary,
                                     size_t all_commits) {
  if (ordinary.empty()) return std::nullopt;
  std::vector<GitArgs> slices = ordinary_commits_args(ordinary, all_commits);
  std::vector<std::optional<Records>> found(slices.size());
  std::vector<char> done(slices.size());
  std::shared_ptr<RequestBudget> request = current_request_budget();
  tbb::parallel_for(size_t{0}, slices.size(), [&](size_t k) {
    RequestBudgetScope carried(request);
    // A failure is tried again below, on this thread, where what it throws passes on.
    run_reported("Loading the changed files of commits", [&] {
      found[k] = run_slice(repo_path, slices[k]);
      done[k] = 1;
    });
  });
  Records records;
  for (size_t k = 0; k < slices.size(); ++k) {
    if (!done[k]) found[k] = run_slice(repo_path, slices[k]);
    if (!found[k]) return std::nullopt;
    std::move(found[k]->files.begin(), found[k]->files.end(), std::back_inserter(records.files));
    records.refused.merge(found[k]->refused);
  }
  return records;
}

bool knows(const PatchesCacheEntry* cached, const std::string& id) {
  return cached &&
         (cached->patches->contains(id) || (cached->refused && cached->refused->contains(id)));
}

}  // namespace

std::optional<PatchesCacheEntry> memory_cached_patches(const std::string& repo_path) {
  auto found = PATCHES_CACHE().read([&](const PatchesCacheEntry& entry) {
    bool knows_some = entry.patches && (!entry.patches->empty() || entry.refused);
    return entry.repo_path == repo_path && knows_some ? std::optional(entry) : std::nullopt;
  });
  return found ? *found : std::nullopt;
}

std::shared_ptr<const PatchMap> cached_patches_of(const PatchesCacheEntry& cached,
                                                  const std::vector<Commit>& commits) {
  const PatchMap& map = *cached.patches;
  std::vector<const PatchMap::value_type*> found;
  found.reserve(commits.size());
  for (const Commit& c : commits) {
    auto entry = map.find(c.id);
    if (entry != map.end()) {
      found.push_back(&*entry);
    } else if (!cached.refused || !cached.refused->contains(c.id)) {
      return nullptr;
    }
  }
  if (found.size() >= map.size()) {
    // A commit may be listed twice: the entries found are told apart by their addresses.
    std::vector<const PatchMap::value_type*> distinct = found;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    if (distinct.size() == map.size()) return cached.patches;
  }
  auto only = std::make_shared<PatchMap>();
  only->reserve(found.size());
  for (const auto* entry : found) only->try_emplace(entry->first, entry->second);
  return only;
}

std::optional<PatchesCacheEntry> load_missing_patches(const std::string& repo_path,
                                                      const std::vector<Commit>& commits,
                                                      const PatchesCacheEntry* cached) {
  std::vector<const Commit*> ordinary;
  std::vector<const Commit*> special;
  for (const Commit& c : commits) {
    if (knows(cached, c.id)) continue;
    (c.stash_id || c.is_merge ? special : ordinary).push_back(&c);
  }
  if (ordinary.empty() && special.empty()) return std::nullopt;
  auto result = std::make_shared<PatchMap>();
  auto refused = std::make_shared<std::unordered_set<std::string>>();
  if (cached) {
    for (const Commit& c : commits) {
      auto found = cached->patches->find(c.id);
      if (found != cached->patches->end()) result->insert_or_assign(c.id, found->second);
    }
    if (cached->refused) *refused = *cached->refused;
  }
  // The log of the ordinary commits and the merges' diffs are independent git work.
  std::optional<Records> records;
  bool logged = false;
  std::vector<SpecialFiles> special_patches;
  std::shared_ptr<RequestBudget> request = current_request_budget();
  run_alongside(
      "Loading the changed files of commits",
      [&] {
        RequestBudgetScope carried(request);
        records = load_ordinary(repo_path, ordinary, commits.size());
        logged = true;
      },
      [&] { special_patches = load_special_patches(repo_path, commits, special); });
  // Tried again where what it throws passes on.
  if (!logged) records = load_ordinary(repo_path, ordinary, commits.size());
  if (records) {
    // A log over every ref also lists commits that were not asked for.
    std::unordered_set<std::string_view> asked;
    asked.reserve(ordinary.size());
    for (const Commit* c : ordinary) asked.insert(c->id);
    for (auto& [id, patches] : records->files) {
      if (!asked.contains(id)) continue;
      if (records->refused.contains(id)) {
        refused->insert(id);
      } else {
        result->insert_or_assign(std::move(id), std::move(patches));
      }
    }
  }
  for (size_t i = 0; i < special.size(); ++i) {
    if (special_patches[i]) {
      result->insert_or_assign(special[i]->id, std::move(*special_patches[i]));
    } else {
      refused->insert(special[i]->id);
    }
  }
  return PatchesCacheEntry{repo_path, std::move(result),
                           refused->empty() ? nullptr : std::move(refused)};
}

void store_patches(PatchesCacheEntry entry) {
  PATCHES_CACHE().set(std::move(entry));
}

bool read_patches(const std::string& repo_path, const std::vector<std::string>& args,
                  PatchStream& stream, std::string_view input) {
  StreamHandlers handlers;
  handlers.input = input;
  handlers.on_out = [&](std::string_view bytes) { feed_patches(stream, bytes); };
  const PatchStream fresh = stream;
  handlers.restart = [&] { stream = fresh; };
  return stream_git(repo_path, args, handlers).has_value();
}

}  // namespace brackwen
