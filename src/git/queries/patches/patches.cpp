// The changed files of commits from git, and the memory cache that keeps them.
#include "git/queries/patches/patches.hpp"

#include "git/queries/patches/patch_parsers.hpp"
#include "git/queries/patches/special_patches.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"
#include "parser/input.hpp"
#include "stores/stores.hpp"
#include "stores/threads.hpp"

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

std::optional<std::vector<CommitPatches>> load_ordinary(const std::string& repo_path,
                                                        const std::vector<const Commit*>& ordinary,
                                                        size_t all_commits) {
  if (ordinary.empty()) return std::nullopt;
  auto args = ordinary_commits_args(ordinary, all_commits);
  if (!args) return std::nullopt;
  auto out = run_git(repo_path, *args);
  if (!out) return std::nullopt;
  return patch_list(*out);
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
  // The log of the ordinary commits and the merges' diffs are independent git work.
  std::optional<std::vector<CommitPatches>> records;
  bool logged = false;
  std::vector<std::vector<Patch>> special_patches;
  run_alongside(
      "Loading the changed files of commits",
      [&] {
        records = load_ordinary(repo_path, ordinary, commits.size());
        logged = true;
      },
      [&] { special_patches = load_special_patches(repo_path, commits, special); });
  // Tried again where what it throws passes on.
  if (!logged) records = load_ordinary(repo_path, ordinary, commits.size());
  if (records) {
    for (auto& [id, patches] : *records)
      result->insert_or_assign(std::move(id), std::move(patches));
  }
  for (size_t i = 0; i < special.size(); ++i) {
    result->insert_or_assign(special[i]->id, std::move(special_patches[i]));
  }
  return result;
}

void store_patches(const std::string& repo_path, std::shared_ptr<const PatchMap> patches) {
  PATCHES_CACHE().set(PatchesCacheEntry{repo_path, std::move(patches)});
}

}  // namespace brackwen
