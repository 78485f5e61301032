// Repository watching: the flags in REPO_CHANGED, the watcher thread of the root in
// WATCHED_REPO, and the filter that decides which changed paths count.
#include "stores/watcher.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

#include "parser/diagnostics.hpp"
#include "parser/text.hpp"
#include "parser/utf8.hpp"
#include "stores/stores.hpp"
#include "stores/threads.hpp"

namespace brackwen {
namespace {

// Short enough that a replaced watcher ends well within 500 ms.
constexpr int POLL_MS = 100;

// Inotify watches are counted per user, across all of the user's programs (editors, build
// tools, file managers): a watch of "/" would otherwise take them all. Half leaves the others
// at least as many as the watch takes, and still covers all but the largest repositories.
constexpr size_t WATCH_SHARE_DIVISOR = 2;

// Bumped, under the write lock of WATCHED_REPO, whenever the watched root changes hands, so
// a watcher ends as soon as it is not the newest, even when its root comes back before it
// looked again.
std::atomic<uint64_t> watcher_generation{0};
std::atomic<int> live_watchers{0};

// Starting a watch is one compare-and-set, so two watchers of one root never both start.
std::optional<uint64_t> claim_root(const std::string& root) {
  std::optional<uint64_t> claimed;
  WATCHED_REPO().update([&](std::string& watched) {
    if (watched == root) return;
    watched = root;
    claimed = ++watcher_generation;
  });
  return claimed;
}

// Gives the root up when this watcher still holds it, so a later watch of it can start.
void release_root(uint64_t generation) {
  WATCHED_REPO().update([&](std::string& watched) {
    if (watcher_generation != generation) return;
    watched.clear();
    ++watcher_generation;
  });
}

// The one inotify instance of the watcher threads. A new watcher subscribes only once the one
// it replaced has closed its instance: the old watches leave the user's count only then, and a
// new watch made while a large one still held them could get none.
struct InstanceSlot {
  std::mutex mutex;
  std::condition_variable freed;
  bool taken = false;
};

InstanceSlot& instance_slot() {
  // Never destroyed: detached watcher threads may still use it while the process exits.
  static auto* slot = new InstanceSlot;
  return *slot;
}

// Takes the slot once it is free; false when replaced first.
bool take_instance_slot(const std::function<bool()>& replaced) {
  InstanceSlot& slot = instance_slot();
  std::unique_lock lock(slot.mutex);
  // The holder lets go within POLL_MS when it was replaced; when it is newer than this
  // watcher, this one was replaced and the timeout lets it see so in time.
  while (slot.taken && !replaced()) {
    slot.freed.wait_for(lock, std::chrono::milliseconds(POLL_MS));
  }
  if (replaced()) return false;
  slot.taken = true;
  return true;
}

// Frees the slot when it goes, after a TreeWatch declared after it has closed its instance.
struct InstanceSlotHold {
  ~InstanceSlotHold() {
    InstanceSlot& slot = instance_slot();
    std::lock_guard lock(slot.mutex);
    slot.taken = false;
    slot.freed.notify_all();
  }
};

void watch_until_replaced(const std::string& root, uint64_t generation) {
  auto replaced = [generation] { return watcher_generation != generation; };
  // Replaced before it could begin (a stop right after the watch): take no inotify instance, a
  // scarce per-user resource.
  if (!take_instance_slot(replaced)) return;
  InstanceSlotHold hold;
  TreeWatch watch;
  watch.cancelled = replaced;
  if (auto limit = user_watch_limit()) watch.max_watches = *limit / WATCH_SHARE_DIVISOR;
  if (!open_tree_watch(watch, root)) {
    release_root(generation);
    return;
  }
  auto on_event = [&root](const TreeEvent& event) { on_repo_event(root, event); };
  bool partial_told = false;
  while (!replaced()) {
    // Watching goes on without the directories past the share; say so once, since changes in
    // them go unseen.
    if (watch.limit_reached && !partial_told) {
      write_stdout("Partial watch: some folders under " + root +
                   " are not watched (inotify watch limit)\n");
      partial_told = true;
    }
    read_tree_events(watch, POLL_MS, on_event);
    // A root deleted (a repository removed and cloned again) or moved away is no longer
    // watched; free it so that the next watch of it subscribes afresh.
    if (watch.root_lost) {
      release_root(generation);
      break;
    }
  }
}

// Body of the watcher thread of a root already claimed; it stops counting as running on every
// way out.
void run_repo_watcher(const std::string& root, uint64_t generation) {
  try {
    watch_until_replaced(root, generation);
  } catch (...) {
    // The root is given up, or no later watch of it could start; the thread reports the error.
    release_root(generation);
    --live_watchers;
    throw;
  }
  --live_watchers;
}

bool* longest_prefix_flag(std::unordered_map<std::string, bool>& flags, std::string_view path) {
  bool* found = nullptr;
  size_t found_size = 0;
  for (auto& [key, flag] : flags) {
    if (found && key.size() <= found_size) continue;
    if (!path.starts_with(key)) continue;
    found = &flag;
    found_size = key.size();
  }
  return found;
}

// A watched path inside the root, by whole components: /ws/a is under /ws, /ws2 is not.
bool is_under(std::string_view key, std::string_view root) {
  if (!key.starts_with(root)) return false;
  return key.size() == root.size() || root.back() == '/' || key[root.size()] == '/';
}

void mark_all_under(std::unordered_map<std::string, bool>& flags, const std::string& root) {
  if (root.empty()) return;
  for (auto& [key, flag] : flags) {
    if (is_under(key, root)) flag = true;
  }
  if (bool* holder = longest_prefix_flag(flags, root)) *holder = true;
}

// The path's components as text: "." dropped, and names that are not valid UTF-8 left out.
std::vector<std::string_view> text_components(std::string_view path) {
  std::vector<std::string_view> parts = path_components(path);
  std::erase_if(parts, [](std::string_view part) { return part == "." || !is_valid_utf8(part); });
  return parts;
}

}  // namespace

void watch_repo(const std::vector<std::string>& repo_paths, const std::string& root_repo,
                bool start_changed) {
  std::unordered_map<std::string, bool> flags;
  for (const auto& path : repo_paths) flags.emplace(path, start_changed);
  auto unwatched = [&](const auto& entry) { return !flags.contains(entry.first); };
  bool pruned =
      COMMITS_CACHE().update([&](CommitsCache& cache) { std::erase_if(cache, unwatched); });
  if (pruned) {
    CONFIG_CACHE().update([&](auto& cache) { std::erase_if(cache, unwatched); });
  }
  set_repo_changed(std::move(flags));

  // Claimed here rather than on the new thread: threads may start out of order, and a stop or
  // another root requested meanwhile must not be overtaken by this older request.
  auto generation = claim_root(root_repo);
  if (!generation) return;  // its watcher runs already
  ++live_watchers;
  bool started = start_background_thread(
      "Watching " + root_repo,
      [root = root_repo, generation = *generation] { run_repo_watcher(root, generation); });
  if (!started) {
    // Nothing is watched, as when the root fails.
    --live_watchers;
    release_root(*generation);
  }
}

void stop_watching_repo() {
  set_repo_changed({});
  WATCHED_REPO().update([](std::string& watched) {
    watched.clear();
    ++watcher_generation;
  });
}

void on_repo_event(const std::string& root, const TreeEvent& event) {
  std::vector<std::string_view> relevant;
  for (const auto& path : event.paths) {
    if (is_valid_utf8(path) && is_relevant_change(path)) relevant.push_back(path);
  }
  if (relevant.empty() && !event.overflow) return;
  REPO_CHANGED().update([&](std::unordered_map<std::string, bool>& flags) {
    if (event.overflow) mark_all_under(flags, root);
    for (auto path : relevant) {
      if (bool* flag = longest_prefix_flag(flags, path)) *flag = true;
    }
  });
}

bool is_relevant_change(std::string_view path) {
  auto parts = text_components(path);
  for (size_t i = 0; i < parts.size(); ++i) {
    if (parts[i] != ".git") continue;
    if (i + 1 < parts.size() && parts[i + 1] == "logs") return false;
    break;
  }
  std::string_view last = parts.empty() ? std::string_view() : parts.back();
  return last.find(".lock") == std::string_view::npos;
}

int running_watchers() {
  return live_watchers;
}

}  // namespace brackwen
