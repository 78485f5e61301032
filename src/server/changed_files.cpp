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
std::shared_ptr<const PatchMap> disk_cache_of(const std::string& repo_path) {
  auto dir = patches_dir();
  if (!dir) return nullptr;
  std::error_code ec;
  std::filesystem::create_directories(*dir, ec);
  if (ec) return nullptr;
  std::ifstream file(*dir / patches_cache_file_name(repo_path), std::ios::binary);
  if (!file) return nullptr;
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return nullptr;
  auto map = read_body<PatchMap>(text);
  if (!map) return nullptr;
  auto shared = std::make_shared<const PatchMap>(std::move(*map));
  store_patches(repo_path, shared);
  return shared;
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
  std::shared_ptr<const PatchMap> cached = memory_cached_patches(repo_path);
  if (!cached) cached = disk_cache_of(repo_path);
  if (cached) {
    if (auto found = cached_patches_of(cached, commits)) return found;
  }
  std::shared_ptr<const PatchMap> loaded = load_missing_patches(repo_path, commits, cached.get());
  if (!loaded) return std::make_shared<const PatchMap>();
  auto file_path = patches_cache_file(repo_path);
  if (!file_path) return loaded;
  store_patches(repo_path, loaded);
  // The directory is not created here: after clear_all_caches only a disk read brings it back.
  write_disk_cache(*file_path, *loaded);
  return loaded;
}

void clear_all_caches() {
  clear_searches();
  auto dir = patches_dir();
  if (!dir) return;
  std::error_code ec;
  std::filesystem::remove_all(*dir, ec);
}

}  // namespace brackwen
