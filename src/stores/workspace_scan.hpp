// Finding the repositories at and below a folder the client opens.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace brackwen {

// A directory holding an entry ".git" of any kind (a linked working tree or a submodule has
// a file there). Symbolic links are followed.
bool is_git_repo(const std::filesystem::path& path) noexcept;

// `dir` when it is a repository; with `descend`, also the repositories below it, depth first
// in listing order, reading no directory at depth 5 or deeper and none that holds more than
// 49 entries. Hidden directories are not entered, and no directory is entered twice: one that
// several paths reach (symbolic links are followed) is found once, under the path with the
// fewest levels, then the fewest links, then the least in byte order.
std::vector<std::filesystem::path> scan_for_repos(const std::filesystem::path& dir, bool descend);

// The reply of a scan: the repositories found as texts, names that are not UTF-8 written
// with U+FFFD. Never throws; a folder that cannot be read gives nothing.
std::vector<std::string> scan_workspace(const std::string& repo_path,
                                        bool workspaces_enabled) noexcept;

}  // namespace brackwen
