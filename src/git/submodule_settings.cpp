// Finding the submodules a status looks into, and gathering their configurations' settings.
#include "git/submodule_settings.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <tbb/parallel_for_each.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "git/process.hpp"
#include "git/reading_argv.hpp"
#include "git/request_budget.hpp"
#include "git/run_git.hpp"
#include "stores/environment.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;

// A gitlink's index entry holds its mode, 0160000, as these four bytes in every index version.
constexpr std::string_view GITLINK_MODE{"\0\0\xE0\0", 4};

// Whether the file may hold the bytes; yes when it cannot be read as a regular file, since
// then only git can tell.
bool may_hold(const fs::path& file, std::string_view bytes) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno != ENOENT;
  struct stat st {};
  bool found = true;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    auto size = static_cast<size_t>(st.st_size);
    void* map = size == 0 ? nullptr : ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (size == 0) found = false;
    if (map != MAP_FAILED && map != nullptr) {
      found = ::memmem(map, size, bytes.data(), bytes.size()) != nullptr;
      ::munmap(map, size);
    }
  }
  ::close(fd);
  return found;
}

// The git directory of the work tree at `dir`, found as git finds it there: ".git" itself, or
// the directory a ".git" file names. Absent where git would look further (above `dir`, or
// through the environment).
std::optional<fs::path> git_dir_of(const std::string& dir) {
  if (get_environment("GIT_DIR") || get_environment("GIT_INDEX_FILE")) return std::nullopt;
  fs::path dot_git = fs::path(dir) / ".git";
  std::error_code error;
  if (fs::is_directory(dot_git, error)) return dot_git;
  if (!fs::is_regular_file(dot_git, error)) return std::nullopt;
  std::string text;
  {
    std::ifstream in(dot_git, std::ios::binary);
    std::getline(in, text);
  }
  if (!text.empty() && text.back() == '\r') text.pop_back();
  constexpr std::string_view PREFIX = "gitdir: ";
  if (!text.starts_with(PREFIX)) return std::nullopt;
  fs::path named = text.substr(PREFIX.size());
  return named.is_absolute() ? named : fs::path(dir) / named;
}

// Listing the index costs git a line per file, a sixth of a status of a large work tree; most
// repositories hold no gitlink, and their index (and shared index) tells so at once.
bool may_hold_gitlinks(const std::string& dir) {
  auto git_dir = git_dir_of(dir);
  if (!git_dir) return true;
  if (may_hold(*git_dir / "index", GITLINK_MODE)) return true;
  std::error_code error;
  for (fs::directory_iterator entry(*git_dir, error), end; !error && entry != end;
       entry.increment(error)) {
    if (entry->path().filename().string().starts_with("sharedindex.") &&
        may_hold(entry->path(), GITLINK_MODE))
      return true;
  }
  return static_cast<bool>(error);
}

// The settings so far with the protocol policy settled, for a lookup run before all are in.
std::vector<std::string> finished(const ReadingSettings& settings) {
  ReadingSettings copy = settings;
  finish_settings(copy);
  return std::move(copy.settings);
}

// The gitlinks of the index git finds in `dir`, as paths from the top of its work tree.
std::optional<std::vector<std::string>> gitlinks(const std::string& dir,
                                                 const ReadingSettings& settings) {
  GitArgs argv = pinned_git_argv(finished(settings));
  argv.insert(argv.end(), {"ls-files", "--stage", "-z", "--full-name", "--", ":(top)"});
  std::optional<ProcessOutput> run = run_reading_process(argv, dir);
  if (!run || run->status != 0) return std::nullopt;
  std::vector<std::string> links;
  std::string_view rest = run->out;
  // "<mode> <id> <stage>\t<path>\0"
  while (!rest.empty()) {
    std::string_view entry = rest.substr(0, rest.find('\0'));
    rest.remove_prefix(std::min(rest.size(), entry.size() + 1));
    size_t tab = entry.find('\t');
    if (entry.starts_with("160000 ") && tab != std::string_view::npos)
      links.emplace_back(entry.substr(tab + 1));
  }
  return links;
}

std::optional<std::string> work_tree_top(const std::string& dir) {
  std::optional<ProcessOutput> run =
      run_reading_process({GIT_PROGRAM(), "rev-parse", "--show-toplevel"}, dir);
  if (!run || run->status != 0 || !run->out.ends_with('\n')) return std::nullopt;
  run->out.pop_back();
  return std::move(run->out);
}

// A directory by what it is, so that two paths to one submodule count once.
std::string real_path(const std::string& path) {
  std::error_code error;
  fs::path real = fs::canonical(path, error);
  return error ? path : real.string();
}

// The submodules a status in `dir` looks into: the gitlinks of its index whose directory holds
// a ".git". None where git cannot read the index or the work tree either.
std::vector<std::string> populated_submodules(const std::string& dir,
                                              const ReadingSettings& settings) {
  if (!may_hold_gitlinks(dir)) return {};
  auto links = gitlinks(dir, settings);
  if (!links || links->empty()) return {};
  auto top = work_tree_top(dir);
  if (!top) return {};
  std::vector<std::string> found;
  for (const std::string& link : *links) {
    std::string submodule = *top + "/" + link;
    std::error_code error;
    if (fs::exists(submodule + "/.git", error)) found.push_back(std::move(submodule));
  }
  return found;
}

}  // namespace

void add_submodule_settings(const std::string& repo_path, ReadingSettings& out) {
  std::mutex mutex;
  std::unordered_set<std::string> visited{real_path(repo_path)};
  auto not_visited = [&](std::vector<std::string> dirs) {
    std::lock_guard lock(mutex);
    std::erase_if(dirs,
                  [&](const std::string& dir) { return !visited.insert(real_path(dir)).second; });
    return dirs;
  };
  std::vector<std::string> first = not_visited(populated_submodules(repo_path, out));
  std::shared_ptr<RequestBudget> request = current_request_budget();
  tbb::parallel_for_each(first, [&](const std::string& dir, auto& feeder) {
    RequestBudgetScope carried(request);
    ReadingSettings own;
    // A configuration git cannot read makes the submodule's own status fail, not run anything.
    if (!add_repository_settings(dir, true, own)) return;
    for (std::string& more : not_visited(populated_submodules(dir, own)))
      feeder.add(std::move(more));
    std::lock_guard lock(mutex);
    merge_settings(out, own);
  });
}

}  // namespace brackwen
