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
#include "git/request_budget.hpp"
#include "git/run_git.hpp"
#include "parser/diagnostics.hpp"
#include "parser/utf8.hpp"
#include "stores/threads.hpp"

namespace brackwen {
namespace {

bool superseded(uint32_t search_id) {
  std::optional<uint32_t> last = get_counter(LAST_SEARCH_ID());
  return last && *last != search_id;
}

struct GitOutput {
  int status = -1;
  std::string out;
};

// Git's whole standard output once it has ended; absent when it could not start, its output
// could not be read, or a newer search started while it ran, which kills it at once.
// `on_more` sees the output so far after every read.
std::optional<GitOutput> run_watched_git(const std::vector<std::string>& argv,
                                         const std::string& repo_path, uint32_t search_id,
                                         const std::function<void(std::string_view)>& on_more) {
  GitOutput result;
  std::string err;
  StreamHandlers handlers;
  handlers.on_out = [&](std::string_view bytes) {
    result.out.append(bytes);
    on_more(result.out);
  };
  handlers.on_err = [&](std::string_view bytes) { err.append(bytes); };
  handlers.cancelled = [search_id] { return superseded(search_id); };
  std::optional<StreamEnd> end = stream_reading_process(argv, repo_path, handlers);
  if (!end) return std::nullopt;
  // Git's complaints (a bad repository path, say) belong on the server's standard error.
  if (!err.empty()) write_stderr(std::move(err));
  if (end->out_error != 0) return std::nullopt;
  result.status = end->status;
  return result;
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
  std::optional<std::vector<PatchMatch>> matches;
};

// The hits read while git log is still printing: each complete record's lines are read on a
// worker at once, so that the diffs of the hit files overlap the log's walk through history,
// which takes most of the time. The final answer is still made from the whole output.
struct EarlyHits {
  uint32_t search_id;
  const std::string& repo_path;
  const std::string& search_text;
  std::shared_ptr<const CommitsAndRefs> history;  // as the log started
  FirstById commits = history ? first_by_id(history->commits) : FirstById{};
  std::deque<Hit> hits{};  // grows at the back without moving what the workers write to
  size_t taken = 0;        // the output's bytes cut into hits
  bool stopped = !history;
  tbb::task_group workers{};

  ~EarlyHits() { workers.wait(); }

  // In "-z" output a record ends with its last path's NUL and one more, which no path can hold.
  void take(std::string_view out) {
    size_t end = out.rfind(std::string_view("\0\0", 2));
    if (stopped || end == std::string_view::npos || end + 2 <= taken) return;
    auto records = patch_list(out.substr(taken, end + 2 - taken));
    taken = end + 2;
    if (!records) stopped = true;  // left to the whole output
    for (CommitPatches& record : records ? *records : std::vector<CommitPatches>{}) {
      Hit& hit = hits.emplace_back(Hit{std::move(record), std::nullopt});
      auto found = commits.find(hit.record.first);
      if (found == commits.end()) continue;
      workers.run([this, &hit, commit = found->second, request = current_request_budget()] {
        RequestBudgetScope carried(request);
        run_reported("Reading the lines of a diff search hit", [&] {
          if (!superseded(search_id))
            hit.matches = search_patch_lines(*commit, hit.record.second, repo_path, search_text);
        });
      });
    }
  }
};

// Per hit commit that the cached list holds, in git's order: its id and its files' matches,
// those not read while git printed read now.
SearchResults collect_search_hits(std::vector<Hit>& hits, const std::vector<Commit>& commits,
                                  const std::string& repo_path, const std::string& search_text) {
  FirstById first = first_by_id(commits);
  std::vector<std::pair<Hit*, const Commit*>> listed;
  for (Hit& hit : hits) {
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
  std::optional<GitOutput> git =
      run_watched_git(*argv, repo_path, search_id, [&](std::string_view out) { early.take(out); });
  early.workers.wait();
  if (!git || git->status != 0 || !is_valid_utf8(git->out)) return std::nullopt;
  std::optional<std::vector<CommitPatches>> hits = patch_list(git->out);
  if (!hits) return std::nullopt;
  std::shared_ptr<const CommitsAndRefs> all = get_cached_commits(repo_path);
  if (!all) return std::nullopt;
  std::vector<Hit> found;
  found.reserve(hits->size());
  for (size_t i = 0; i < hits->size(); ++i) {
    bool same = all == early.history && i < early.hits.size() && early.hits[i].record == (*hits)[i];
    found.push_back(same ? std::move(early.hits[i]) : Hit{std::move((*hits)[i]), std::nullopt});
  }
  return collect_search_hits(found, all->commits, repo_path, search_text);
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
    RequestBudgetScope budget(std::make_shared<RequestBudget>());
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
  for (size_t h = 0; h < diff.hunks.size(); ++h) {
    HunkLineCursor cursor = hunk_line_cursor(diff.hunks[h], static_cast<int32_t>(h));
    while (auto line = next_hunk_line(cursor)) {
      bool changed = line->status == HunkLineStatus::Plus || line->status == HunkLineStatus::Minus;
      if (changed && line->text.find(search_text) != std::string_view::npos) {
        kept.push_back(owned_line(*line));
      }
    }
  }
  return kept;
}

}  // namespace brackwen
