// git rev-parse's answer for a folder: the git dir, the common dir, the index, the shared
// index, HEAD and the top of the work tree, one a line.
#include "git/reading/repository_location.hpp"

#include <sys/stat.h>
#include <time.h>

#include <cstring>
#include <filesystem>
#include <string_view>
#include <vector>

#include "git/git_version.hpp"
#include "git/process.hpp"
#include "git/reading/reading_argv.hpp"
#include "git/run_git.hpp"
#include "parser/text.hpp"
#include "stores/environment.hpp"
#include "stores/read_cache.hpp"

extern char** environ;

namespace brackwen {
namespace {

// Before it, the common dir and the git paths are printed relative to the folder, as the
// kernel resolves it: through any link on the way, so a ".." leaves the real parent.
constexpr GitVersion FIRST_WITH_PATH_FORMAT = {2, 31, 0};

// What git's status gives the git it runs in a submodule.
constexpr std::string_view DOT_GIT_OPTION = "--git-dir=.git";

// The folder's real path, which a relative path git printed starts from.
std::string real_dir(const std::string& dir) {
  std::error_code error;
  std::filesystem::path real = std::filesystem::canonical(dir, error);
  return error ? dir : real.string();
}

std::string absolute(const std::string& real_dir, std::string_view path) {
  std::filesystem::path p(path);
  return p.is_absolute() ? p.string()
                         : (std::filesystem::path(real_dir) / p).lexically_normal().string();
}

// One rev-parse.
LocationAnswer ask_location(const GitPlace& place) {
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
  std::vector<std::string_view> lines;
  for_each_line(run->out, [&](std::string_view line) { lines.push_back(line); });
  bool bare = !lines.empty() && lines[0] == "true";
  if (!bare && run->status != 0) return {std::nullopt, true, false};
  if (lines.size() != (bare ? 6u : 7u) || (!bare && lines[0] != "false")) return {};
  const std::string dir = real_dir(place.dir);
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

std::string place_key(const GitPlace& place) {
  return place.dir + '\0' + (place.through_dot_git ? "1" : "0") + '\0' + environment_key();
}

bool is_plain_directory(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether the answer is kept: where the folder holds its repository's git dir itself, a plain
// directory, and is the top of its work tree. Any other layout (a ".git" file naming a git dir
// elsewhere, a work tree the configuration names, a repository above the folder) is asked each
// time.
bool keeps(const RepositoryLocation& location) {
  const std::string& dir = location.place.dir;
  const std::string& git_dir = location.git_dir;
  std::error_code error;
  std::string real_dir = std::filesystem::canonical(dir, error).string();
  return !error && location.work_tree_top == real_dir && git_dir == real_dir + "/.git" &&
         is_plain_directory(dir + "/.git") && location.common_dir == git_dir &&
         location.index_file == git_dir + "/index" && location.head_file == git_dir + "/HEAD";
}

// What the answer kept rests on: git looks no further than the folder's ".git" while that stays
// a repository (HEAD, objects, refs, no commondir) and its configuration names no other work
// tree or format.
std::vector<FileStamp> location_stamps(const GitPlace& place) {
  std::string git_dir = place.dir + "/.git";
  std::vector<FileStamp> stamps;
  for (const char* part : {"", "/objects", "/refs"})
    stamps.push_back(file_stamp(git_dir + part, true));
  for (const char* part : {"/HEAD", "/commondir", "/config", "/config.worktree"})
    stamps.push_back(file_stamp(git_dir + part));
  return stamps;
}

}  // namespace

std::string environment_key() {
  auto guard = environment_lock();
  std::string key;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "BRACKWEN_", 9) == 0) continue;
    key += *entry;
    key += '\0';
  }
  return key;
}

std::optional<RepositoryLocation> kept_repository_location(const GitPlace& place) {
  if (auto kept = kept_location(place_key(place))) return *kept;
  return std::nullopt;
}

void add_place_option(GitArgs& argv, const GitPlace& place) {
  if (place.through_dot_git) argv.emplace(argv.begin() + 1, DOT_GIT_OPTION);
}

LocationAnswer locate_repository(const GitPlace& place) {
  if (auto kept = kept_repository_location(place)) return {std::move(kept)};
  timespec start = read_start_time();
  std::vector<FileStamp> before = location_stamps(place);
  LocationAnswer answer = ask_location(place);
  if (!answer.location || !keeps(*answer.location)) return answer;
  std::vector<FileStamp> after = location_stamps(place);
  if (before == after && settled_before(after, start)) {
    keep_location(place_key(place),
                  {std::move(after), std::make_shared<const RepositoryLocation>(*answer.location)});
  }
  return answer;
}

std::optional<RepositoryLocation> repository_location(const std::string& dir) {
  return locate_repository(GitPlace{dir, false}).location;
}

}  // namespace brackwen
