// Revisions on git's command line. A revision comes from a request or from git's own output,
// and either may hold text a stranger wrote, so every one goes through here: a text git could
// take as an option is refused, and the revisions follow "--end-of-options".
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brackwen {

using GitArgs = std::vector<std::string>;

// A full object name as git prints it: 40 lower-case hexadecimal digits, or 64 in a SHA-256
// repository.
bool is_object_id(std::string_view text);

// Whether git could read the text as an option instead of a revision or a URL.
bool reads_as_option(std::string_view text);

// `from`, `dots` and `to` as one revision range; absent when either end is empty or reads as
// an option.
std::optional<std::string> revision_range(std::string_view from, std::string_view dots,
                                          std::string_view to);

using Paths = std::vector<std::string>;

// "reset" takes no "--end-of-options".
enum class EndOfOptions { Taken, Refused };

// `options`, then the revisions after "--end-of-options" (git 2.24 and later reads every
// argument after it as a revision, whatever it begins with), then, when `paths` is given, "--"
// and the paths: "--" alone keeps a revision from being read as a path. Absent when a revision
// is empty or reads as an option.
std::optional<GitArgs> revision_args(GitArgs options, const std::vector<std::string>& revisions,
                                     const std::optional<Paths>& paths = std::nullopt,
                                     EndOfOptions end_of_options = EndOfOptions::Taken);

// A path as a pathspec that matches that one path: without the prefix git would read "*",
// "[ab]" or ":(top)" in a file name as a pattern.
std::string literal_pathspec(std::string_view path);

}  // namespace brackwen
