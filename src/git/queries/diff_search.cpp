// Diff search: git's pickaxe log run on its own thread and cancelled once superseded, then
// each hit file's diff searched for the lines that hold the text.
#include "git/queries/diff_search.hpp"

#include <chrono>
#include <optional>
#include <unordered_map>
#include <utility>

#include "git/process.hpp"
#include "git/queries/hunks/load_hunks.hpp"
#include "git/queries/patches/patch_parsers.hpp"
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
std::optional<GitOutput> run_watched_git(const std::vector<std::string>& argv,
                                         const std::string& repo_path, uint32_t search_id) {
  GitOutput result;
  std::string err;
  StreamHandlers handlers;
  handlers.on_out = [&](std::string_view bytes) { result.out.append(bytes); };
  handlers.on_err = [&](std::string_view bytes) { err.append(bytes); };
  handlers.cancelled = [search_id] { return superseded(search_id); };
  std::optional<StreamEnd> end = stream_process(argv, repo_path, handlers);
  if (!end) return std::nullopt;
  // Git's complaints (a bad repository path, say) belong on the server's standard error.
  if (!err.empty()) write_stderr(std::move(err));
  if (end->out_error != 0) return std::nullopt;
  result.status = end->status;
  return result;
}

std::optional<SearchResults> search(uint32_t search_id, const std::string& repo_path,
                                    const std::string& search_text, uint64_t num_results,
                                    uint64_t start_commit_index) {
  std::vector<std::string> argv = diff_search_args(search_text, num_results, start_commit_index);
  argv.insert(argv.begin(), GIT_PROGRAM());
  std::optional<GitOutput> git = run_watched_git(argv, repo_path, search_id);
  if (!git || git->status != 0 || !is_valid_utf8(git->out)) return std::nullopt;
  std::optional<std::vector<CommitPatches>> hits = patch_list(git->out);
  if (!hits) return std::nullopt;
  std::shared_ptr<const CommitsAndRefs> all = get_cached_commits(repo_path);
  if (!all) return std::nullopt;
  return collect_search_hits(std::move(*hits), all->commits, repo_path, search_text);
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

SearchResults collect_search_hits(std::vector<std::pair<std::string, std::vector<Patch>>> hits,
                                  const std::vector<Commit>& commits, const std::string& repo_path,
                                  const std::string& search_text) {
  // The first commit with an id, as a scan of the list would find it.
  std::unordered_map<std::string_view, const Commit*> first_by_id;
  first_by_id.reserve(commits.size());
  for (const Commit& c : commits) first_by_id.emplace(c.id, &c);
  SearchResults results;
  for (auto& [id, patches] : hits) {
    auto found = first_by_id.find(id);
    if (found == first_by_id.end()) continue;
    const Commit& commit = *found->second;
    results.emplace_back(commit.id, search_patch_lines(commit, patches, repo_path, search_text));
  }
  return results;
}

std::vector<PatchMatch> search_patch_lines(const Commit& commit, const std::vector<Patch>& patches,
                                           const std::string& repo_path,
                                           const std::string& search_text) {
  std::vector<PatchMatch> matches;
  for (const Patch& patch : patches) {
    std::optional<std::vector<Hunk>> hunks = load_hunks(repo_path, commit, patch);
    if (!hunks) continue;
    matches.push_back(PatchMatch{patch, filter_patches_by_text(std::move(*hunks), search_text)});
  }
  return matches;
}

std::vector<HunkLine> filter_patches_by_text(std::vector<Hunk> hunks,
                                             std::string_view search_text) {
  std::vector<HunkLine> kept;
  for (Hunk& hunk : hunks) {
    for (HunkLine& line : hunk.lines) {
      bool changed = line.status == HunkLineStatus::Plus || line.status == HunkLineStatus::Minus;
      if (changed && line.text.find(search_text) != std::string::npos) {
        kept.push_back(std::move(line));
      }
    }
  }
  return kept;
}

}  // namespace brackwen
