// One `git config --show-scope --show-origin -z --list` in a folder, parsed into its entries,
// capped, and kept while the files it names (and those git would read were they there) are
// unchanged.
#include "git/reading/config_listing.hpp"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <unordered_set>
#include <vector>

#include "git/git_version.hpp"
#include "git/process.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"
#include "parser/diagnostics.hpp"
#include "stores/environment.hpp"
#include "stores/read_cache.hpp"

namespace brackwen {
namespace {

constexpr GitVersion FIRST_WITH_SHOW_SCOPE = {2, 26, 0};
// GIT_CONFIG_GLOBAL and GIT_CONFIG_SYSTEM name the files git reads from this version on; an
// older git reads its usual ones whatever they say.
constexpr GitVersion FIRST_WITH_CONFIG_FILE_VARIABLES = {2, 32, 0};

// Far above any honest configuration (a few KB), counted with the entries parsed from it: a
// repository whose includes nest can make git list gigabytes.
constexpr size_t LISTING_CAP = size_t{64} << 20;

constexpr std::string_view FILE_ORIGIN = "file:";
// "includeIf.<condition>.path", its section in lower case as git lists it.
constexpr std::string_view CONDITIONAL_INCLUDE = "includeif.";
constexpr std::string_view INCLUDE_PATH = ".path";

std::string_view take_field(std::string_view& rest) {
  std::string_view field = rest.substr(0, rest.find('\0'));
  rest.remove_prefix(std::min(rest.size(), field.size() + 1));
  return field;
}

// Each entry is "<scope>\0" when scoped, "<origin>\0", then "<key>\n<value>\0", or "<key>\0"
// without a value.
std::vector<ConfigEntry> config_entries(std::string_view rest, bool scoped) {
  std::vector<ConfigEntry> entries;
  while (!rest.empty()) {
    ConfigEntry entry;
    if (scoped) entry.scope = take_field(rest);
    entry.origin = take_field(rest);
    std::string_view field = take_field(rest);
    size_t feed = field.find('\n');
    entry.key = field.substr(0, feed);
    if (feed != std::string_view::npos) entry.value = field.substr(feed + 1);
    entries.push_back(entry);
  }
  return entries;
}

void report_cap() {
  write_stderr("git config stopped: the configuration's listing passed " +
               std::to_string(LISTING_CAP >> 20) + " MiB\n");
}

// The listing's text, streamed and stopped once it and its entries would pass the cap.
std::shared_ptr<ConfigListing> read_listing(const GitPlace& place, bool scoped) {
  GitArgs argv = {GIT_PROGRAM(), "config", "--show-origin", "-z", "--list"};
  if (scoped) argv.insert(argv.begin() + 2, "--show-scope");
  add_place_option(argv, place);
  auto listing = std::make_shared<ConfigListing>();
  const size_t fields_per_entry = scoped ? 3 : 2;
  size_t fields = 0;
  bool over = false;
  StreamHandlers handlers;
  handlers.on_out = [&](std::string_view bytes) {
    fields += static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\0'));
    size_t held =
        listing->text.size() + bytes.size() + (fields / fields_per_entry + 1) * sizeof(ConfigEntry);
    if (over || held > LISTING_CAP) {
      over = true;
      std::string().swap(listing->text);
      return;
    }
    listing->text.append(bytes);
  };
  handlers.cancelled = [&] { return over; };
  handlers.restart = [&] {
    listing->text.clear();
    fields = 0;
  };
  std::optional<StreamEnd> end = stream_reading_process(argv, place.dir, handlers);
  if (over) {
    report_cap();
    return nullptr;
  }
  if (!end || end->status != 0) return nullptr;
  listing->scoped = scoped;
  listing->entries = config_entries(listing->text, scoped);
  return listing;
}

std::string parent_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool is_absolute(std::string_view path) {
  return path.starts_with('/');
}

// The files a listing was read from and those git would read were they there, by absolute
// path. git names a file it read relative to the folder it ran in, which may be the top of
// the work tree or the git dir rather than the folder it started in; the repository's own
// configuration file, whose absolute path rev-parse gave, tells that folder, since the name git
// printed for it ends that path.
struct ListingFiles {
  const RepositoryLocation& location;
  std::vector<std::string> paths;
  std::string base;       // the folder git named files relative to
  std::string named_dir;  // the part of a relative name that leads to the git dir
  bool relative_names = false;
  bool sure = true;

