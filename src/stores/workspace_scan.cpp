// The workspace scan: a bounded depth-first walk that collects repository directories.
#include "stores/workspace_scan.hpp"

#include "parser/utf8.hpp"
#include "stores/threads.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;

constexpr uint8_t MAX_DEPTH = 5;
constexpr size_t MAX_ENTRIES = 49;

bool is_directory_followed(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// Entries that cannot be read are left out; a listing that cannot be opened is empty.
std::vector<fs::path> list_directory(const fs::path& dir) {
  std::vector<fs::path> entries;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) entries.push_back(it->path());
  return entries;
}

bool is_hidden(const fs::path& path) {
  std::string name = path.filename().native();
  bool text = is_valid_utf8(name);
  return text && name.starts_with('.');
}

}  // namespace

bool is_git_repo(const fs::path& path) noexcept {
  std::error_code ec;
  if (!fs::is_directory(path, ec)) return false;
  // status() succeeding is what counts: a directory, a file or anything else named .git.
  auto status = fs::status(path / ".git", ec);
  return !ec && fs::exists(status);
}

void scan_for_repos(const fs::path& dir, bool descend, std::vector<fs::path>& result,
                    uint8_t depth) {
  if (is_git_repo(dir)) result.push_back(dir);
  if (!descend || depth >= MAX_DEPTH) return;
  auto entries = list_directory(dir);
  if (entries.size() > MAX_ENTRIES) return;
  for (const auto& entry : entries) {
    if (!is_directory_followed(entry) || is_hidden(entry)) continue;
    scan_for_repos(entry, true, result, depth + 1);
  }
}

std::vector<std::string> scan_workspace(const std::string& repo_path,
                                        bool workspaces_enabled) noexcept {
  std::vector<std::string> found;
  // A NUL would cut the path short and scan some other folder.
  if (repo_path.find('\0') != std::string::npos) return found;
  bool whole = run_reported("Scanning for repositories", [&] {
    std::vector<fs::path> repos;
    scan_for_repos(fs::path(repo_path), workspaces_enabled, repos, 0);
    for (const auto& repo : repos) found.push_back(decode_utf8_lossy(repo.native()));
  });
  if (!whole) found.clear();  // out of memory: nothing rather than a partial walk
  return found;
}

}  // namespace brackwen
