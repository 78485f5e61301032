// The configuration git reads in a folder, listed whole with the scope and the file of every
// entry, so that what a repository sets is told apart from what the user set in their own files.
// A listing is kept between reads while the files it was read from, and those git would read
// were they there, are unchanged.
#pragma once
#include <memory>
#include <string>

#include "git/repository_location.hpp"
#include "model/config_listing.hpp"

namespace brackwen {

// Whether an entry comes from the repository's own files (its config, a worktree's, and what
// they include), or from the user's (system, global, command line).
bool from_repository(const ConfigEntry& entry, bool scoped);

// The listing of `git config --show-scope --show-origin -z --list` at a place, read afresh.
// Null when git cannot read the configuration there, or when the listing passes what the
// server holds of one (64 MiB), which one line on standard error says.
std::shared_ptr<const ConfigListing> config_listing(const GitPlace& place);
std::shared_ptr<const ConfigListing> config_listing(const std::string& dir);

// The same for a repository git has located, run at its place: kept while the files it was
// read from are unchanged. Keying it costs the one git run a repository's location takes,
// which the listing alone costs as well; a status, which needs the location anyway, gains.
std::shared_ptr<const ConfigListing> config_listing(const RepositoryLocation& location);

}  // namespace brackwen