  void anchor(const std::vector<ConfigEntry>& entries) {
    auto first = std::find_if(entries.begin(), entries.end(), [](const ConfigEntry& entry) {
      return entry.scope == "local" && entry.origin.starts_with(FILE_ORIGIN);
    });
    if (first == entries.end()) return;
    std::string named(first->origin.substr(FILE_ORIGIN.size()));
    std::string config = location.common_dir + "/config";
    if (is_absolute(named) || !config.ends_with("/" + named)) return;
    base = config.substr(0, config.size() - named.size());
    named_dir = parent_of(named);
    if (!named_dir.empty()) named_dir += '/';
    relative_names = true;
  }

  std::optional<std::string> absolute(std::string_view name) {
    if (is_absolute(name)) return std::string(name);
    if (relative_names && name.starts_with(named_dir)) return base + std::string(name);
    sure = false;
    return std::nullopt;
  }

  // An absolute path that the environment names, else none can be stamped for sure.
  void add_named(const std::optional<std::string>& path, std::string_view suffix = {}) {
    if (!path || !is_absolute(*path)) {
      sure = false;
      return;
    }
    paths.push_back(*path + std::string(suffix));
  }

  void add_origin(std::string_view origin) {
    if (!origin.starts_with(FILE_ORIGIN)) return;
    if (auto path = absolute(origin.substr(FILE_ORIGIN.size()))) paths.push_back(*path);
  }

  void add_include(const ConfigEntry& entry) {
    bool plain = entry.key == "include.path";
    bool conditional =
        entry.key.starts_with(CONDITIONAL_INCLUDE) && entry.key.ends_with(INCLUDE_PATH);
    if (!plain && !conditional) return;
    if (!plain && !condition_kept(entry)) return;
    std::string_view value = entry.value.value_or("");
    if (!entry.value || value.starts_with("%(prefix)/")) {
      sure = false;
    } else if (value == "~" || value.starts_with("~/")) {
      add_named(get_environment("HOME"), value.substr(1));
    } else if (value.starts_with('~')) {
      sure = false;
    } else if (is_absolute(value)) {
      paths.emplace_back(value);
    } else if (!entry.origin.starts_with(FILE_ORIGIN)) {
      sure = false;
    } else if (auto including = absolute(entry.origin.substr(FILE_ORIGIN.size()))) {
      paths.push_back(parent_of(*including) + "/" + std::string(value));
    }
  }

  // Whether what the condition depends on is among the files: the configuration itself (remote
  // URLs), or the git dir, which the key holds. A branch follows HEAD and refs a listing does
  // not stamp, and the git dir may be matched through links that rev-parse resolves, which a
  // repository's own condition could use.
  bool condition_kept(const ConfigEntry& entry) {
    std::string_view condition =
        entry.key.substr(CONDITIONAL_INCLUDE.size(),
                         entry.key.size() - CONDITIONAL_INCLUDE.size() - INCLUDE_PATH.size());
    if (condition.starts_with("hasconfig:remote.*.url:")) return true;
    bool git_dir = condition.starts_with("gitdir:") || condition.starts_with("gitdir/i:");
    if (git_dir && !from_repository(entry, true)) return true;
    sure = false;
    return false;
  }

  // The files git reads whenever they exist.
  void add_defaults() {
    paths.push_back(location.common_dir + "/config");
    paths.push_back(location.git_dir + "/config.worktree");
    bool named = git_is_at_least(FIRST_WITH_CONFIG_FILE_VARIABLES);
    auto global = named ? get_environment("GIT_CONFIG_GLOBAL") : std::nullopt;
    if (global) {
      add_named(global);
    } else {
      auto home = get_environment("HOME");
      if (home) add_named(home, "/.gitconfig");
      auto xdg = get_environment("XDG_CONFIG_HOME");
      if (xdg && !xdg->empty()) {
        add_named(xdg, "/git/config");
      } else if (home) {
        add_named(home, "/.config/git/config");
      }
    }
    if (!reads_system_file()) return;
    // Where git names none, the place Debian's git reads it from.
    auto system = named ? get_environment("GIT_CONFIG_SYSTEM") : std::nullopt;
    add_named(system.value_or("/etc/gitconfig"));
  }

