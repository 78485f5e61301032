// Reading the process environment while requests may be changing it.
#pragma once
#include <optional>
#include <string>

namespace brackwen {

// A copy of the variable's value taken under the environment lock, so that a concurrent
// set_environment never hands us a freed or half-replaced string. Absent when unset.
std::optional<std::string> get_environment(const char* name);

}  // namespace brackwen
