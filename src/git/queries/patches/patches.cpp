// The changed files of commits from git, and the memory cache that keeps them.
#include "git/queries/patches/patches.hpp"

#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <span>
#include <string_view>
#include <unordered_set>

#include "git/queries/patches/patch_parsers.hpp"
#include "git/queries/patches/special_patches.hpp"
#include "git/reading/request_budget.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"
#include "parser/diagnostics.hpp"
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
// The commits of a run that git ended with an error are shown again, by halves, from their ids
// on its input, as the show of a few names them.
const GitArgs SHOW_FROM_INPUT_ARGS = {"show", "--stdin", "--name-status", NAME_STATUS_FORMAT_ARG,
                                      "-z"};
// Each commit git cannot list costs some runs to find alone; past this many in one load (a
// partial clone cut off from its remote fails on every commit) a run that fails is not halved
// again, and its commits are given up.
constexpr size_t MAX_UNREADABLE_COMMITS = 16;

// What the changed files of a window may hold beyond a reply's cap, per commit: git's output
// and the records. Honest histories hold a few KiB a commit (6 on average in one where a
// quarter of the commits are merges of topics of tens of files: 1.3 million files over 40,000
// commits), while one tree of 99,999 entries that every commit of a small repository names
// makes each hold some 18 MiB.
constexpr uint64_t WINDOW_ROOM_PER_COMMIT = 16 << 10;

// The records of one or more runs, and those among them past the caps or that git could not
// list.
struct Records {
  std::vector<CommitPatches> files;
  std::unordered_set<std::string> refused;
};

