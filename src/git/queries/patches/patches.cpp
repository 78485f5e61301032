// Three layers for the changed files of commits: memory, disk, git. Both caches always hold
// the map of the last call that had something to load.
#include "git/queries/patches/patches.hpp"

#include <fstream>
#include <iterator>
#include <system_error>

#include "api_types/json.hpp"
#include "git/queries/patches/patch_parsers.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"
#include "parser/input.hpp"
#include "parser/utf8.hpp"
#include "stores/diff_searches.hpp"
#include "stores/stores.hpp"
#include "stores/user_dirs.hpp"

namespace brackwen {
namespace {

constexpr const char* PATCHES_DIR_NAME = "patches";
constexpr const char* NAME_STATUS_FORMAT_ARG = "--pretty=format:%H,";
// Up to this many commits are named on one `git show`; more go through one `git log`.
constexpr size_t MAX_SHOW_COMMITS = 20;

std::optional<std::filesystem::path> patches_dir() {
  auto caches = user_caches_dir();
  if (!caches) return std::nullopt;
  return *caches / PATCHES_DIR_NAME;
}

std::vector<std::string_view> path_components(std::string_view path) {
  std::vector<std::string_view> parts;
  if (path.starts_with('/')) parts.emplace_back("/");
  for (size_t at = 0; at < path.size();) {
    size_t slash = path.find('/', at);
    if (slash == std::string_view::npos) slash = path.size();
    std::string_view part = path.substr(at, slash - at);
    at = slash + 1;
    if (part.empty()) continue;
    // A "." survives only as the very first component of a relative path.
    if (part == "." && !(parts.empty() && slash == part.size())) continue;
    parts.push_back(part);
  }
  return parts;
}

std::shared_ptr<const PatchMap> memory_cache_of(const std::string& repo_path) {
  auto found = PATCHES_CACHE().read([&](const PatchesCacheEntry& entry) {
    bool usable = entry.repo_path == repo_path && entry.patches && !entry.patches->empty();
    return usable ? entry.patches : nullptr;
  });
  return found ? *found : nullptr;
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

std::optional<GitArgs> ordinary_commits_args(const std::vector<const Commit*>& ordinary,
                                             size_t all_commits) {
  if (ordinary.size() <= MAX_SHOW_COMMITS) {
    std::vector<std::string> ids;
    for (const Commit* c : ordinary) ids.push_back(c->id);
    return revision_args({"show", "--name-status", NAME_STATUS_FORMAT_ARG, "-z"}, ids);
  }
  return GitArgs{"log",
                 "--remotes",
                 "--branches",
                 "--all",
                 "--name-status",
                 NAME_STATUS_FORMAT_ARG,
                 "--no-merges",
                 "-z",
                 "-n" + std::to_string(static_cast<uint32_t>(all_commits))};
}

void load_ordinary(const std::string& repo_path, const std::vector<const Commit*>& ordinary,
                   size_t all_commits, PatchMap& result) {
  if (ordinary.empty()) return;
  auto args = ordinary_commits_args(ordinary, all_commits);
  if (!args) return;
  auto out = run_git(repo_path, *args);
  if (!out) return;
  auto records = patch_list(*out);
  if (!records) return;
  for (auto& [id, patches] : *records) result.insert_or_assign(std::move(id), std::move(patches));
}

// A merge shows what its second parent brought in; a stash what it holds over its base.
std::optional<GitArgs> special_commit_args(const Commit& c) {
  std::optional<std::string> range;
  if (c.is_merge) {
    if (c.parent_ids.size() < 2) return std::nullopt;
    range = revision_range(c.parent_ids[0], "...", c.parent_ids[1]);
  } else if (!c.parent_ids.empty()) {
    range = revision_range(c.parent_ids[0], "..", c.id);
  }
  if (!range) return std::nullopt;
  return revision_args({"diff", "--name-status", "-z"}, {*range});
}

std::vector<Patch> load_special(const std::string& repo_path, const Commit& c) {
  std::vector<Patch> patches;
  auto args = special_commit_args(c);
  if (!args) return patches;
  auto out = run_git(repo_path, *args);
  if (!out) return patches;
  auto entries = parse_all(*out, parse_name_status);
  if (!entries) return patches;
  for (NameStatusEntry& entry : *entries) {
    patches.push_back(patch_from_entry(std::move(entry), c.id));
  }
  return patches;
}

void write_disk_cache(const std::filesystem::path& file_path, const PatchMap& map) {
  std::ofstream file(file_path, std::ios::binary | std::ios::trunc);
  if (!file) return;
  file << to_json(map);
}

}  // namespace

std::string patches_cache_file_name(std::string_view repo_path) {
  std::string name;
  for (std::string_view part : path_components(repo_path)) {
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
  auto cached = memory_cache_of(repo_path);
  if (!cached) cached = disk_cache_of(repo_path);
  std::vector<const Commit*> ordinary;
  std::vector<const Commit*> special;
  for (const Commit& c : commits) {
    if (cached && cached->contains(c.id)) continue;
    (c.stash_id || c.is_merge ? special : ordinary).push_back(&c);
  }
  if (ordinary.empty() && special.empty()) {
    return cached ? cached : std::make_shared<const PatchMap>();
  }
  auto result = std::make_shared<PatchMap>();
  if (cached) {
    for (const Commit& c : commits) {
      auto found = cached->find(c.id);
      if (found != cached->end()) result->insert_or_assign(c.id, found->second);
    }
  }
  load_ordinary(repo_path, ordinary, commits.size(), *result);
  for (const Commit* c : special) result->insert_or_assign(c->id, load_special(repo_path, *c));
  auto file_path = patches_cache_file(repo_path);
  if (!file_path) return result;
  store_patches(repo_path, result);
  // The directory is not created here: after clear_all_caches only a disk read brings it back.
  write_disk_cache(*file_path, *result);
  return result;
}

void store_patches(const std::string& repo_path, std::shared_ptr<const PatchMap> patches) {
  PATCHES_CACHE().set(PatchesCacheEntry{repo_path, std::move(patches)});
}

void clear_all_caches() {
  clear_searches();
  auto dir = patches_dir();
  if (!dir) return;
  std::error_code ec;
  std::filesystem::remove_all(*dir, ec);
}

}  // namespace brackwen
