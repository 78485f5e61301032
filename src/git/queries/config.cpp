// `git config --list`, read line by line into the entries map and the remotes map.
#include "git/queries/config.hpp"

#include "git/run_git.hpp"
#include "parser/standard_parsers.hpp"

namespace brackwen {
namespace {

constexpr std::string_view REMOTE_PREFIX = "remote.";
constexpr std::string_view URL_KEY = "url";
// A map entry's node: the key and value records, the link and the kept hash.
constexpr uint64_t MAP_ENTRY_BYTES = sizeof(TextMap::value_type) + 2 * sizeof(void*);

// The name of a remote.<name>.url* key; absent for every other key.
std::optional<std::string> remote_name_of(std::string_view key) {
  Input in{key};
  if (!literal(in, REMOTE_PREFIX)) return std::nullopt;
  size_t name_start = in.position;
  size_t dot = key.find('.', name_start);
  if (dot == std::string_view::npos) return std::nullopt;
  in.advance_to(dot + 1);
  if (!literal(in, URL_KEY)) return std::nullopt;
  until_new_line(in);
  if (!in.at_end()) return std::nullopt;
  return std::string(key.substr(name_start, dot - name_start));
}

}  // namespace

std::optional<ConfigEntry> config_entry(Input& in) {
  size_t start = in.position;
  size_t equals = in.text.find('=', start);
  if (equals == std::string_view::npos) {
    // The search looked at every code point left, as far as the failure report goes.
    in.advance_to(in.text.size());
    in.reset(start);
    return std::nullopt;
  }
  in.advance_to(equals + 1);
  std::string key = in.slice(start, equals);
  std::optional<std::string> value = until_new_line(in);
  return ConfigEntry{std::move(key), std::move(*value)};
}

std::optional<TextMap> config_map(Input& in, HeldBytes& held) {
  TextMap entries;
  while (!in.at_end()) {
    std::optional<ConfigEntry> entry = config_entry(in);
    if (!entry) break;
    uint64_t bytes = MAP_ENTRY_BYTES + heap_bytes(entry->first) + heap_bytes(entry->second);
    auto [at, added] = entries.insert_or_assign(std::move(entry->first), std::move(entry->second));
    if (added && !held.add(bytes)) {
      // Nothing is left to read: what was read is no failure of the grammar.
      in.advance_to(in.text.size());
      return std::nullopt;
    }
  }
  return entries;
}

TextMap remotes_from_entries(const TextMap& entries) {
  TextMap remotes;
  for (const auto& [key, value] : entries) {
    if (auto name = remote_name_of(key)) remotes.insert_or_assign(std::move(*name), value);
  }
  return remotes;
}

std::optional<RepoConfig> read_full_config(std::string_view text) {
  HeldBytes held("Configuration listing");
  std::optional<TextMap> entries = parse_all(text, [&](Input& in) { return config_map(in, held); });
  if (!entries) return std::nullopt;
  RepoConfig config;
  config.entries = std::move(*entries);
  config.remotes = remotes_from_entries(config.entries);
  held.keep();
  return config;
}

std::optional<RepoConfig> load_full_config(const std::string& repo_path) {
  std::optional<std::string> text = run_git(repo_path, {"config", "--list"});
  if (!text) return std::nullopt;
  std::optional<RepoConfig> config = read_full_config(*text);
  if (!config) return std::nullopt;
  CONFIG_CACHE().update([&](auto& cache) { cache.insert_or_assign(repo_path, *config); });
  return config;
}

}  // namespace brackwen
