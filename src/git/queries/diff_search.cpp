// Diff search: git's pickaxe log run on its own thread and cancelled once superseded, and
// each hit file's diff searched for the lines that hold the text, while the log still runs.
#include "git/queries/diff_search.hpp"

#include <tbb/parallel_for.h>
#include <tbb/task_group.h>

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <unordered_map>
#include <utility>

#include "git/process.hpp"
#include "git/queries/hunks/load_hunks.hpp"
#include "git/queries/patches/patch_parsers.hpp"
#include "git/reading/request_budget.hpp"
#include "git/run_git.hpp"
#include "parser/diagnostics.hpp"
#include "stores/threads.hpp"

namespace brackwen {
namespace {

bool superseded(uint32_t search_id) {
  std::optional<uint32_t> last = get_counter(LAST_SEARCH_ID());
  return last && *last != search_id;
}

// Git's exit status once it has ended, its standard output handed to `on_out` as it comes;
// absent when it could not start, its output could not be read, or a newer search started
// while it ran, which kills it at once.
std::optional<int> run_watched_git(const std::vector<std::string>& argv,
                                   const std::string& repo_path, uint32_t search_id,
                                   const std::function<void(std::string_view)>& on_out) {
  std::string err;
  StreamHandlers handlers;
  handlers.on_out = on_out;
  handlers.on_err = [&](std::string_view bytes) { err.append(bytes); };
  handlers.cancelled = [search_id, request = current_request_budget()] {
    return superseded(search_id) || (request && request->holds_too_much);
  };
  // No restart: the log is its search's oldest run, never ended for room. The hits' diffs, which
  // start from its output, are younger.
  std::optional<StreamEnd> end = stream_reading_process(argv, repo_path, handlers);
  if (!end) return std::nullopt;
  // Git's complaints (a bad repository path, say) belong on the server's standard error.
  if (!err.empty()) write_stderr(std::move(err));
  if (end->out_error != 0) return std::nullopt;
  return end->status;
}

using FirstById = std::unordered_map<std::string_view, const Commit*>;

// The first commit with an id, as a scan of the list would find it.
FirstById first_by_id(const std::vector<Commit>& commits) {
  FirstById first;
  first.reserve(commits.size());
  for (const Commit& c : commits) first.emplace(c.id, &c);
  return first;
}

struct Hit {
  CommitPatches record;
  bool refused = false;  // its files are past the caps: it is left out
  std::optional<std::vector<PatchMatch>> matches;
};

// The hits read while git log is still printing: each whole record is taken from the stream
// at once and its lines are read on a worker, so that the diffs of the hit files overlap the
// log's walk through history, which takes most of the time.
struct EarlyHits {
  uint32_t search_id;
  const std::string& repo_path;
  const std::string& search_text;
  std::shared_ptr<const CommitsAndRefs> history;  // as the log started
  FirstById commits = history ? first_by_id(history->commits) : FirstById{};
  std::deque<Hit> hits{};  // grows at the back without moving what the workers write to
  tbb::task_group workers{};

  ~EarlyHits() { workers.wait(); }

