// The disk layer of the changed-files cache, between the memory cache and git.
#include "server/changed_files.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <span>
#include <string_view>
#include <system_error>
#include <unordered_set>

#include "api_types/json.hpp"
#include "git/blob_id.hpp"
#include "git/queries/patches/patches.hpp"
#include "git/reading/request_budget.hpp"
#include "parser/text.hpp"
#include "parser/utf8.hpp"
#include "server/window_loads.hpp"
#include "stores/diff_searches.hpp"
#include "stores/stores.hpp"
#include "stores/user_dirs.hpp"

namespace brackwen {
namespace {

constexpr const char* PATCHES_DIR_NAME = "patches";

std::optional<std::filesystem::path> patches_dir() {
  auto caches = user_caches_dir();
  if (!caches) return std::nullopt;
  return *caches / PATCHES_DIR_NAME;
}

// A "." survives only as the very first component of a relative path.
std::vector<std::string_view> name_components(std::string_view path) {
  std::vector<std::string_view> parts = path_components(path);
  bool leading_dot = path.starts_with("./") || path == ".";
  for (size_t i = leading_dot ? 1 : 0; i < parts.size();) {
    if (parts[i] == ".") {
      parts.erase(parts.begin() + static_cast<ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
  return parts;
}

// Paths share the readable part of their names when they differ only in separators; the hash
// tells them apart.
constexpr size_t NAME_HASH_DIGITS = 16;
// Keeps a name within the 255 bytes file systems allow, however deep the path.
constexpr size_t MAX_READABLE_NAME_BYTES = 128;

// The path's parts run together, without the characters that separate them; its end, when long.
std::string readable_name(std::string_view repo_path) {
  std::string name;
  for (std::string_view part : name_components(repo_path)) {
    if (!is_valid_utf8(part)) continue;
    for (char c : part) {
      if (c != '/' && c != ':' && c != '\\') name += c;
    }
  }
  size_t start = name.size() > MAX_READABLE_NAME_BYTES ? name.size() - MAX_READABLE_NAME_BYTES : 0;
  // Not inside a character: the parts are valid UTF-8, so a byte that does not continue one
  // begins one.
  while (start < name.size() && (static_cast<unsigned char>(name[start]) & 0xC0) == 0x80) ++start;
  return name.substr(start);
}

// A key of the file: the commit id, then the ids of the parents its files were read against,
// each after a space.
std::string file_key(const Commit& c) {
  std::string key = c.id;
  for (const std::string& parent : c.parent_ids) key.append(" ").append(parent);
  return key;
}

// The file's map keyed by commit id, with the parents each was read against.
PatchesCacheEntry entry_of_file(const std::string& repo_path, PatchMap keyed) {
  auto map = std::make_shared<PatchMap>();
  auto kept = std::make_shared<KeptIndex>();
  map->reserve(keyed.size());
  kept->reserve(keyed.size());
  for (auto& [key, patches] : keyed) {
    size_t end = key.find(' ');
    std::vector<std::string> parent_ids;
    for (size_t at = end; at != std::string::npos;) {
      size_t next = key.find(' ', at + 1);
      parent_ids.push_back(key.substr(at + 1, next == std::string::npos ? next : next - at - 1));
      at = next;
    }
    auto files = map->insert_or_assign(key.substr(0, end), std::move(patches)).first;
    kept->insert_or_assign(files->first, KeptCommit{&*files, parents_digest(parent_ids)});
  }
  return PatchesCacheEntry{repo_path, std::move(map), nullptr, std::move(kept)};
}

// A missing, unreadable or malformed file is passed over without a word: the commits are
// then loaded from git and the file is written anew.
std::optional<PatchesCacheEntry> disk_cache_of(const std::string& repo_path) {
  auto dir = patches_dir();
  auto file_path = patches_cache_file(repo_path);
  if (!dir || !file_path) return std::nullopt;
  std::error_code ec;
  std::filesystem::create_directories(*dir, ec);
  if (ec) return std::nullopt;
  std::ifstream file(*file_path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return std::nullopt;
  auto keyed = read_body<PatchMap>(text);
  if (!keyed) return std::nullopt;
  PatchesCacheEntry entry = entry_of_file(repo_path, std::move(*keyed));
  store_patches(entry);
  return entry;
}

// In the order of `commits`, each once: every commit the entry holds files of is among them.
void write_disk_cache(const std::filesystem::path& file_path, const PatchesCacheEntry& entry,
                      const std::vector<Commit>& commits) {
  std::ofstream file(file_path, std::ios::binary | std::ios::trunc);
  if (!file) return;
  std::unordered_set<std::string_view> written;
  std::string text = "{";
  for (const Commit& c : commits) {
    auto found = entry.patches->find(c.id);
    if (found == entry.patches->end() || !written.insert(found->first).second) continue;
    if (text.size() > 1) text += ',';
    write_json(text, file_key(c));
    text += ':';
    write_json(text, found->second);
  }
  file << text << '}';
}

// The caches' entry for the repository, and the map of `commits` when it knows them all.
struct CachesLook {
  std::optional<PatchesCacheEntry> cached;
  std::shared_ptr<const PatchMap> found;
};

CachesLook look_in_caches(const std::string& repo_path, const std::vector<Commit>& commits) {
  // The loaded history `commits` are, when they are the cached one's (held here, it cannot be
  // another at the same address): once the memory entry was checked against it, the parents
  // need no second look.
  std::shared_ptr<const CommitsAndRefs> history = get_cached_commits(repo_path);
  if (history && &history->commits != &commits) history.reset();
  CachesLook look{memory_cached_patches(repo_path), nullptr};
  if (!look.cached) look.cached = disk_cache_of(repo_path);
  if (!look.cached) return look;
  bool checked = history && look.cached->checked.lock() == history;
  look.found = cached_patches_of(*look.cached, commits, checked);
  if (look.found && history && !checked) {
    look.cached->checked = history;
    store_patches(*look.cached);
  }
  return look;
}

// load_patches, the commits of `alone` taken as loaded.
std::shared_ptr<const PatchMap> load_with(const std::string& repo_path,
                                          const std::vector<Commit>& commits,
                                          std::span<const PatchesCacheEntry> alone) {
  CachesLook look = look_in_caches(repo_path, commits);
  if (look.found) return look.found;
  std::optional<PatchesCacheEntry> loaded =
      load_missing_patches(repo_path, commits, look.cached ? &*look.cached : nullptr, alone);
  // A load that held more than a request may fails whole: what it read is no window's files.
  if (!loaded || holds_too_much()) return std::make_shared<const PatchMap>();
  auto file_path = patches_cache_file(repo_path);
  if (!file_path) return loaded->patches;
  std::shared_ptr<const CommitsAndRefs> history = get_cached_commits(repo_path);
  if (history && &history->commits == &commits) loaded->checked = history;
  store_patches(*loaded);
  // The directory is not created here: after clear_all_caches only a disk read brings it back.
  // Refused commits are in the memory entry only, as known; their files nowhere.
  write_disk_cache(*file_path, *loaded, commits);
  return loaded->patches;
}

std::optional<std::vector<Patch>> files_of(const PatchMap& map, const std::string& commit_id) {
  auto found = map.find(commit_id);
  if (found == map.end()) return std::nullopt;
  return found->second;
}

}  // namespace

std::optional<std::string> patches_cache_file_name(std::string_view repo_path) {
  std::optional<std::string> hash = blob_id(repo_path);
  if (!hash) return std::nullopt;
  return readable_name(repo_path) + "-" + hash->substr(0, NAME_HASH_DIGITS) + ".json";
}

std::optional<std::filesystem::path> patches_cache_file(std::string_view repo_path) {
  auto dir = patches_dir();
  auto name = patches_cache_file_name(repo_path);
  if (!dir || !name) return std::nullopt;
  return *dir / *name;
}

std::shared_ptr<const PatchMap> load_patches(const std::string& repo_path,
                                             const std::vector<Commit>& commits) {
  // Never a second load of what a background one is loading, nor a map it has not finished.
  wait_for_window_loads();
  return load_with(repo_path, commits, {});
}

void load_window(const WindowLoad& load) {
  load_with(load.repo_path, load.history->commits, load.alone);
}

std::optional<std::vector<Patch>> patches_of_commit(
    const std::string& repo_path, const std::shared_ptr<const CommitsAndRefs>& history,
    const std::string& commit_id) {
  const std::vector<Commit>& commits = history->commits;
  auto commit = std::ranges::find(commits, commit_id, &Commit::id);
  if (commit == commits.end()) return std::nullopt;
  std::optional<PatchesCacheEntry> cached;
  if (window_loads_idle()) {
    // As load_patches looks: the caches may know the whole history, and then nothing is loaded.
    CachesLook look = look_in_caches(repo_path, commits);
    if (look.found) return files_of(*look.found, commit_id);
    cached = std::move(look.cached);
  } else {
    // The disk file is the running loads' to read and write.
    cached = memory_cached_patches(repo_path);
  }
  std::optional<PatchesCacheEntry> alone;
  const KeptCommit* kept = cached ? kept_commit(*cached, *commit) : nullptr;
  if (!kept && (alone = read_alone_for(repo_path, *commit))) {
    kept = kept_commit(*alone, *commit);
  } else if (!kept) {
    // The load running now reads this commit too, and tells what it refuses.
    bool told_there = window_load_running(repo_path, history);
    alone = load_commit_patches(repo_path, commits, *commit, !told_there);
    kept = kept_commit(*alone, *commit);
  }
  std::optional<std::vector<Patch>> files;
  if (kept && kept->files) files = kept->files->second;
  queue_window_load(repo_path, history, std::move(alone));
  return files;
}

void clear_all_caches() {
  // A load asked for before is one whose file this deletes.
  wait_for_window_loads();
  clear_searches();
  auto dir = patches_dir();
  if (!dir) return;
  std::error_code ec;
  std::filesystem::remove_all(*dir, ec);
}

}  // namespace brackwen
