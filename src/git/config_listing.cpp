// One `git config --show-scope -z --list` in a folder, parsed into its entries.
#include "git/config_listing.hpp"

#include <algorithm>

#include "git/git_version.hpp"
#include "git/process.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"

namespace brackwen {
namespace {

constexpr GitVersion FIRST_WITH_SHOW_SCOPE = {2, 26, 0};

std::string_view take_field(std::string_view& rest) {
  std::string_view field = rest.substr(0, rest.find('\0'));
  rest.remove_prefix(std::min(rest.size(), field.size() + 1));
  return field;
}

// Each entry is "<scope>\0" when scoped, then "<key>\n<value>\0", or "<key>\0" without a value.
std::vector<ConfigEntry> config_entries(std::string_view rest, bool scoped) {
  std::vector<ConfigEntry> entries;
  while (!rest.empty()) {
    ConfigEntry entry;
    if (scoped) entry.scope = take_field(rest);
    std::string_view field = take_field(rest);
    size_t feed = field.find('\n');
    entry.key = field.substr(0, feed);
    if (feed != std::string_view::npos) entry.value = field.substr(feed + 1);
    entries.push_back(entry);
  }
  return entries;
}

}  // namespace

bool from_repository(const ConfigEntry& entry, bool scoped) {
  return !scoped || entry.scope == "local" || entry.scope == "worktree";
}

std::shared_ptr<const ConfigListing> config_listing(const std::string& dir) {
  bool scoped = git_is_at_least(FIRST_WITH_SHOW_SCOPE);
  GitArgs argv = {GIT_PROGRAM(), "config", "-z", "--list"};
  if (scoped) argv.insert(argv.begin() + 2, "--show-scope");
  std::optional<ProcessOutput> run = run_reading_process(argv, dir);
  if (!run || run->status != 0) return nullptr;
  auto listing = std::make_shared<ConfigListing>();
  listing->text = std::move(run->out);
  listing->scoped = scoped;
  listing->entries = config_entries(listing->text, scoped);
  return listing;
}

}  // namespace brackwen