  void take(PatchStream& stream) {
    for (CommitPatches& record : stream.records) {
      bool refused = std::ranges::count(stream.refused, record.first) > 0;
      if (refused) report_refused(record.first);
      Hit& hit = hits.emplace_back(Hit{std::move(record), refused, std::nullopt});
      auto found = commits.find(hit.record.first);
      if (refused || found == commits.end()) continue;
      workers.run([this, &hit, commit = found->second, request = current_request_budget()] {
        RequestBudgetScope carried(request);
        run_reported("Reading the lines of a diff search hit", [&] {
          if (!superseded(search_id))
            hit.matches = search_patch_lines(*commit, hit.record.second, repo_path, search_text);
        });
      });
    }
    stream.records.clear();
  }
};

// Per hit commit that the cached list holds, in git's order: its id and its files' matches,
// those not read while git printed read now.
SearchResults collect_search_hits(std::deque<Hit>& hits, const std::vector<Commit>& commits,
                                  const std::string& repo_path, const std::string& search_text) {
  FirstById first = first_by_id(commits);
  std::vector<std::pair<Hit*, const Commit*>> listed;
  for (Hit& hit : hits) {
    if (hit.refused) continue;
    auto found = first.find(hit.record.first);
    if (found != first.end()) listed.emplace_back(&hit, found->second);
  }
  std::shared_ptr<RequestBudget> request = current_request_budget();
  tbb::parallel_for(size_t{0}, listed.size(), [&](size_t i) {
    RequestBudgetScope carried(request);
    Hit* hit = listed[i].first;
    const Commit* commit = listed[i].second;
    // A failure is tried again below, on this thread, where what it throws passes on.
    run_reported("Reading the lines of a diff search hit", [&] {
      if (!hit->matches)
        hit->matches = search_patch_lines(*commit, hit->record.second, repo_path, search_text);
    });
  });
  SearchResults results;
  for (auto [hit, commit] : listed) {
    if (!hit->matches)
      hit->matches = search_patch_lines(*commit, hit->record.second, repo_path, search_text);
    results.emplace_back(commit->id, std::move(*hit->matches));
  }
  return results;
}

std::optional<SearchResults> search(uint32_t search_id, const std::string& repo_path,
                                    const std::string& search_text, uint64_t num_results,
                                    uint64_t start_commit_index) {
  std::optional<GitArgs> argv =
      reading_git_argv(repo_path, diff_search_args(search_text, num_results, start_commit_index));
  if (!argv) return std::nullopt;
  EarlyHits early{search_id, repo_path, search_text, get_cached_commits(repo_path)};
  PatchStream stream;
  HeldBytes held("git log");
  std::optional<int> status =
      run_watched_git(*argv, repo_path, search_id, [&](std::string_view out) {
        feed_patches(stream, out);
        if (held.set(stream.kept_bytes)) return early.take(stream);
        stream.records.clear();
      });
  bool read = finish_patches(stream);
  early.take(stream);
  early.workers.wait();
  // Output that is not UTF-8 gives no results, as one that does not read.
  if (status != 0 || !read || stream.repaired || holds_too_much()) return std::nullopt;
  std::shared_ptr<const CommitsAndRefs> all = get_cached_commits(repo_path);
  if (!all) return std::nullopt;
  if (all != early.history) {
    for (Hit& hit : early.hits) hit.matches.reset();
  }
  SearchResults results = collect_search_hits(early.hits, all->commits, repo_path, search_text);
  // A file whose diff could not be read is left out; one that a search holding too much could
  // not keep fails the search.
  if (holds_too_much()) return std::nullopt;
  return results;
}

// `results` is taken (left empty).
void store_outcome(uint32_t search_id, std::optional<SearchResults>& results) {
  DIFF_SEARCHES().update([&](DiffSearches& all) {
    auto found = all.find(search_id);
    if (found == all.end()) return;  // cleared meanwhile: the outcome is dropped
    found->second.results = std::exchange(results, std::nullopt);
    found->second.complete = true;
  });
}

}  // namespace

std::vector<std::string> diff_search_args(const std::string& search_text, uint64_t num_results,
                                          uint64_t start_commit_index) {
  // "-S" takes the next argument whole, also when it begins with "-".
  return {"log",
          "--skip=" + std::to_string(start_commit_index),
          "-S",
          search_text,
          "--name-status",
          "--branches",
          "--remotes",
          "--pretty=format:%H,",
          "-n" + std::to_string(num_results),
          "-z"};
}

uint32_t start_diff_search(const std::string& repo_path, const std::string& search_text,
                           uint64_t num_results, uint64_t start_commit_index) {
  std::optional<uint32_t> last = get_counter(LAST_SEARCH_ID());
  uint32_t id = last ? *last + 1 : 0;
  set_counter(LAST_SEARCH_ID(), id);
  set_diff_search(id, DiffSearch{std::nullopt, false, repo_path, search_text, id,
                                 std::chrono::steady_clock::now()});
  bool started = start_background_thread("Diff search " + std::to_string(id), [=] {
    // A search goes on after its request: it has a budget of its own.
    RequestBudgetScope budget(std::make_shared<RequestBudget>(SEARCH_READ_CAP));
    run_diff_search(id, repo_path, search_text, num_results, start_commit_index);
  });
  if (!started) {
    // Without a thread the search ends at once, so its polls do not wait for ever.
    std::optional<SearchResults> none;
    store_outcome(id, none);
  }
  return id;
}

void run_diff_search(uint32_t search_id, const std::string& repo_path,
                     const std::string& search_text, uint64_t num_results,
                     uint64_t start_commit_index) {
  std::optional<SearchResults> results;
  try {
    results = search(search_id, repo_path, search_text, num_results, start_commit_index);
  } catch (...) {
    // A search that throws ends all the same, so its polls do not wait for ever.
    store_outcome(search_id, results);
    throw;
  }
  store_outcome(search_id, results);
}

std::vector<PatchMatch> search_patch_lines(const Commit& commit, const std::vector<Patch>& patches,
                                           const std::string& repo_path,
                                           const std::string& search_text) {
  std::vector<PatchMatch> matches;
  for (const Patch& patch : patches) {
    auto diff = load_file_diff(repo_path, commit, patch);
    if (!diff) continue;
    matches.push_back(PatchMatch{patch, filter_patches_by_text(*diff, search_text)});
  }
  return matches;
}

std::vector<HunkLine> filter_patches_by_text(const FileDiff& diff, std::string_view search_text) {
  std::vector<HunkLine> kept;
  // A kept line is held until its search is polled, and stands in that poll's reply.
  HeldBytes held("Diff search");
  for (size_t h = 0; h < diff.hunks.size(); ++h) {
    HunkLineCursor cursor = hunk_line_cursor(diff.hunks[h], static_cast<int32_t>(h));
    while (auto line = next_hunk_line(cursor)) {
      bool changed = line->status == HunkLineStatus::Plus || line->status == HunkLineStatus::Minus;
      if (!changed || line->text.find(search_text) == std::string_view::npos) continue;
      if (!held.add(2 * sizeof(HunkLine) + LINE_RECORD_BYTES + 2 * line->text.size())) {
        return kept;
      }
      kept.push_back(owned_line(*line));
    }
  }
  held.keep();
  return kept;
}

}  // namespace brackwen
