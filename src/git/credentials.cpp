// Credentials for git's ask-pass mechanism, and the home directory override.
#include "git/credentials.hpp"

#include <stdlib.h>

#include <system_error>

#include "parser/utf8.hpp"
#include "stores/environment.hpp"
#include "stores/user_dirs.hpp"

namespace brackwen {
namespace {

std::optional<std::filesystem::path> parent_of(const std::filesystem::path& path) {
  if (!path.has_filename()) return std::nullopt;
  return path.parent_path();
}

}  // namespace

std::optional<std::filesystem::path> ask_pass_path(const std::filesystem::path& executable) {
  auto dir = parent_of(executable);
  if (!dir) return std::nullopt;
  auto above = parent_of(*dir);
  if (!above) return std::nullopt;
  return *above / "ask-pass" / "ask-pass";
}

bool set_credentials(const std::string& username, const std::string& password) {
  // Setting one without the other would pair a new name with an old password.
  if (username.find('\0') != std::string::npos || password.find('\0') != std::string::npos) {
    return false;
  }
  std::optional<std::filesystem::path> path;
  if (auto executable = executable_path()) path = ask_pass_path(*executable);
  bool utf8 = !path || is_valid_utf8(path->native());
  // One holding of the lock, so no git starts with a new user name and the old password.
  auto lock = environment_lock();
  ::setenv("BRACKWEN_USERNAME", username.c_str(), 1);
  ::setenv("BRACKWEN_PASSWORD", password.c_str(), 1);
  if (path && utf8) ::setenv("GIT_ASKPASS", path->c_str(), 1);
  return utf8;
}

bool override_git_home(const std::string& home) {
  return set_environment("HOME", home);
}

}  // namespace brackwen
