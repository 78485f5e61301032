// The inotify side of repository watching: keeps one watch per directory of the tree and
// turns the kernel's per-directory events into paths below the root.
#include "stores/tree_watcher.hpp"

#include <dirent.h>
#include <errno.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace brackwen {
namespace {

constexpr uint32_t DIR_MASK = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM |
                              IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                              IN_EXCL_UNLINK;

constexpr int MAX_READS_PER_CALL = 16;

// Directory renames whose source was seen in this batch: cookie -> watch descriptor.
using PendingMoves = std::unordered_map<uint32_t, int>;

std::string join(const std::string& dir, std::string_view name) {
  if (dir.empty()) return std::string(name);
  std::string out = dir;
  if (out.back() != '/') out += '/';
  out += name;
  return out;
}

std::string path_of(const TreeWatch& w, int wd) {
  std::vector<const std::string*> names;
  // Bounded by the number of watches, so a corrupted chain cannot loop forever.
  for (size_t steps = 0; steps <= w.dirs.size(); ++steps) {
    auto it = w.dirs.find(wd);
    if (it == w.dirs.end() || it->second.parent < 0) break;
    names.push_back(&it->second.name);
    wd = it->second.parent;
  }
  std::string path = w.root;
  for (auto it = names.rbegin(); it != names.rend(); ++it) path = join(path, **it);
  return path;
}

int add_watch(TreeWatch& w, const std::string& path, uint32_t extra) {
  if (w.dirs.size() >= w.max_watches) {
    w.limit_reached = true;
    return -1;
  }
  int wd = inotify_add_watch(w.fd, path.c_str(), DIR_MASK | extra);
  if (wd < 0 && errno == ENOSPC) w.limit_reached = true;
  return wd;
}

// Puts `wd` at (parent, name); a directory already known elsewhere is moved there.
void link(TreeWatch& w, int wd, int parent, const std::string& name) {
  if (auto it = w.dirs.find(wd); it != w.dirs.end()) {
    auto old = w.below.find({it->second.parent, it->second.name});
    if (old != w.below.end() && old->second == wd) w.below.erase(old);
  }
  w.dirs[wd] = {parent, name};
  w.below[{parent, name}] = wd;
}

void forget(TreeWatch& w, int wd) {
  auto it = w.dirs.find(wd);
  if (it == w.dirs.end()) return;
  auto place = w.below.find({it->second.parent, it->second.name});
  if (place != w.below.end() && place->second == wd) w.below.erase(place);
  w.dirs.erase(it);
}

// Ends the watches of a directory that left the tree, and of everything below it.
void unwatch_subtree(TreeWatch& w, int top) {
  std::vector<int> pending{top};
  while (!pending.empty()) {
    int wd = pending.back();
    pending.pop_back();
    for (auto it = w.below.lower_bound({wd, std::string()});
         it != w.below.end() && it->first.first == wd; ++it) {
      pending.push_back(it->second);
    }
    inotify_rm_watch(w.fd, wd);
    forget(w, wd);
  }
}

bool is_directory_entry(const std::string& path, const dirent& entry) {
  if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_DIR;
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Watches every directory below the watched directory `top`. With `found`, the path of
// every entry met is added to it: they appeared before their directory's watch existed.
void watch_below(TreeWatch& w, int top, std::vector<std::string>* found) {
  std::vector<int> pending{top};
  while (!pending.empty() && !w.cancelled()) {
    int wd = pending.back();
    pending.pop_back();
    std::string dir_path = path_of(w, wd);
    DIR* dir = opendir(dir_path.c_str());
    if (!dir) continue;
    while (const dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string path = join(dir_path, name);
      if (found) found->push_back(path);
      if (w.limit_reached || !is_directory_entry(path, *entry)) continue;
      int child = add_watch(w, path, IN_DONT_FOLLOW);
      if (child < 0 || child == wd) continue;
      link(w, child, wd, name);
      pending.push_back(child);
    }
    closedir(dir);
  }
}

void watch_new_directory(TreeWatch& w, int parent, const std::string& name, const std::string& path,
                         TreeEvent& out) {
  if (w.limit_reached) return;
  int wd = add_watch(w, path, IN_DONT_FOLLOW);
  if (wd < 0) return;
  link(w, wd, parent, name);
  watch_below(w, wd, &out.paths);
}

void handle_directory_event(TreeWatch& w, const inotify_event& ev, const std::string& name,
                            const std::string& path, PendingMoves& moves, TreeEvent& out) {
  if (ev.mask & IN_MOVED_FROM) {
    auto it = w.below.find({ev.wd, name});
    if (it != w.below.end()) moves[ev.cookie] = it->second;
    return;
  }
  if (ev.mask & IN_MOVED_TO) {
    auto it = moves.find(ev.cookie);
    if (it == moves.end()) {
      watch_new_directory(w, ev.wd, name, path, out);
      return;
    }
    // A rename inside the tree: the watches stay, only the directory's place changes.
    link(w, it->second, ev.wd, name);
    moves.erase(it);
    return;
  }
  if (ev.mask & IN_CREATE) watch_new_directory(w, ev.wd, name, path, out);
}

void handle_event(TreeWatch& w, const inotify_event& ev, PendingMoves& moves, TreeEvent& out) {
  if (ev.mask & IN_Q_OVERFLOW) {
    out.overflow = true;
    return;
  }
  if (!w.dirs.contains(ev.wd)) return;  // a watch already ended
  if (ev.wd == w.root_wd && (ev.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED))) {
    w.root_lost = true;  // paths built from the root text would now name something else
  }
  if (ev.mask & IN_IGNORED) {
    forget(w, ev.wd);
    return;
  }
  std::string dir_path = path_of(w, ev.wd);
  std::string name(ev.name, ev.len ? strnlen(ev.name, ev.len) : 0);
  std::string path = name.empty() ? dir_path : join(dir_path, name);
  out.paths.push_back(path);
  if (!name.empty() && (ev.mask & IN_ISDIR)) handle_directory_event(w, ev, name, path, moves, out);
}

}  // namespace

