// The configuration git reads in a folder, listed whole with the scope and the file of every
// entry, so that what a repository sets is told apart from what the user set in their own files.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brackwen {

// One entry of `git config --list`. Keys are as git prints them: section and variable in
// lower case, a subsection as written.
struct ConfigEntry {
  std::string_view scope;  // "system", "global", "local", "worktree", "command"; empty unscoped
  // Where git read it: "file:<path>" (the path as git names it), "command line:", ...
  std::string_view origin;
  std::string_view key;
  std::optional<std::string_view> value;  // absent for a key given without "="
};

// The listing's text and its entries, which are views into it: made once, then shared and
// never copied.
struct ConfigListing {
  ConfigListing() = default;
  ConfigListing(const ConfigListing&) = delete;
  ConfigListing& operator=(const ConfigListing&) = delete;
  std::string text;
  std::vector<ConfigEntry> entries;
  // Before git 2.26 the scopes cannot be told apart: every entry then counts as the
  // repository's.
  bool scoped = false;
};

}  // namespace brackwen
