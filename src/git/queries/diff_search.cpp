// Diff search: git's pickaxe log run on its own thread and watched for being superseded,
// then each hit file's diff searched for the lines that hold the text.
#include "git/queries/diff_search.hpp"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>

#include "git/process.hpp"
#include "git/queries/hunks/load_hunks.hpp"
#include "git/queries/patches/patch_parsers.hpp"
#include "git/run_git.hpp"
#include "parser/diagnostics.hpp"
#include "parser/utf8.hpp"

namespace brackwen {
namespace {

constexpr auto kWatchInterval = std::chrono::milliseconds(50);

// One pipe read to its end on a thread of its own, so that git never waits on a full pipe
// while the search thread waits for git. The thread is joined when this goes away.
struct Drain {
  std::string text;
  bool ok = false;
  std::promise<void> finished;
  std::thread thread;
  ~Drain() {
    if (thread.joinable()) thread.join();
  }
};

// Takes `fd`: it is closed whatever happens.
bool start_drain(Drain& drain, int fd) {
  try {
    drain.thread = std::thread([&drain, fd] {
      bool closed = false;
      try {
        drain.ok = read_to_end(fd, drain.text);
        closed = true;
      } catch (...) {
      }
      if (!closed) ::close(fd);
      try {
        drain.finished.set_value();
      } catch (...) {
      }
    });
    return true;
  } catch (...) {
    ::close(fd);
    return false;
  }
}

// Kills and reaps git on every way out that has not reaped it, so a superseded or abandoned
// search leaves neither a running git nor a zombie.
struct Reaper {
  pid_t pid = -1;
  ~Reaper() {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    wait_child(pid);
  }
  int reap() {
    int status = wait_child(pid);
    pid = -1;
    return status;
  }
};

bool superseded(uint32_t search_id) {
  std::optional<uint32_t> last = get_counter(LAST_SEARCH_ID());
  return last && *last != search_id;
}

struct GitOutput {
  int status = -1;
  std::string out;
};

// Git's whole standard output once it has ended; absent when it could not start, a pipe
// could not be read, or a newer search started while it ran.
std::optional<GitOutput> run_watched_git(const std::vector<std::string>& argv,
                                         const std::string& repo_path, uint32_t search_id) {
  std::optional<Child> child = spawn_process(argv, repo_path);
  if (!child) return std::nullopt;
  Drain out, err;
  Reaper git{child->pid};  // destroyed before the drains, so their pipes reach their end
  bool draining = start_drain(out, child->out_fd);
  if (!start_drain(err, child->err_fd) || !draining) return std::nullopt;
  std::future<void> out_finished = out.finished.get_future();
  while (out_finished.wait_for(kWatchInterval) != std::future_status::ready) {
    if (superseded(search_id)) return std::nullopt;
  }
  GitOutput result{git.reap(), std::move(out.text)};
  err.thread.join();
  // Git's complaints (a bad repository path, say) belong on the server's standard error.
  if (!err.text.empty()) write_stderr(err.text);
  if (!out.ok) return std::nullopt;
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
  try {
    std::thread(run_diff_search, id, repo_path, search_text, num_results, start_commit_index)
        .detach();
  } catch (...) {
    // Without a thread the search ends at once, so its polls do not wait for ever.
    std::optional<SearchResults> none;
    store_outcome(id, none);
  }
  return id;
}

void run_diff_search(uint32_t search_id, const std::string& repo_path,
                     const std::string& search_text, uint64_t num_results,
                     uint64_t start_commit_index) noexcept {
  std::optional<SearchResults> results;
  try {
    results = search(search_id, repo_path, search_text, num_results, start_commit_index);
  } catch (...) {
    results.reset();
  }
  try {
    store_outcome(search_id, results);
  } catch (...) {
  }
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
