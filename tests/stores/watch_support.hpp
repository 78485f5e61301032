// Waiting helpers for the watcher tests: file events arrive on another thread, so tests poll
// with a generous deadline instead of sleeping a fixed time.
#pragma once
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "stores/stores.hpp"

namespace brackwen::test {

template <class F>
bool eventually(F&& condition, std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
  auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

inline std::optional<bool> flag_of(const std::string& repo) {
  auto flags = get_repo_changed();
  if (!flags) return std::nullopt;
  auto it = flags->find(repo);
  if (it == flags->end()) return std::nullopt;
  return it->second;
}

inline void append_file(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::app) << text;
}

}  // namespace brackwen::test
