// The front end's files, served from the installation root below the executable.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "server/reply.hpp"

namespace brackwen {

// The installation root: `executable` with its last component removed three times; nothing
// when it is too close to "/" to have three parents.
std::optional<std::string> installation_root(std::string_view executable);

// The path as the check line shows it: in double quotes, with backslash escapes for quotes,
// backslashes, control and unprintable characters and bytes that are not UTF-8.
std::string quote_path(std::string_view path);

struct StaticLookup {
  std::optional<std::string> check_line;  // "file_path \"...\", exists: true|false\n"
  std::optional<Reply> reply;             // nothing: drop the request
};

// The file that `target` (the raw request target, starting "/r/") names below the root of
// `executable`. Paths that leave the root (absolute, or with a ".." component) and anything
// that is not a regular file are answered like a missing file.
StaticLookup look_up_static_file(std::string_view executable, std::string_view target);

// look_up_static_file for the running executable; the check line goes to standard output
// without ever waiting for the reader of that pipe.
std::optional<Reply> serve_static_file(std::string_view target);

}  // namespace brackwen
