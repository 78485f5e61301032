// The stores of answers read from a repository's files, and the stat data they are kept by.
#include "stores/read_cache.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <unordered_map>

#include "stores/store.hpp"

namespace brackwen {
namespace {

// Enough for every repository and submodule a user opens in a session, whose answers take a few
// KB each; a hostile repository with more, or larger ones, only costs the lookups again.
constexpr size_t MAX_KEYS = 256;
constexpr size_t MAX_BYTES = size_t{32} << 20;
constexpr size_t MAX_ENTRY_BYTES = size_t{1} << 20;

// A kernel stamps a change with its coarse clock, at most a tick (a few ms) behind, cut to the
// file system's granularity: nanoseconds on Linux's own file systems, up to two seconds on
// others, which leave every nanosecond part zero.
constexpr int64_t FINE_MARGIN_NS = 50'000'000;
constexpr int64_t COARSE_MARGIN_NS = 3'000'000'000;

template <class T>
struct Weighed {
  Stamped<T> entry;
  size_t bytes = 0;
};

template <class T>
struct StampedMap {
  std::unordered_map<std::string, Weighed<T>> map;
  size_t bytes = 0;
};

size_t weight(const RepositoryLocation& location) {
  return sizeof location + location.place.dir.size() + location.git_dir.size() +
         location.common_dir.size() + location.index_file.size() +
         location.shared_index_prefix.size() + location.head_file.size() +
         location.work_tree_top.value_or("").size();
}

size_t weight(const ConfigListing& listing) {
  return sizeof listing + listing.text.size() + listing.entries.size() * sizeof(ConfigEntry);
}

size_t weight(const Gitlinks& links) {
  size_t bytes = sizeof links;
  for (const std::string& link : links) bytes += sizeof link + link.size();
  return bytes;
}

template <class T>
size_t weight(const std::string& key, const Stamped<T>& entry) {
  size_t bytes = key.size() + weight(*entry.value);
  for (const FileStamp& stamp : entry.stamps) bytes += sizeof stamp + stamp.path.size();
  return bytes;
}

Store<StampedMap<RepositoryLocation>>& LOCATIONS() {
  static Store<StampedMap<RepositoryLocation>> store;
  return store;
}

Store<StampedMap<ConfigListing>>& CONFIG_LISTINGS() {
  static Store<StampedMap<ConfigListing>> store;
  return store;
}

Store<StampedMap<Gitlinks>>& GITLINKS() {
  static Store<StampedMap<Gitlinks>> store;
  return store;
}

int64_t nanoseconds(const timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

bool unchanged(const std::vector<FileStamp>& stamps) {
  return std::all_of(stamps.begin(), stamps.end(), [](const FileStamp& stamp) {
    return file_stamp(stamp.path, stamp.identity_only) == stamp;
  });
}

template <class T>
std::shared_ptr<const T> kept(Store<StampedMap<T>>& store, const std::string& key) {
  auto entry = store.read([&](const StampedMap<T>& kept) -> std::optional<Stamped<T>> {
    auto found = kept.map.find(key);
    if (found == kept.map.end()) return std::nullopt;
    return found->second.entry;
  });
  if (!entry || !*entry || !unchanged((*entry)->stamps)) return nullptr;
  return (*entry)->value;
}

template <class T>
void keep(Store<StampedMap<T>>& store, const std::string& key, Stamped<T> entry) {
  if (!entry.value) return;
  size_t bytes = weight(key, entry);
  if (bytes > MAX_ENTRY_BYTES) return;
  store.update([&](StampedMap<T>& kept) {
    if (auto old = kept.map.find(key); old != kept.map.end()) {
      kept.bytes -= old->second.bytes;
      kept.map.erase(old);
    }
    if (kept.map.size() >= MAX_KEYS || kept.bytes + bytes > MAX_BYTES) kept = {};
    kept.map.emplace(key, Weighed<T>{std::move(entry), bytes});
    kept.bytes += bytes;
  });
}

}  // namespace

FileStamp file_stamp(const std::string& path, bool identity_only) {
  FileStamp stamp;
  stamp.path = path;
  stamp.identity_only = identity_only;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    stamp.error = errno;
    return stamp;
  }
  stamp.device = st.st_dev;
  stamp.inode = st.st_ino;
  stamp.mode = st.st_mode;
  if (identity_only) return stamp;
  stamp.size = st.st_size;
  stamp.modified_ns = nanoseconds(st.st_mtim);
  stamp.changed_ns = nanoseconds(st.st_ctim);
  return stamp;
}

timespec read_start_time() {
  timespec time{};
  ::clock_gettime(CLOCK_REALTIME, &time);
  return time;
}

bool settled_before(const std::vector<FileStamp>& stamps, const timespec& read_start) {
  int64_t start = nanoseconds(read_start);
  return std::all_of(stamps.begin(), stamps.end(), [&](const FileStamp& stamp) {
    if (stamp.error != 0) return true;
    bool coarse = stamp.changed_ns % 1'000'000'000 == 0;
    return stamp.changed_ns < start - (coarse ? COARSE_MARGIN_NS : FINE_MARGIN_NS);
  });
}

std::shared_ptr<const RepositoryLocation> kept_location(const std::string& key) {
  return kept(LOCATIONS(), key);
}

std::shared_ptr<const ConfigListing> kept_listing(const std::string& key) {
  return kept(CONFIG_LISTINGS(), key);
}

std::shared_ptr<const Gitlinks> kept_gitlinks(const std::string& key) {
  return kept(GITLINKS(), key);
}

void keep_location(const std::string& key, Stamped<RepositoryLocation> entry) {
  keep(LOCATIONS(), key, std::move(entry));
}

void keep_listing(const std::string& key, Stamped<ConfigListing> entry) {
  keep(CONFIG_LISTINGS(), key, std::move(entry));
}

void keep_gitlinks(const std::string& key, Stamped<Gitlinks> entry) {
  keep(GITLINKS(), key, std::move(entry));
}

}  // namespace brackwen