  static bool reads_system_file() {
    auto off = get_environment("GIT_CONFIG_NOSYSTEM");
    return !off || config_boolean(*off) != true;
  }
};

// Whether a file's stamp follows its content: a regular file does, but not on the kernel's own
// file systems, whose files change as they are read; /dev/null has none (a user may point
// GIT_CONFIG_GLOBAL there); a FIFO or another device may give anything.
bool stamp_follows_content(const FileStamp& stamp) {
  if (stamp.error != 0) return true;
  struct stat st {};
  if (::stat(stamp.path.c_str(), &st) != 0) return false;
  if (S_ISCHR(st.st_mode)) return major(st.st_rdev) == 1 && minor(st.st_rdev) == 3;
  struct statfs fs {};
  if (!S_ISREG(st.st_mode) || ::statfs(stamp.path.c_str(), &fs) != 0) return false;
  return fs.f_type != PROC_SUPER_MAGIC && fs.f_type != SYSFS_MAGIC;
}

// Absent where a file git reads cannot be named for sure, or its stamp does not follow its
// content.
std::optional<std::vector<FileStamp>> listing_stamps(const ConfigListing& listing,
                                                     const RepositoryLocation& location) {
  if (!listing.scoped) return std::nullopt;
  ListingFiles files{location, {}, {}, {}, false, true};
  files.anchor(listing.entries);
  files.add_defaults();
  for (const ConfigEntry& entry : listing.entries) {
    files.add_origin(entry.origin);
    files.add_include(entry);
    if (!files.sure) return std::nullopt;
  }
  std::unordered_set<std::string> seen;
  std::vector<FileStamp> stamps;
  for (const std::string& path : files.paths) {
    if (!seen.insert(path).second) continue;
    FileStamp stamp = file_stamp(path);
    if (!stamp_follows_content(stamp)) return std::nullopt;
    stamps.push_back(std::move(stamp));
  }
  return stamps;
}

std::string listing_key(const RepositoryLocation& location) {
  const GitPlace& place = location.place;
  return place.dir + '\0' + (place.through_dot_git ? "1" : "0") + '\0' + location.git_dir + '\0' +
         location.common_dir + '\0' + environment_key();
}

}  // namespace

bool from_repository(const ConfigEntry& entry, bool scoped) {
  return !scoped || entry.scope == "local" || entry.scope == "worktree";
}

std::optional<bool> config_boolean(std::string_view value) {
  auto is = [&](std::string_view word) {
    return std::equal(value.begin(), value.end(), word.begin(), word.end(), [](char c, char w) {
      return std::tolower(static_cast<unsigned char>(c)) == w;
    });
  };
  if (value.empty() || is("false") || is("no") || is("off") || is("0")) return false;
  if (is("true") || is("yes") || is("on") || is("1")) return true;
  return std::nullopt;
}

std::shared_ptr<const ConfigListing> config_listing(const RepositoryLocation& location) {
  std::string key = listing_key(location);
  if (auto kept = kept_listing(key)) return kept;
  timespec start = read_start_time();
  std::shared_ptr<const ConfigListing> listing = config_listing(location.place);
  if (!listing) return listing;
  auto stamps = listing_stamps(*listing, location);
  if (stamps && settled_before(*stamps, start)) keep_listing(key, {std::move(*stamps), listing});
  return listing;
}

std::shared_ptr<const ConfigListing> config_listing(const GitPlace& place) {
  return read_listing(place, git_is_at_least(FIRST_WITH_SHOW_SCOPE));
}

std::shared_ptr<const ConfigListing> config_listing(const std::string& dir) {
  GitPlace place{dir, false};
  if (auto location = kept_repository_location(place)) return config_listing(*location);
  return config_listing(place);
}

}  // namespace brackwen
