// The configuration git reads in a folder, listed whole with the scope of every entry, so that
// what a repository sets is told apart from what the user set in their own files.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brackwen {

// One entry of `git config --list`. Keys are as git prints them: section and variable in
// lower case, a subsection as written.
struct ConfigEntry {
  std::string_view scope;  // "system", "global", "local", "worktree", "command"; empty unscoped
  std::string_view key;
  std::optional<std::string_view> value;  // absent for a key given without "="
};

// The listing's text and its entries, which are views into it.
struct ConfigListing {
  std::string text;
  std::vector<ConfigEntry> entries;
  // Before git 2.26 the scopes cannot be told apart: every entry then counts as the
  // repository's.
  bool scoped = false;
};

// Whether an entry comes from the repository's own files (its config, a worktree's, and what
// they include), or from the user's (system, global, command line).
bool from_repository(const ConfigEntry& entry, bool scoped);

// The listing of `git config --show-scope -z --list` in `dir`. Absent when git cannot read the
// configuration there.
std::shared_ptr<const ConfigListing> config_listing(const std::string& dir);

}  // namespace brackwen
