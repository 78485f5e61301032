// The workspace scan: a bounded walk that collects repository directories, entering each
// directory once however many symbolic links lead to it.
#include "stores/workspace_scan.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "parser/utf8.hpp"
#include "stores/threads.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;

constexpr uint8_t MAX_DEPTH = 5;
constexpr size_t MAX_ENTRIES = 49;

// A directory as the file system knows it, whatever path reaches it.
using DirId = std::pair<dev_t, ino_t>;

std::optional<DirId> directory_id(const fs::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
  return DirId{info.st_dev, info.st_ino};
}

bool is_link(const fs::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
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

// A directory the walk enters, under the one path that claimed it.
struct ScanDir {
  fs::path path;
  size_t links = 0;   // symbolic links among the entries that lead to it
  size_t parent = 0;  // the directory whose listing holds it
  size_t place = 0;   // where that listing holds it
};

// Among the paths of one level that reach the same directory, the one with the fewest
// symbolic links, then the least in byte order: the real path when there is one, and the same
// choice whatever order the listings come in.
bool before(const ScanDir& a, const ScanDir& b) {
  return std::tie(a.links, a.path.native()) < std::tie(b.links, b.path.native());
}

// The directories first reached one level below `level`, each once, appended to `dirs`.
std::vector<size_t> next_level(std::vector<ScanDir>& dirs, const std::vector<size_t>& level,
                               std::set<DirId>& claimed) {
  std::map<DirId, ScanDir> reached;
  for (size_t parent : level) {
    auto entries = list_directory(dirs[parent].path);
    if (entries.size() > MAX_ENTRIES) continue;
    for (size_t place = 0; place < entries.size(); ++place) {
      fs::path& entry = entries[place];
      if (is_hidden(entry)) continue;
      auto id = directory_id(entry);
      if (!id || claimed.contains(*id)) continue;
      size_t links = dirs[parent].links + (is_link(entry) ? 1 : 0);
      ScanDir dir{std::move(entry), links, parent, place};
      auto [it, fresh] = reached.try_emplace(*id, dir);
      if (!fresh && before(dir, it->second)) it->second = std::move(dir);
    }
  }
  std::vector<size_t> added;
  for (auto& [id, dir] : reached) {
    claimed.insert(id);
    added.push_back(dirs.size());
    dirs.push_back(std::move(dir));
  }
  return added;
}

// Level by level, so that a directory is claimed by its shortest paths: a link deep in one
// folder that leads back to a sibling near the top must not claim that sibling at a depth
// where the limit cuts off what lies below it.
std::vector<ScanDir> walk(const fs::path& top) {
  std::vector<ScanDir> dirs{{top}};
  auto id = directory_id(top);
  if (!id) return dirs;
  std::set<DirId> claimed{*id};
  std::vector<size_t> level{0};
  for (uint8_t depth = 0; depth < MAX_DEPTH && !level.empty(); ++depth) {
    level = next_level(dirs, level, claimed);
  }
  return dirs;
}

// Depth first and pre-order, siblings in listing order: the order of a walk without links.
void collect(const std::vector<ScanDir>& dirs, const std::vector<std::vector<size_t>>& children,
             size_t at, std::vector<fs::path>& result) {
  if (is_git_repo(dirs[at].path)) result.push_back(dirs[at].path);
  for (size_t child : children[at]) collect(dirs, children, child, result);
}

}  // namespace

bool is_git_repo(const fs::path& path) noexcept {
  std::error_code ec;
  if (!fs::is_directory(path, ec)) return false;
  // status() succeeding is what counts: a directory, a file or anything else named .git.
  auto status = fs::status(path / ".git", ec);
  return !ec && fs::exists(status);
}

std::vector<fs::path> scan_for_repos(const fs::path& dir, bool descend) {
  if (!descend) return is_git_repo(dir) ? std::vector<fs::path>{dir} : std::vector<fs::path>{};
  std::vector<ScanDir> dirs = walk(dir);
  std::vector<std::vector<size_t>> children(dirs.size());
  for (size_t i = 1; i < dirs.size(); ++i) children[dirs[i].parent].push_back(i);
  for (auto& list : children) {
    std::ranges::sort(list, {}, [&](size_t i) { return dirs[i].place; });
  }
  std::vector<fs::path> result;
  collect(dirs, children, 0, result);
  return result;
}

std::vector<std::string> scan_workspace(const std::string& repo_path,
                                        bool workspaces_enabled) noexcept {
  std::vector<std::string> found;
  // A NUL would cut the path short and scan some other folder.
  if (repo_path.find('\0') != std::string::npos) return found;
  bool whole = run_reported("Scanning for repositories", [&] {
    for (const auto& repo : scan_for_repos(fs::path(repo_path), workspaces_enabled)) {
      found.push_back(decode_utf8_lossy(repo.native()));
    }
  });
  if (!whole) found.clear();  // out of memory: nothing rather than a partial walk
  return found;
}

}  // namespace brackwen
