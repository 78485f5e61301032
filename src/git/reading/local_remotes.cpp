// Local remotes as git's transport and upload-pack find them, and whether one lies inside a
// repository.
#include "git/reading/local_remotes.hpp"

#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <fstream>
#include <vector>

#include "stores/environment.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;

bool is_scheme_char(bool first, char c) {
  auto u = static_cast<unsigned char>(c);
  return first ? std::isalpha(u) != 0 : std::isalnum(u) != 0 || c == '+' || c == '-' || c == '.';
}

// "<helper>::<address>" chooses a remote helper.
bool names_helper(std::string_view url) {
  size_t end = 0;
  while (end < url.size() && is_scheme_char(end == 0, url[end])) ++end;
  return url.substr(end).starts_with("::");
}

// "<scheme>://", as git tells a URL from a path.
bool is_url(std::string_view url) {
  if (url.empty() || !is_scheme_char(true, url[0])) return false;
  size_t colon = url.find(':');
  if (colon == std::string_view::npos) return false;
  for (size_t i = 1; i < colon; ++i) {
    if (!is_scheme_char(false, url[i])) return false;
  }
  return url.substr(colon).starts_with("://");
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percent_decoded(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    bool escape = text[i] == '%' && i + 2 < text.size();
    int high = escape ? hex_value(text[i + 1]) : -1;
    int low = escape ? hex_value(text[i + 2]) : -1;
    if (high < 0 || low < 0) {
      out += text[i];
      continue;
    }
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

// `path` as upload-pack opens it: "~/" is the user's home; absent for "~user/".
std::optional<fs::path> absolute_path(const RepositoryLocation& location, const std::string& path) {
  if (path.starts_with("~")) {
    if (path != "~" && !path.starts_with("~/")) return std::nullopt;
    auto home = get_environment("HOME");
    if (!home) return std::nullopt;
    return fs::path(*home) / path.substr(std::min<size_t>(path.size(), 2));
  }
  // The lazy fetch runs where git runs after finding the repository.
  fs::path base = location.work_tree_top.value_or(location.git_dir);
  return base / path;
}

// The directory a ".git" file names, as "gitdir: <path>" on its first line; only its start is
// read, since the file may be any file.
std::optional<fs::path> named_git_dir(const fs::path& file) {
  std::string line(PATH_MAX + 16, '\0');
  std::ifstream in(file, std::ios::binary);
  in.read(line.data(), static_cast<std::streamsize>(line.size()));
  line.resize(static_cast<size_t>(in.gcount()));
  line.resize(std::min(line.size(), line.find('\n')));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  constexpr std::string_view PREFIX = "gitdir: ";
  if (!line.starts_with(PREFIX)) return std::nullopt;
  return file.parent_path() / line.substr(PREFIX.size());
}

bool within(const fs::path& path, const fs::path& dir) {
  const std::string& p = path.native();
  const std::string& d = dir.native();
  if (d == "/" || p == d) return true;
  return p.size() > d.size() && p.starts_with(d) && p[d.size()] == '/';
}

}  // namespace

std::optional<std::string> local_remote_path(std::string_view url) {
  if (names_helper(url)) return std::nullopt;
  if (url.starts_with("file://")) return percent_decoded(url.substr(7));
  if (is_url(url)) return std::nullopt;
  size_t colon = url.find(':');
  size_t slash = url.find('/');
  if (colon != std::string_view::npos && (slash == std::string_view::npos || slash > colon))
    return std::nullopt;
  return std::string(url);
}

bool lies_inside(const RepositoryLocation& location, const std::string& path) {
  std::optional<fs::path> absolute = absolute_path(location, path);
  if (!absolute) return true;
  std::vector<fs::path> dirs;
  for (const std::string& dir :
       {location.git_dir, location.common_dir, location.work_tree_top.value_or(location.git_dir)}) {
    std::error_code error;
    dirs.push_back(fs::weakly_canonical(dir, error));
    if (error) return true;
  }
  auto inside = [&](const fs::path& candidate) {
    std::error_code error;
    fs::path real = fs::weakly_canonical(candidate, error);
    return error || std::any_of(dirs.begin(), dirs.end(),
                                [&](const fs::path& dir) { return within(real, dir); });
  };
  std::string base = absolute->string();
  for (const std::string& candidate : {base + "/.git", base, base + ".git/.git", base + ".git"}) {
    if (inside(candidate)) return true;
    std::error_code error;
    if (!fs::is_regular_file(candidate, error)) continue;
    auto named = named_git_dir(candidate);
    if (named && inside(*named)) return true;
  }
  return false;
}

}  // namespace brackwen
