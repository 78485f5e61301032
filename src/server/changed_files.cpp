// The disk layer of the changed-files cache, between the memory cache and git.
#include "server/changed_files.hpp"

#include <fstream>
#include <iterator>
#include <string_view>
#include <system_error>
#include <unordered_set>

#include "api_types/json.hpp"
#include "git/blob_id.hpp"
#include "git/queries/patches/patches.hpp"
#include "parser/text.hpp"
#include "parser/utf8.hpp"
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
  // The loaded history `commits` are, when they are the cached one's (held here, it cannot be
  // another at the same address): once the memory entry was checked against it, the parents
  // need no second look.
  std::shared_ptr<const CommitsAndRefs> history = get_cached_commits(repo_path);
  if (history && &history->commits != &commits) history.reset();
  std::optional<PatchesCacheEntry> cached = memory_cached_patches(repo_path);
  if (!cached) cached = disk_cache_of(repo_path);
  if (cached) {
    bool checked = history && cached->checked.lock() == history;
    if (auto found = cached_patches_of(*cached, commits, checked)) {
      if (history && !checked) {
        cached->checked = history;
        store_patches(*cached);
      }
      return found;
    }
  }
  std::optional<PatchesCacheEntry> loaded =
      load_missing_patches(repo_path, commits, cached ? &*cached : nullptr);
  if (!loaded) return std::make_shared<const PatchMap>();
  auto file_path = patches_cache_file(repo_path);
  if (!file_path) return loaded->patches;
  loaded->checked = history;
  store_patches(*loaded);
  // The directory is not created here: after clear_all_caches only a disk read brings it back.
  // Refused commits are in the memory entry only, as known; their files nowhere.
  write_disk_cache(*file_path, *loaded, commits);
  return loaded->patches;
}

void clear_all_caches() {
  clear_searches();
  auto dir = patches_dir();
  if (!dir) return;
  std::error_code ec;
  std::filesystem::remove_all(*dir, ec);
}

}  // namespace brackwen
