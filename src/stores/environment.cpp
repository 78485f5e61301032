// The process environment behind one lock.
#include "stores/environment.hpp"

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace brackwen {

std::unique_lock<std::mutex> environment_lock() {
  static std::mutex mutex;
  return std::unique_lock<std::mutex>(mutex);
}

bool set_environment(std::string_view name, std::string_view value) {
  auto has_nul = [](std::string_view text) { return text.find('\0') != std::string_view::npos; };
  if (name.empty() || has_nul(name) || has_nul(value) || name.find('=') != name.npos) return false;
  std::string n(name), v(value);
  auto guard = environment_lock();
  return ::setenv(n.c_str(), v.c_str(), 1) == 0;
}

std::optional<std::string> get_environment(std::string_view name) {
  std::string n(name);
  auto guard = environment_lock();
  const char* v = ::getenv(n.c_str());
  if (v == nullptr) return std::nullopt;
  return std::string(v);
}

size_t environment_bytes() {
  auto guard = environment_lock();
  size_t bytes = 0;
  for (char** entry = environ; *entry != nullptr; ++entry)
    bytes += std::strlen(*entry) + 1 + sizeof(char*);
  return bytes;
}

}  // namespace brackwen
