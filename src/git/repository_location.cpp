// git rev-parse's answer for a folder: the git dir, the common dir, the index, the shared
// index, HEAD and the top of the work tree, one a line.
#include "git/repository_location.hpp"

#include <filesystem>
#include <string_view>
#include <vector>

#include "git/git_version.hpp"
#include "git/process.hpp"
#include "git/reading_argv.hpp"
#include "git/run_git.hpp"

namespace brackwen {
namespace {

// Before it, the common dir and the git paths are printed relative to the folder.
constexpr GitVersion FIRST_WITH_PATH_FORMAT = {2, 31, 0};

// What git's status gives the git it runs in a submodule.
constexpr std::string_view DOT_GIT_OPTION = "--git-dir=.git";

std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t feed = text.find('\n');
    if (feed == std::string_view::npos) {
      lines.push_back(text);
      break;
    }
    lines.push_back(text.substr(0, feed));
    text.remove_prefix(feed + 1);
  }
  return lines;
}

std::string absolute(const std::string& dir, std::string_view path) {
  std::filesystem::path p(path);
  return p.is_absolute() ? p.string()
                         : (std::filesystem::path(dir) / p).lexically_normal().string();
}

}  // namespace

void add_place_option(GitArgs& argv, const GitPlace& place) {
  if (place.through_dot_git) argv.emplace(argv.begin() + 1, DOT_GIT_OPTION);
}

LocationAnswer locate_repository(const GitPlace& place) {
  GitArgs argv = pinned_git_argv({});
  add_place_option(argv, place);
  argv.emplace_back("rev-parse");
  if (git_is_at_least(FIRST_WITH_PATH_FORMAT)) argv.emplace_back("--path-format=absolute");
  // A bare repository has no top: rev-parse fails there after printing the rest.
  argv.insert(argv.end(),
              {"--is-bare-repository", "--absolute-git-dir", "--git-common-dir", "--git-path",
               "index", "--git-path", "sharedindex.", "--git-path", "HEAD", "--show-toplevel"});
  std::optional<ProcessOutput> run = run_reading_process(argv, place.dir);
  if (!run) return {std::nullopt, false, true};
  std::vector<std::string_view> lines = lines_of(run->out);
  bool bare = !lines.empty() && lines[0] == "true";
  if (!bare && run->status != 0) return {std::nullopt, true, false};
  if (lines.size() != (bare ? 6u : 7u) || (!bare && lines[0] != "false")) return {};
  const std::string& dir = place.dir;
  RepositoryLocation location{place,
                              std::string(lines[1]),
                              absolute(dir, lines[2]),
                              absolute(dir, lines[3]),
                              absolute(dir, lines[4]),
                              absolute(dir, lines[5]),
                              std::nullopt};
  if (!bare) location.work_tree_top = std::string(lines[6]);
  return {std::move(location)};
}

std::optional<RepositoryLocation> repository_location(const std::string& dir) {
  return locate_repository(GitPlace{dir, false}).location;
}

}  // namespace brackwen
