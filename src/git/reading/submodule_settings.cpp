// Finding the repository and the submodules a status looks into where git finds them, and
// gathering their configurations' settings. The gitlinks of an index are kept while the index
// is unchanged.
#include "git/reading/submodule_settings.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <tbb/parallel_for_each.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "git/process.hpp"
#include "git/reading/config_listing.hpp"
#include "git/reading/reading_argv.hpp"
#include "git/reading/repository_location.hpp"
#include "git/reading/request_budget.hpp"
#include "git/run_git.hpp"
#include "parser/diagnostics.hpp"
#include "stores/environment.hpp"
#include "stores/read_cache.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;

// A gitlink's index entry holds its mode, 0160000, as these four bytes in every index version.
constexpr std::string_view GITLINK_MODE{"\0\0\xE0\0", 4};

// What git's status does not hand on to the git it runs in a submodule, and what would make
// a git run here for that submodule look elsewhere than that one does.
constexpr std::string_view NOT_HANDED_ON[] = {"GIT_WORK_TREE", "GIT_INDEX_FILE", "GIT_COMMON_DIR",
                                              "GIT_OBJECT_DIRECTORY"};

// Whether the file may hold the bytes; yes when it cannot be read as a regular file, since
// then only git can tell.
bool may_hold(const std::string& file, std::string_view bytes) {
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

// The index and every shared index beside it (a split index names one of them by its hash,
// and a new one comes with a new index). Absent when the folder cannot be listed.
std::optional<std::vector<FileStamp>> index_stamps(const RepositoryLocation& location) {
  std::vector<FileStamp> stamps{file_stamp(location.index_file)};
  fs::path prefix(location.shared_index_prefix);
  std::string name = prefix.filename().string();
  std::error_code error;
  for (fs::directory_iterator entry(prefix.parent_path(), error), end; !error && entry != end;
       entry.increment(error)) {
    if (entry->path().filename().string().starts_with(name))
      stamps.push_back(file_stamp(entry->path().string()));
  }
  if (error && error != std::errc::no_such_file_or_directory) return std::nullopt;
  return stamps;
}

// The settings so far with the protocol policy settled, for a lookup run before all are in.
std::vector<std::string> finished(const ReadingSettings& settings) {
  ReadingSettings copy = settings;
  finish_settings(copy);
  return std::move(copy.settings);
}

// Keeps the paths of the gitlink entries of "<mode> <id> <stage>\t<path>\0" records, read as
// they come so that a large index is never held whole.
struct GitlinkReader {
  Gitlinks links;
  std::string partial;

  void entry(std::string_view record) {
    size_t tab = record.find('\t');
    if (record.starts_with("160000 ") && tab != std::string_view::npos)
      links.emplace_back(record.substr(tab + 1));
  }

  void read(std::string_view bytes) {
    while (!bytes.empty()) {
      size_t end = bytes.find('\0');
      if (end == std::string_view::npos) {
        partial.append(bytes);
        return;
      }
      if (partial.empty()) {
        entry(bytes.substr(0, end));
      } else {
        partial.append(bytes.substr(0, end));
        entry(partial);
        partial.clear();
      }
      bytes.remove_prefix(end + 1);
    }
  }
};

// The gitlinks of the index git finds at the place, as paths from the top of its work tree, or
// from the place's folder when not `full_name`.
std::optional<Gitlinks> list_gitlinks(const GitPlace& place, const ReadingSettings& settings,
                                      bool full_name) {
  GitArgs argv = pinned_git_argv(finished(settings));
  add_place_option(argv, place);
  argv.insert(argv.end(), {"ls-files", "--stage", "-z"});
  if (full_name) argv.emplace_back("--full-name");
  argv.insert(argv.end(), {"--", ":(top)"});
  GitlinkReader reader;
  StreamHandlers handlers;
  handlers.on_out = [&](std::string_view bytes) { reader.read(bytes); };
  handlers.restart = [&] { reader = GitlinkReader{}; };
  std::optional<StreamEnd> end = stream_reading_process(argv, place.dir, handlers);
  if (!end || end->status != 0) return std::nullopt;
  return std::move(reader.links);
}

// Listing the index costs git a line per file, a sixth of a status of a large work tree; most
// repositories hold no gitlink, and their index (and shared indexes) tell so at once. What was
// found is kept while those files are unchanged.
std::shared_ptr<const Gitlinks> index_gitlinks(const RepositoryLocation& location,
                                               const ReadingSettings& settings) {
  std::string key = location.index_file + '\0' + location.shared_index_prefix;
  if (auto kept = kept_gitlinks(key)) return kept;
  timespec start = read_start_time();
  auto before = index_stamps(location);
  bool may_hold_any = !before || std::any_of(before->begin(), before->end(), [](const auto& s) {
    return may_hold(s.path, GITLINK_MODE);
  });
  std::optional<Gitlinks> links = Gitlinks{};
  if (may_hold_any) links = list_gitlinks(location.place, settings, true);
  if (!links) return nullptr;
  auto found = std::make_shared<const Gitlinks>(std::move(*links));
  auto after = index_stamps(location);
  if (before && after && *before == *after && settled_before(*after, start))
    keep_gitlinks(key, {std::move(*after), found});
  return found;
}

// The gitlinks a status looks into: those whose folder holds a ".git" that git would read, a
// directory or a file (one naming no repository stops git's status).
std::vector<GitPlace> populated(const std::string& top, const Gitlinks& links) {
  std::vector<GitPlace> found;
  for (const std::string& link : links) {
    std::string dir = top + "/" + link;
    struct stat st {};
    if (::stat((dir + "/.git").c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)))
      found.push_back(GitPlace{std::move(dir), true});
  }
  return found;
}

