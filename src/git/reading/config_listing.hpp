// The configuration git reads in a folder, listed whole with the scope and the file of every
// entry, so that what a repository sets is told apart from what the user set in their own files.
// A listing is kept between reads while the files it was read from, and those git would read
// were they there, are unchanged.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "git/reading/repository_location.hpp"
#include "model/config_listing.hpp"

namespace brackwen {

// Whether an entry comes from the repository's own files (its config, a worktree's, and what
// they include), or from the user's (system, global, command line).
bool from_repository(const ConfigEntry& entry, bool scoped);

// A value as git reads a boolean: true for "true", "yes", "on" and "1", false for "false", "no",
// "off", "0" and the empty value, in any case; absent for any other.
std::optional<bool> config_boolean(std::string_view value);

// The listing of `git config --show-scope --show-origin -z --list` at a place, read afresh.
// Null when git cannot read the configuration there, or when the listing passes what the
// server holds of one (64 MiB), which one line on standard error says.
std::shared_ptr<const ConfigListing> config_listing(const GitPlace& place);

// The same for a repository git has located, run at its place: kept while the files it was
// read from, and those git would read were they there, are unchanged.
std::shared_ptr<const ConfigListing> config_listing(const RepositoryLocation& location);

// The listing where git finds the repository from `dir`: the kept one when git's answer for
// `dir` is kept too (a status asked it), else read afresh. Asking git where the repository lies
// only to key the listing would cost the one git run the listing costs.
std::shared_ptr<const ConfigListing> config_listing(const std::string& dir);

}  // namespace brackwen
