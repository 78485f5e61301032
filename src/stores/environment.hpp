// The process environment, which every git child inherits: one lock for every change and
// every spawn, so that a child never sees an environment that is half changed.
#pragma once
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace brackwen {

// Held by every spawn and every change of the environment.
std::unique_lock<std::mutex> environment_lock();

// Sets or replaces an environment variable under the environment lock. A name or value
// holding NUL (or a name holding "=") is refused: false, nothing set.
bool set_environment(std::string_view name, std::string_view value);

// Reads an environment variable under the environment lock (never getenv, for the same
// reason); absent when unset.
std::optional<std::string> get_environment(std::string_view name);

// What the environment takes of a new program's argument space (each string, its NUL and its
// pointer), read under the environment lock.
size_t environment_bytes();

}  // namespace brackwen
