// The repository's effective configuration from `git config --list`: the grammar of its
// "key=value" lines, the remotes derived from it, and the query that fills CONFIG_CACHE.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "git/reading/request_budget.hpp"
#include "parser/input.hpp"
#include "stores/stores.hpp"

namespace brackwen {

using ConfigEntry = std::pair<std::string, std::string>;

// One entry: the key up to the first "=" (line ends included, since git prints a key that
// has no value without any "="), then the value up to the line end. Fails when no "=" is left.
std::optional<ConfigEntry> config_entry(Input& in);

// Entries while text is left, up to the first that fails, each put in the map as it is read;
// a later entry's value replaces an earlier one's. Fails only when the map grows past what its
// request may hold (`held`), having read the whole text.
std::optional<TextMap> config_map(Input& in, HeldBytes& held);

// remote.<name>.url* keys give name -> value; a name ends at its first ".".
TextMap remotes_from_entries(const TextMap& entries);

// The whole output read into the two maps; absent (with the failure report) when the grammar
// stops before the end.
std::optional<RepoConfig> read_full_config(std::string_view text);

// Runs git, reads its output and, on success, stores both maps in CONFIG_CACHE under
// `repo_path`. Absent when git cannot run, prints nothing or prints what does not read.
std::optional<RepoConfig> load_full_config(const std::string& repo_path);

}  // namespace brackwen
