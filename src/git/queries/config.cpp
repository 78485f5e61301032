// `git config --list`, read line by line into the entries map and the remotes map.
#include "git/queries/config.hpp"

#include "git/run_git.hpp"
#include "parser/standard_parsers.hpp"

namespace brackwen {
namespace {

constexpr std::string_view REMOTE_PREFIX = "remote.";
constexpr std::string_view URL_KEY = "url";

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

std::optional<std::vector<ConfigEntry>> config_entries(Input& in) {
  return many(in, config_entry);
}

TextMap remotes_from_entries(const TextMap& entries) {
  TextMap remotes;
  for (const auto& [key, value] : entries) {
    if (auto name = remote_name_of(key)) remotes.insert_or_assign(std::move(*name), value);
  }
  return remotes;
}

std::optional<RepoConfig> read_full_config(std::string_view text) {
  std::optional<std::vector<ConfigEntry>> read = parse_all(text, config_entries);
  if (!read) return std::nullopt;
  RepoConfig config;
  for (auto& [key, value] : *read)
    config.entries.insert_or_assign(std::move(key), std::move(value));
  config.remotes = remotes_from_entries(config.entries);
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
