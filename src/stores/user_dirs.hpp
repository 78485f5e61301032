// Where this program's files are: the per-user directories it keeps files in, looked up
// afresh on every use so that a HOME changed at run time moves them, and its own executable.
#pragma once
#include <filesystem>
#include <optional>

namespace brackwen {

// $XDG_CACHE_HOME when set and absolute, else the home directory's ".cache", then
// "brackwen". Absent when no home directory can be found.
std::optional<std::filesystem::path> user_caches_dir();

// HOME when set and not empty, else the password database's entry of the user.
std::optional<std::filesystem::path> home_dir();

// The running program's own file, from /proc/self/exe.
std::optional<std::filesystem::path> executable_path();

}  // namespace brackwen
