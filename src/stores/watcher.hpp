// Repository watching: the changed flag of each watched repository, set from file-system
// events under one root directory.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "stores/tree_watcher.hpp"

namespace brackwen {

// Resets the flags to one per path (each `start_changed`), drops the cached commits and
// configuration of every other repository, and starts watching `root_repo` on a detached
// thread unless it is watched already. A watcher of another root ends within 500 ms, and the
// new one subscribes once it has. A watch takes at most half of the user's inotify watches; a
// root with more directories is watched in part, which is said once on standard output. A root
// that could not be watched, or that was deleted or moved away, is free to be watched again.
void watch_repo(const std::vector<std::string>& repo_paths, const std::string& root_repo,
                bool start_changed);

// Forgets every flag and ends the running watcher within 500 ms.
void stop_watching_repo();

// Sets the flag of the repository of each relevant changed path: the longest watched path
// that is a byte prefix of it. An overflow sets every watched repository under `root` and
// the one holding it.
void on_repo_event(const std::string& root, const TreeEvent& event);

// False for what git writes on every run without changing anything a client shows: the
// reflogs under .git/logs and lock files.
bool is_relevant_change(std::string_view path);

// Watcher threads still running; they end within 500 ms of being replaced or stopped.
int running_watchers();

}  // namespace brackwen
