// The per-user directories this program keeps files in, looked up afresh on every use so
// that a HOME changed at run time moves them.
#pragma once
#include <filesystem>
#include <optional>

namespace brackwen {

// $XDG_CACHE_HOME when set and absolute, else the home directory's ".cache", then
// "brackwen". Absent when no home directory can be found.
std::optional<std::filesystem::path> user_caches_dir();

// HOME when set and not empty, else the password database's entry of the user.
std::optional<std::filesystem::path> home_dir();

}  // namespace brackwen
