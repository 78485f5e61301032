// Where a fetch from a local remote reads: a repository can ship a repository of its own inside
// itself and name it as the remote a lazy fetch reads, which then runs git's upload-pack and
// pack-objects on whatever that repository holds (its settings, its packs, FIFOs among them).
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "git/reading/repository_location.hpp"

namespace brackwen {

// The path a URL names when git fetches from it as a local repository: a path without a host
// ("dir", "/srv/r.git", "./host:x") or a "file://" URL, percent-decoded. Absent for every other
// transport: "host:path" (ssh), "<scheme>://", "<helper>::<address>".
std::optional<std::string> local_remote_path(std::string_view url);

// Whether a fetch from the local `path` reads from inside `location`'s work tree, git dir or
// common dir: `path` taken from where a lazy fetch runs (the work tree's top, else the git
// dir), each name upload-pack tries ("<path>/.git", "<path>", "<path>.git/.git",
// "<path>.git"), links resolved and a ".git" file followed. True where that cannot be told
// ("~user/").
bool lies_inside(const RepositoryLocation& location, const std::string& path);

}  // namespace brackwen
