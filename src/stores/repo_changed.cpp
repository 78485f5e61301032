// Both updates are one read-modify-write under the store's write lock, so a watcher event
// arriving at the same time can neither be lost nor bring back a flag that was dropped.
#include "stores/repo_changed.hpp"

#include "stores/stores.hpp"

namespace brackwen {
namespace {

void set_flag_if_watched(const std::string& repo_path, bool changed) {
  REPO_CHANGED().update([&](std::unordered_map<std::string, bool>& flags) {
    auto found = flags.find(repo_path);
    if (found != flags.end()) found->second = changed;
  });
}

}  // namespace

void clear_repo_changed_status(const std::string& repo_path) {
  set_flag_if_watched(repo_path, false);
}

void mark_repo_changed(const std::string& repo_path) {
  set_flag_if_watched(repo_path, true);
}

}  // namespace brackwen
