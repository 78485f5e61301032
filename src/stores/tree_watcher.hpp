// A recursive watch of a directory tree on inotify, which watches single directories only:
// one watch per directory, kept in step as directories appear, move and disappear.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace brackwen {

// What one wake-up of the watch found.
struct TreeEvent {
  // Changed paths, each the root text as given joined with the path below it.
  std::vector<std::string> paths;
  // The kernel's queue overflowed and events were lost: anything under the root may have
  // changed.
  bool overflow = false;
};

struct TreeWatch {
  TreeWatch() = default;
  ~TreeWatch();
  TreeWatch(const TreeWatch&) = delete;
  TreeWatch& operator=(const TreeWatch&) = delete;

  // Settings, read by open_tree_watch and the reads after it.
  std::function<bool()> cancelled = [] { return false; };   // checked between directories
  size_t max_watches = std::numeric_limits<size_t>::max();  // below the kernel's own limit

  // State.
  struct Dir {
    int parent = -1;  // -1 for the root
    std::string name;
  };
  int fd = -1;
  std::string root;
  int root_wd = -1;
  std::unordered_map<int, Dir> dirs;                 // watch descriptor -> place in the tree
  std::map<std::pair<int, std::string>, int> below;  // (parent, name) -> watch descriptor
  bool limit_reached = false;  // some directories are not watched: no watch was left
  bool root_lost = false;      // the root was deleted or moved away
};

// Watches `root` and every directory below it (symbolic links below the root are not
// followed). False when the root itself cannot be watched; a directory below it that cannot
// be watched is left out.
bool open_tree_watch(TreeWatch& watch, const std::string& root);

// The number of inotify watches the user may hold: the system-wide setting or, inside a user
// namespace, the smaller limit of that namespace. Absent when neither can be read.
std::optional<size_t> user_watch_limit();

// Waits up to `timeout_ms` for events, reads all that are queued and hands them to
// `on_event` as one TreeEvent; `on_event` is not called when nothing changed.
void read_tree_events(TreeWatch& watch, int timeout_ms,
                      const std::function<void(const TreeEvent&)>& on_event);

}  // namespace brackwen