TreeWatch::~TreeWatch() {
  if (fd >= 0) close(fd);
}

bool open_tree_watch(TreeWatch& w, const std::string& root) {
  // inotify takes a C string: a NUL inside the root would watch some other directory.
  if (root.empty() || root.find('\0') != std::string::npos) return false;
  w.fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (w.fd < 0) return false;
  w.root = root;
  // The root itself may be a symbolic link the client chose; below it links are not followed.
  int wd = add_watch(w, root, 0);
  if (wd < 0) return false;
  w.root_wd = wd;
  w.dirs[wd] = {-1, ""};
  watch_below(w, wd, nullptr);
  return true;
}

std::optional<size_t> user_watch_limit() {
  // The kernel counts a watch against every namespace up to the initial one; the initial
  // one's limit and the current one's are the two that can be read from here.
  std::optional<size_t> limit;
  for (const char* file :
       {"/proc/sys/fs/inotify/max_user_watches", "/proc/sys/user/max_inotify_watches"}) {
    size_t value = 0;
    if (std::ifstream(file) >> value) limit = std::min(limit.value_or(value), value);
  }
  return limit;
}

void read_tree_events(TreeWatch& w, int timeout_ms,
                      const std::function<void(const TreeEvent&)>& on_event) {
  pollfd p{w.fd, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return;
  alignas(inotify_event) char buffer[64 * 1024];
  TreeEvent out;
  PendingMoves moves;
  // Bounded, so that a flood of events (a checkout of a large tree) still lets the owner
  // look up between two calls; what is left is read by the next call.
  for (int reads = 0; reads < MAX_READS_PER_CALL; ++reads) {
    ssize_t n = read(w.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;  // counted: a signal storm cannot keep it here
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto& ev = *reinterpret_cast<const inotify_event*>(buffer + at);
      handle_event(w, ev, moves, out);
      at += static_cast<ssize_t>(sizeof(inotify_event) + ev.len);
    }
  }
  // A rename whose target never came moved the directory out of the tree.
  for (const auto& [cookie, wd] : moves) unwatch_subtree(w, wd);
  // Directories made while events were being dropped have no watch yet.
  if (out.overflow && w.dirs.contains(w.root_wd)) watch_below(w, w.root_wd, nullptr);
  if (!out.paths.empty() || out.overflow) on_event(out);
}

}  // namespace brackwen
