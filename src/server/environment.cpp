// Reading the process environment under the lock its writers hold.
#include "server/environment.hpp"

#include <cstdlib>

#include "git/process.hpp"

namespace brackwen {

std::optional<std::string> get_environment(const char* name) {
  auto lock = environment_lock();
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

}  // namespace brackwen