// A directory by what it is, so that two paths to one submodule count once.
std::string real_path(const std::string& path) {
  std::error_code error;
  fs::path real = fs::canonical(path, error);
  return error ? path : real.string();
}

bool visit_located(const RepositoryLocation& location, ReadingSettings& settings,
                   std::vector<GitPlace>& next) {
  std::shared_ptr<const ConfigListing> listing = config_listing(location);
  if (!listing) return false;
  add_listing_settings(location.place, *listing, true, settings);
  // A refused read goes no further; a bare repository has no work tree to look into.
  if (settings.refused || !location.work_tree_top) return true;
  std::shared_ptr<const Gitlinks> links = index_gitlinks(location, settings);
  if (!links) return false;
  next = populated(*location.work_tree_top, *links);
  return true;
}

bool environment_hides_submodules() {
  for (std::string_view name : NOT_HANDED_ON) {
    if (!get_environment(name)) continue;
    write_stderr("git status not run: " + std::string(name) +
                 " is set, which the git a status runs in a submodule does not see\n");
    return true;
  }
  return false;
}

// Where git's answer cannot be read (it names a path holding a line feed), the careful way:
// nothing kept, and the whole index listed, its paths taken from the place's folder.
bool visit_unlocated(const GitPlace& place, ReadingSettings& settings,
                     std::vector<GitPlace>& next) {
  std::shared_ptr<const ConfigListing> listing = config_listing(place);
  if (!listing) return false;
  add_listing_settings(place, *listing, true, settings);
  if (settings.refused) return true;
  std::optional<Gitlinks> links = list_gitlinks(place, settings, false);
  if (!links) return false;
  next = populated(place.dir, *links);
  return true;
}

// One repository of the walk: its settings into `settings`, the submodules it looks into into
// `next`. False when the status must not run: where git fails, its status fails too.
bool visit(const GitPlace& place, ReadingSettings& settings, std::vector<GitPlace>& next) {
  LocationAnswer answer = locate_repository(place);
  if (!answer.location && (answer.git_failed || answer.stopped)) return false;
  if (!answer.location) {
    if (!visit_unlocated(place, settings, next)) return false;
  } else if (!visit_located(*answer.location, settings, next)) {
    return false;
  }
  return next.empty() || !environment_hides_submodules();
}

}  // namespace

bool add_status_settings(const std::string& repo_path, ReadingSettings& out) {
  std::mutex mutex;
  std::atomic<bool> stopped{false};
  std::unordered_set<std::string> visited{real_path(repo_path)};
  auto not_visited = [&](std::vector<GitPlace> places) {
    std::lock_guard lock(mutex);
    std::erase_if(places, [&](const GitPlace& place) {
      return !visited.insert(real_path(place.dir)).second;
    });
    return places;
  };
  std::vector<GitPlace> first;
  if (!visit(GitPlace{repo_path, false}, out, first)) return false;
  std::shared_ptr<RequestBudget> request = current_request_budget();
  tbb::parallel_for_each(not_visited(std::move(first)), [&](const GitPlace& place, auto& feeder) {
    if (stopped) return;
    RequestBudgetScope carried(request);
    ReadingSettings own;
    std::vector<GitPlace> next;
    if (!visit(place, own, next)) {
      stopped = true;
      return;
    }
    for (GitPlace& more : not_visited(std::move(next))) feeder.add(std::move(more));
    std::lock_guard lock(mutex);
    merge_settings(out, own);
  });
  return !stopped;
}

}  // namespace brackwen
