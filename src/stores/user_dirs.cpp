// Per-user directories after the XDG base-directory rules.
#include "stores/user_dirs.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "stores/environment.hpp"

namespace brackwen {
namespace {

constexpr const char* APP_DIR_NAME = "brackwen";

std::optional<std::filesystem::path> password_database_home() {
  long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  while (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
    buffer.resize(buffer.size() * 2);
  }
  if (!found || !found->pw_dir || !*found->pw_dir) return std::nullopt;
  return std::filesystem::path(found->pw_dir);
}

}  // namespace

std::optional<std::filesystem::path> home_dir() {
  auto home = get_environment("HOME");
  if (home && !home->empty()) return std::filesystem::path(*home);
  return password_database_home();
}

std::optional<std::filesystem::path> user_caches_dir() {
  auto xdg = get_environment("XDG_CACHE_HOME");
  if (xdg && std::filesystem::path(*xdg).is_absolute()) {
    return std::filesystem::path(*xdg) / APP_DIR_NAME;
  }
  auto home = home_dir();
  if (!home) return std::nullopt;
  return *home / ".cache" / APP_DIR_NAME;
}

std::optional<std::filesystem::path> executable_path() {
  std::error_code ec;
  auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::nullopt;
  return path;
}

}  // namespace brackwen
