// The changed files of commits from git, and the memory cache that keeps them.
#include "git/queries/patches/patches.hpp"

#include "git/queries/patches/patch_parsers.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"
#include "parser/input.hpp"
#include "stores/stores.hpp"

namespace brackwen {
namespace {

constexpr const char* NAME_STATUS_FORMAT_ARG = "--pretty=format:%H,";
// Up to this many commits are named on one `git show`; more go through one `git log`.
constexpr size_t MAX_SHOW_COMMITS = 20;

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

}  // namespace

std::shared_ptr<const PatchMap> memory_cached_patches(const std::string& repo_path) {
  auto found = PATCHES_CACHE().read([&](const PatchesCacheEntry& entry) {
    bool usable = entry.repo_path == repo_path && entry.patches && !entry.patches->empty();
    return usable ? entry.patches : nullptr;
  });
  return found ? *found : nullptr;
}

std::shared_ptr<PatchMap> load_missing_patches(const std::string& repo_path,
                                               const std::vector<Commit>& commits,
                                               const PatchMap* cached) {
  std::vector<const Commit*> ordinary;
  std::vector<const Commit*> special;
  for (const Commit& c : commits) {
    if (cached && cached->contains(c.id)) continue;
    (c.stash_id || c.is_merge ? special : ordinary).push_back(&c);
  }
  if (ordinary.empty() && special.empty()) return nullptr;
  auto result = std::make_shared<PatchMap>();
  if (cached) {
    for (const Commit& c : commits) {
      auto found = cached->find(c.id);
      if (found != cached->end()) result->insert_or_assign(c.id, found->second);
    }
  }
  load_ordinary(repo_path, ordinary, commits.size(), *result);
  for (const Commit* c : special) result->insert_or_assign(c->id, load_special(repo_path, *c));
  return result;
}

void store_patches(const std::string& repo_path, std::shared_ptr<const PatchMap> patches) {
  PATCHES_CACHE().set(PatchesCacheEntry{repo_path, std::move(patches)});
}

}  // namespace brackwen
