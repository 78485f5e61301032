// One worker thread, started when the first load is queued and ended when none is left.
#include "server/window_loads.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>

#include "git/queries/patches/patches.hpp"
#include "git/reading/request_budget.hpp"
#include "server/changed_files.hpp"
#include "stores/threads.hpp"

namespace brackwen {
namespace {

struct WindowLoads {
  std::mutex mutex;
  std::condition_variable idle;
  std::deque<std::shared_ptr<WindowLoad>> queued;
  std::shared_ptr<WindowLoad> running;  // whose alone entries still answer lookups
  bool working = false;                 // a worker owns the queue
};

WindowLoads& WINDOW_LOADS() {
  static WindowLoads loads;
  return loads;
}

// Hands the queue back, however the worker ends: those who wait for it must not wait for ever.
struct WorkerEnd {
  WindowLoads& loads;
  ~WorkerEnd() {
    std::lock_guard lock(loads.mutex);
    loads.running.reset();
    loads.working = false;
    loads.idle.notify_all();
  }
};

// The next load, taken off the queue and copied: its alone entries may grow meanwhile.
std::optional<WindowLoad> next_load(WindowLoads& loads) {
  std::lock_guard lock(loads.mutex);
  loads.running.reset();
  if (loads.queued.empty()) return std::nullopt;
  loads.running = std::move(loads.queued.front());
  loads.queued.pop_front();
  return *loads.running;
}

void work(WindowLoads& loads) {
  WorkerEnd end{loads};
  while (std::optional<WindowLoad> load = next_load(loads)) {
    // The load's runs live under the cap its request's would have had.
    RequestBudgetScope budget(std::make_shared<RequestBudget>(LOOP_READ_CAP));
    run_reported("Loading the changed files of a history", [&] { load_window(*load); });
  }
}

}  // namespace

void queue_window_load(const std::string& repo_path, std::shared_ptr<const CommitsAndRefs> history,
                       std::optional<PatchesCacheEntry> alone) {
  WindowLoads& loads = WINDOW_LOADS();
  {
    std::lock_guard lock(loads.mutex);
    WindowLoad* last = loads.queued.empty() ? loads.running.get() : loads.queued.back().get();
    if (last && last->repo_path == repo_path && last->history == history) {
      if (alone) last->alone.push_back(std::move(*alone));
      return;
    }
    auto load = std::make_shared<WindowLoad>(WindowLoad{repo_path, std::move(history), {}});
    std::erase_if(loads.queued, [&](const std::shared_ptr<WindowLoad>& older) {
      if (older->repo_path != repo_path) return false;
      for (PatchesCacheEntry& entry : older->alone) load->alone.push_back(std::move(entry));
      return true;
    });
    if (alone) load->alone.push_back(std::move(*alone));
    loads.queued.push_back(std::move(load));
    if (loads.working) return;
    loads.working = true;
  }
  if (!start_background_thread("Loading the changed files of a history",
                               [&loads] { work(loads); })) {
    work(loads);
  }
}

bool window_load_running(const std::string& repo_path,
                         const std::shared_ptr<const CommitsAndRefs>& history) {
  WindowLoads& loads = WINDOW_LOADS();
  std::lock_guard lock(loads.mutex);
  return loads.running && loads.running->repo_path == repo_path &&
         loads.running->history == history;
}

bool window_loads_idle() {
  WindowLoads& loads = WINDOW_LOADS();
  std::lock_guard lock(loads.mutex);
  return !loads.working;
}

void wait_for_window_loads() {
  WindowLoads& loads = WINDOW_LOADS();
  std::unique_lock lock(loads.mutex);
  loads.idle.wait(lock, [&] { return !loads.working; });
}

std::optional<PatchesCacheEntry> read_alone_for(const std::string& repo_path,
                                                const Commit& commit) {
  WindowLoads& loads = WINDOW_LOADS();
  std::lock_guard lock(loads.mutex);
  auto in = [&](const WindowLoad* load) -> std::optional<PatchesCacheEntry> {
    if (!load || load->repo_path != repo_path) return std::nullopt;
    for (const PatchesCacheEntry& entry : load->alone) {
      if (kept_commit(entry, commit)) return entry;
    }
    return std::nullopt;
  };
  if (auto found = in(loads.running.get())) return found;
  for (const auto& load : loads.queued) {
    if (auto found = in(load.get())) return found;
  }
  return std::nullopt;
}

}  // namespace brackwen