// A run git ended with an error keeps none of what it printed: it stopped at a commit it could
// not read, and the records it left may end in the middle of one.
struct RunRecords {
  Records records;
  bool failed = false;
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
std::optional<RunRecords> run_records(const std::string& repo_path, const GitArgs& args,
                                      std::string_view input = {}) {
  PatchStream stream;
  std::optional<int> status = read_patches(repo_path, args, stream, input);
  if (!status) return RunRecords{};
  if (*status != 0) return RunRecords{{}, true};
  if (!finish_patches(stream)) return std::nullopt;
  for (const std::string& id : stream.refused) report_refused(id);
  return RunRecords{{std::move(stream.records), {stream.refused.begin(), stream.refused.end()}}};
}

void append(Records& into, Records&& from) {
  std::move(from.files.begin(), from.files.end(), std::back_inserter(into.files));
  into.refused.merge(from.refused);
}

// One `git show` of `commits`, their ids on its input.
std::optional<RunRecords> show_commits(const std::string& repo_path,
                                       std::span<const Commit* const> commits) {
  std::string ids;
  for (const Commit* c : commits) {
    if (is_object_id(c->id)) ids.append(c->id) += '\n';
  }
  // With nothing on its input git would show HEAD.
  if (ids.empty()) return RunRecords{};
  return run_records(repo_path, SHOW_FROM_INPUT_ARGS, ids);
}

// What the halving found: the commits git cannot list alone, and those given up past the cap.
struct Unreadable {
  std::vector<std::string> alone;
  std::vector<std::string> given_up;
};

// `commits` from one `git show`; when git fails, each half the same way, down to the commits it
// cannot list alone.
void show_in_halves(const std::string& repo_path, std::span<const Commit* const> commits,
                    Records& into, Unreadable& unreadable) {
  if (commits.empty()) return;
  std::optional<RunRecords> run = show_commits(repo_path, commits);
  if (!run) return;
  if (!run->failed) return append(into, std::move(run->records));
  if (commits.size() == 1) {
    unreadable.alone.push_back(commits.front()->id);
    return;
  }
  if (unreadable.alone.size() >= MAX_UNREADABLE_COMMITS) {
    for (const Commit* c : commits) unreadable.given_up.push_back(c->id);
    return;
  }
  size_t half = commits.size() / 2;
  show_in_halves(repo_path, commits.first(half), into, unreadable);
  show_in_halves(repo_path, commits.subspan(half), into, unreadable);
}

std::vector<const Commit*> unanswered(const std::vector<const Commit*>& ordinary,
                                      const Records& records) {
  std::unordered_set<std::string_view> answered(records.refused.begin(), records.refused.end());
  for (const auto& [id, files] : records.files) answered.insert(id);
  std::vector<const Commit*> open;
  for (const Commit* c : ordinary) {
    if (!answered.contains(c->id)) open.push_back(c);
  }
  return open;
}

void report_unreadable(const Unreadable& unreadable) {
  if (!refusals_told()) return;
  for (const std::string& id : unreadable.alone) {
    write_stderr("Commit " + id + ": git fails to list its changed files; they are not read\n");
  }
  if (unreadable.given_up.empty()) return;
  write_stderr("Loading changed files: past " + std::to_string(MAX_UNREADABLE_COMMITS) +
               " commits git cannot list, " + std::to_string(unreadable.given_up.size()) +
               " more in runs that failed are given up; their changed files are not read\n");
}

// After a run that git ended with an error: the ordinary commits no other run answered, read in
// halves (the whole failed already). Those git cannot list are kept as refused.
void read_unanswered(const std::string& repo_path, const std::vector<const Commit*>& ordinary,
                     Records& records) {
  std::vector<const Commit*> open = unanswered(ordinary, records);
  std::span<const Commit* const> all(open);
  Unreadable unreadable;
  show_in_halves(repo_path, all.first(open.size() / 2), records, unreadable);
  show_in_halves(repo_path, all.subspan(open.size() / 2), records, unreadable);
  report_unreadable(unreadable);
  records.refused.insert(unreadable.alone.begin(), unreadable.alone.end());
  records.refused.insert(unreadable.given_up.begin(), unreadable.given_up.end());
}

// As the one log's: a slice that does not read leaves no records at all.
std::optional<Records> load_ordinary(const std::string& repo_path,
                                     const std::vector<const Commit*>& ordinary,
                                     size_t all_commits) {
  if (ordinary.empty()) return std::nullopt;
  std::vector<GitArgs> slices = ordinary_commits_args(ordinary, all_commits);
  std::vector<std::optional<RunRecords>> found(slices.size());
  std::vector<char> done(slices.size());
  std::shared_ptr<RequestBudget> request = current_request_budget();
  tbb::parallel_for(size_t{0}, slices.size(), [&](size_t k) {
    RequestBudgetScope carried(request);
    // A failure is tried again below, on this thread, where what it throws passes on.
    run_reported("Loading the changed files of commits", [&] {
      found[k] = run_records(repo_path, slices[k]);
      done[k] = 1;
    });
  });
  Records records;
  bool failed = false;
  for (size_t k = 0; k < slices.size(); ++k) {
    if (!done[k]) found[k] = run_records(repo_path, slices[k]);
    if (!found[k]) return std::nullopt;
    failed = failed || found[k]->failed;
    append(records, std::move(found[k]->records));
  }
  if (failed) read_unanswered(repo_path, ordinary, records);
  return records;
}

// What `cached` keeps of the commit, when it read it against the parents the log lists now.
const KeptCommit* kept_of(const PatchesCacheEntry* cached, const Commit& c) {
  if (!cached) return nullptr;
  auto found = cached->kept->find(c.id);
  if (found == cached->kept->end() || found->second.parents != parents_digest(c.parent_ids)) {
    return nullptr;
  }
  return &found->second;
}

// The commits entries read on their own keep, with what each keeps of them.
using AloneIndex = std::unordered_map<std::string_view, const KeptCommit*>;

AloneIndex alone_index(std::span<const PatchesCacheEntry> read_alone) {
  AloneIndex index;
  for (const PatchesCacheEntry& entry : read_alone) {
    for (const auto& [id, kept] : *entry.kept) index.insert_or_assign(id, &kept);
  }
  return index;
}

const KeptCommit* alone_kept(const AloneIndex& alone, const Commit& c) {
  auto found = alone.find(c.id);
  if (found == alone.end() || found->second->parents != parents_digest(c.parent_ids)) {
    return nullptr;
  }
  return found->second;
}

// The records of the commits asked for: a log over every ref also lists others.
void take_ordinary(Records records, const std::vector<const Commit*>& ordinary, PatchMap& result,
                   std::unordered_set<std::string>& refused) {
  std::unordered_set<std::string_view> asked;
  asked.reserve(ordinary.size());
  for (const Commit* c : ordinary) asked.insert(c->id);
  for (const std::string& id : records.refused) {
    if (asked.contains(id)) refused.insert(id);
  }
  for (auto& [id, patches] : records.files) {
    if (asked.contains(id) && !records.refused.contains(id)) {
      result.insert_or_assign(std::move(id), std::move(patches));
    }
  }
}

void take_special(std::vector<SpecialFiles> files, const std::vector<const Commit*>& special,
                  PatchMap& result, std::unordered_set<std::string>& refused) {
  for (size_t i = 0; i < special.size(); ++i) {
    if (files[i]) {
      result.insert_or_assign(special[i]->id, std::move(*files[i]));
    } else {
      refused.insert(special[i]->id);
    }
  }
}

// The entry of `commits`' files and refusals, each kept against the parents listed now.
PatchesCacheEntry entry_of(const std::string& repo_path, std::span<const Commit> commits,
                           PatchMap result, std::unordered_set<std::string> refused,
                           const PatchesCacheEntry* cached) {
  auto map = std::make_shared<PatchMap>(std::move(result));
  auto unread = std::make_shared<std::unordered_set<std::string>>(std::move(refused));
  // Made of the entry's own ids and files, which nothing below changes.
  auto kept = std::make_shared<KeptIndex>();
  for (const Commit& c : commits) {
    if (auto files = map->find(c.id); files != map->end()) {
      kept->insert_or_assign(files->first, KeptCommit{&*files, parents_digest(c.parent_ids)});
    } else if (auto id = unread->find(c.id); id != unread->end()) {
      kept->insert_or_assign(*id, KeptCommit{nullptr, parents_digest(c.parent_ids)});
    }
  }
  // Refused commits that are not in the list keep the parents they were refused against.
  if (cached) {
    for (const std::string& id : *unread) {
      auto found = cached->kept->find(id);
      if (found != cached->kept->end())
        kept->try_emplace(id, KeptCommit{nullptr, found->second.parents});
    }
  }
  return PatchesCacheEntry{repo_path, std::move(map), unread->empty() ? nullptr : std::move(unread),
                           std::move(kept)};
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
                                                  const std::vector<Commit>& commits,
                                                  bool parents_checked) {
  const PatchMap& map = *cached.patches;
  std::vector<const PatchMap::value_type*> found;
  found.reserve(commits.size());
  for (const Commit& c : commits) {
    auto kept = cached.kept->find(c.id);
    if (kept == cached.kept->end()) return nullptr;
    // The parents' ids lie all over memory: reading them costs as much as the lookup.
    if (!parents_checked && kept->second.parents != parents_digest(c.parent_ids)) return nullptr;
    if (kept->second.files) found.push_back(kept->second.files);
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

std::optional<PatchesCacheEntry> load_missing_patches(
    const std::string& repo_path, const std::vector<Commit>& commits,
    const PatchesCacheEntry* cached, std::span<const PatchesCacheEntry> read_alone) {
  AloneIndex alone = alone_index(read_alone);
  std::vector<std::pair<const Commit*, const KeptCommit*>> taken_alone;
  std::vector<const Commit*> ordinary;
  std::vector<const Commit*> special;
  for (const Commit& c : commits) {
    if (kept_of(cached, c)) continue;
    if (const KeptCommit* kept = alone_kept(alone, c)) {
      taken_alone.emplace_back(&c, kept);
      continue;
    }
    (c.stash_id || c.is_merge ? special : ordinary).push_back(&c);
  }
  if (ordinary.empty() && special.empty() && taken_alone.empty()) return std::nullopt;
  PatchMap result;
  std::unordered_set<std::string> refused;
  widen_room(commits.size() * WINDOW_ROOM_PER_COMMIT);
  // The copies of the kept lists are the request's too: a window loaded piece by piece would
  // otherwise grow past what one load may hold.
  HeldBytes copied("Loading changed files");
  if (cached) {
    for (const Commit& c : commits) {
      const KeptCommit* kept = kept_of(cached, c);
      if (!kept || !kept->files) continue;
      if (!copied.add(patch_list_bytes(kept->files->second))) return std::nullopt;
      result.insert_or_assign(c.id, kept->files->second);
    }
    if (cached->refused) refused = *cached->refused;
  }
  // Read again below, against the parents listed now.
  for (const Commit* c : ordinary) refused.erase(c->id);
  for (const Commit* c : special) refused.erase(c->id);
  for (const auto& [c, kept] : taken_alone) {
    if (kept->files) {
      refused.erase(c->id);
      if (!copied.add(patch_list_bytes(kept->files->second))) return std::nullopt;
      result.insert_or_assign(c->id, kept->files->second);
    } else {
      refused.insert(c->id);
    }
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
  if (records) take_ordinary(std::move(*records), ordinary, result, refused);
  take_special(std::move(special_patches), special, result, refused);
  copied.keep();
  return entry_of(repo_path, commits, std::move(result), std::move(refused), cached);
}

PatchesCacheEntry load_commit_patches(const std::string& repo_path,
                                      const std::vector<Commit>& commits, const Commit& commit,
                                      bool tell_refusals) {
  std::optional<QuietRefusals> quiet;
  if (!tell_refusals) quiet.emplace(current_request_budget().get());
  PatchMap result;
  std::unordered_set<std::string> refused;
  const std::vector<const Commit*> one = {&commit};
  // A thread waiting in a parallel region may take on any task of the arena: isolated, this
  // read never waits for a slice of a long load running on another thread.
  tbb::this_task_arena::isolate([&] {
    if (commit.stash_id || commit.is_merge) {
      take_special(load_special_patches(repo_path, commits, one), one, result, refused);
    } else if (auto records = load_ordinary(repo_path, one, commits.size())) {
      take_ordinary(std::move(*records), one, result, refused);
    }
  });
  return entry_of(repo_path, std::span(&commit, 1), std::move(result), std::move(refused), nullptr);
}

const KeptCommit* kept_commit(const PatchesCacheEntry& entry, const Commit& commit) {
  return kept_of(&entry, commit);
}

uint64_t parents_digest(const std::vector<std::string>& parent_ids) {
  // FNV-1a's step eight bytes at a time, where a string hash of each parent would cost more
  // than the lookup it guards.
  constexpr uint64_t PRIME = 0x100000001b3;
  uint64_t digest = parent_ids.size();
  for (const std::string& id : parent_ids) {
    for (size_t at = 0; at < id.size(); at += 8) {
      uint64_t word = 0;
      std::memcpy(&word, id.data() + at, std::min<size_t>(8, id.size() - at));
      digest = (digest ^ word) * PRIME;
    }
    digest = (digest ^ id.size()) * PRIME;
  }
  return digest;
}

void store_patches(PatchesCacheEntry entry) {
  PATCHES_CACHE().set(std::move(entry));
}

std::optional<int> read_patches(const std::string& repo_path, const std::vector<std::string>& args,
                                PatchStream& stream, std::string_view input) {
  HeldBytes held("git " + (args.empty() ? std::string() : args.front()));
  StreamHandlers handlers;
  handlers.input = input;
  handlers.on_out = [&](std::string_view bytes) {
    feed_patches(stream, bytes);
    held.set(stream.kept_bytes);
  };
  handlers.cancelled = [&] { return held.too_much(); };
  const PatchStream fresh = stream;
  handlers.restart = [&] {
    stream = fresh;
    held.set(stream.kept_bytes);
  };
  std::optional<StreamEnd> end = stream_git(repo_path, args, handlers);
  if (!end || held.too_much()) return std::nullopt;
  // What a failed run printed is dropped; what a run that did its work printed is kept.
  if (end->status == 0) held.keep();
  return end->status;
}

}  // namespace brackwen
