// The disk layer of the changed-files cache, between the memory cache and git.
#include "server/changed_files.hpp"

#include <fstream>
#include <iterator>
#include <system_error>

#include "api_types/json.hpp"
#include "git/queries/patches/patches.hpp"
#include "parser/text.hpp"
#include "parser/utf8.hpp"
#include "stores/diff_searches.hpp"
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

// A missing, unreadable or malformed file is passed over without a word: the commits are
// then loaded from git and the file is written anew.
std::optional<PatchesCacheEntry> disk_cache_of(const std::string& repo_path) {
  auto dir = patches_dir();
  if (!dir) return std::nullopt;
  std::error_code ec;
  std::filesystem::create_directories(*dir, ec);
  if (ec) return std::nullopt;
  std::ifstream file(*dir / patches_cache_file_name(repo_path), std::ios::binary);
  if (!file) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return std::nullopt;
  auto map = read_body<PatchMap>(text);
  if (!map) return std::nullopt;
  PatchesCacheEntry entry{repo_path, std::make_shared<const PatchMap>(std::move(*map)), nullptr};
  store_patches(entry);
  return entry;
}

void write_disk_cache(const std::filesystem::path& file_path, const PatchMap& map) {
  std::ofstream file(file_path, std::ios::binary | std::ios::trunc);
  if (!file) return;
  file << to_json(map);
}

}  // namespace

std::string patches_cache_file_name(std::string_view repo_path) {
  std::string name;
  for (std::string_view part : name_components(repo_path)) {
    if (!is_valid_utf8(part)) continue;
    for (char c : part) {
      if (c != '/' && c != ':' && c != '\\') name += c;
    }
  }
  return name + ".json";
}

std::optional<std::filesystem::path> patches_cache_file(std::string_view repo_path) {
  auto dir = patches_dir();
  if (!dir) return std::nullopt;
  return *dir / patches_cache_file_name(repo_path);
}

std::shared_ptr<const PatchMap> load_patches(const std::string& repo_path,
                                             const std::vector<Commit>& commits) {
  std::optional<PatchesCacheEntry> cached = memory_cached_patches(repo_path);
  if (!cached) cached = disk_cache_of(repo_path);
  if (cached) {
    if (auto found = cached_patches_of(*cached, commits)) return found;
  }
  std::optional<PatchesCacheEntry> loaded =
      load_missing_patches(repo_path, commits, cached ? &*cached : nullptr);
  if (!loaded) return std::make_shared<const PatchMap>();
  auto file_path = patches_cache_file(repo_path);
  if (!file_path) return loaded->patches;
  store_patches(*loaded);
  // The directory is not created here: after clear_all_caches only a disk read brings it back.
  // Commits past the caps are in the memory entry only, as known; their files nowhere.
  write_disk_cache(*file_path, *loaded->patches);
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
