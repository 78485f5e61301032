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

// A git command line that names revisions.
struct RevisionCommand {
  GitArgs options;  // the subcommand and its options
  std::vector<std::string> revisions;
  std::vector<std::string> paths;    // after "--"
  bool dash_dash = false;            // "--" even without paths: no revision may read as a path
  bool takes_end_of_options = true;  // "reset" refuses it
};

// The options, then the revisions after "--end-of-options" (git 2.24 and later reads every
// argument after it as a revision, whatever it begins with), then "--" and the paths. Absent
// when a revision is empty or reads as an option.
std::optional<GitArgs> revision_args(const RevisionCommand& command);

// A path as a pathspec that matches that one path: without the prefix git would read "*",
// "[ab]" or ":(top)" in a file name as a pattern.
std::string literal_pathspec(std::string_view path);

}  // namespace brackwen
