// The options of every reading git run: no program the repository names, git's own formats.
#include "git/reading_argv.hpp"

#include <algorithm>
#include <span>
#include <string_view>
#include <vector>

#include "git/git_version.hpp"
#include "git/process.hpp"
#include "git/run_git.hpp"

namespace brackwen {
namespace {

// Status then writes no index, so no post-index-change hook runs, and no refreshed index or
// untracked cache is left behind by a read.
constexpr std::string_view NO_OPTIONAL_LOCKS = "--no-optional-locks";
constexpr GitVersion FIRST_WITH_NO_OPTIONAL_LOCKS = {2, 15, 0};
constexpr GitVersion FIRST_WITH_SHOW_SCOPE = {2, 26, 0};

// Settings given with "-c", which outranks every configuration file. The first name programs;
// the rest are git's defaults for what a user may set otherwise and a grammar would misread.
constexpr std::string_view PINNED_SETTINGS[] = {
    // Empty is "off" for every git that knows the key.
    "core.fsmonitor=",
    // No read runs a hook; should one try, no directory holds it.
    "core.hooksPath=/dev/null",
    // A signature check runs gpg.program and prints its lines among the log's.
    "log.showSignature=false",
    "core.quotePath=true",
    "core.bigFileThreshold=512m",
    "i18n.logOutputEncoding=UTF-8",
    "log.showRoot=true",
    "diff.noprefix=false",
    "diff.mnemonicPrefix=false",
    "diff.relative=false",
    "diff.renames=true",
    "diff.renameLimit=1000",
    "diff.algorithm=default",
    "diff.indentHeuristic=true",
    "diff.context=3",
    "diff.interHunkContext=0",
    "diff.suppressBlankEmpty=false",
    "diff.orderFile=/dev/null",
    "diff.ignoreSubmodules=none",
    "diff.submodule=short",
    "status.renames=true",
    "status.renameLimit=1000",
};

// External diffs and diff drivers' commands and text conversions are named by the repository's
// attributes and configuration; only the command line turns them all off.
constexpr std::string_view DIFF_OPTIONS[] = {"--no-color", "--no-ext-diff", "--no-textconv"};
// "show" of a blob converts it only when either textconv option is given.
constexpr std::string_view SHOW_OPTIONS[] = {"--no-color", "--no-ext-diff"};

// The refs a log decorates: naming them outranks log.excludeDecoration and
// log.initialDecorationSet. The namespaces are git's own default set since 2.38; an older git
// decorated every ref.
constexpr GitVersion FIRST_WITH_DEFAULT_DECORATIONS = {2, 38, 0};
constexpr std::string_view DEFAULT_DECORATIONS[] = {
    "--decorate-refs=HEAD",       "--decorate-refs=refs/heads/", "--decorate-refs=refs/remotes/",
    "--decorate-refs=refs/tags/", "--decorate-refs=refs/stash",  "--decorate-refs=refs/replace/"};
constexpr std::string_view ALL_DECORATIONS[] = {"--decorate-refs=HEAD", "--decorate-refs=refs/"};

std::span<const std::string_view> decorations() {
  if (git_is_at_least(FIRST_WITH_DEFAULT_DECORATIONS)) return DEFAULT_DECORATIONS;
  return ALL_DECORATIONS;
}

struct Subcommand {
  std::string_view name;
  std::span<const std::string_view> options;
  bool decorates = false;
  // Whether it may compare files of the work tree with the index, which runs their filters.
  bool reads_work_tree = true;
  // "config --list" shows the user's settings, the pinned ones among them; it runs nothing.
  bool pinned = true;
};

constexpr Subcommand SUBCOMMANDS[] = {
    {"config", {}, false, false, false},
    // Between two commits only.
    {"diff", DIFF_OPTIONS, false, false},
    {"diff-tree", {}, false, false},
    {"log", DIFF_OPTIONS, true, false},
    // The stash list's decorations are dropped.
    {"reflog", {}, false, false},
    {"rev-list", {}, false, false},
    {"rev-parse", {}, false, false},
    {"show", SHOW_OPTIONS, false, false},
    {"status", {}, false, true},
};

// Any other subcommand is taken to read the work tree.
Subcommand subcommand(const GitArgs& args) {
  if (args.empty()) return {};
  auto found = std::find_if(std::begin(SUBCOMMANDS), std::end(SUBCOMMANDS),
                            [&](const Subcommand& s) { return s.name == args[0]; });
  return found == std::end(SUBCOMMANDS) ? Subcommand{} : *found;
}

constexpr std::string_view FILTER_PREFIX = "filter.";
constexpr std::string_view FILTER_KEYS[] = {"clean", "smudge", "process"};
// A required filter that does not run stops git: switched off, it must not be required.
constexpr std::string_view NOT_REQUIRED = ".required=false";

// The names of the filters whose programs the repository's own configuration (its config
// file, a worktree's, and what they include) sets. The user's and the system's filters (a
// large-file store's, say) are the user's own programs and run as git runs them. A git
// without "--show-scope" cannot tell the scopes apart, so there every filter counts.
std::optional<std::vector<std::string>> repository_filters(const std::string& repo_path) {
  bool scoped = git_is_at_least(FIRST_WITH_SHOW_SCOPE);
  GitArgs argv = {GIT_PROGRAM(), "config", "-z", "--get-regexp",
                  "^filter\\..+\\.(clean|smudge|process)$"};
  if (scoped) argv.insert(argv.begin() + 2, "--show-scope");
  std::optional<ProcessOutput> run = run_reading_process(argv, repo_path);
  // 1 is "no such setting".
  if (!run || (run->status != 0 && run->status != 1)) return std::nullopt;
  std::vector<std::string> names;
  std::string_view rest = run->out;
  // Each entry is "<scope>\0" when scoped, then "<key>\n<value>\0" (or "<key>\0" without one).
  while (!rest.empty()) {
    std::string_view scope;
    if (scoped) {
      scope = rest.substr(0, rest.find('\0'));
      rest.remove_prefix(std::min(rest.size(), scope.size() + 1));
    }
    std::string_view entry = rest.substr(0, rest.find('\0'));
    rest.remove_prefix(std::min(rest.size(), entry.size() + 1));
    std::string_view key = entry.substr(0, entry.find('\n'));
    size_t last_dot = key.rfind('.');
    if (!key.starts_with(FILTER_PREFIX) || last_dot <= FILTER_PREFIX.size()) continue;
    if (scoped && scope != "local" && scope != "worktree") continue;
    std::string name(key.substr(FILTER_PREFIX.size(), last_dot - FILTER_PREFIX.size()));
    // "-c" splits at the first "=": such a name cannot be switched off.
    if (name.find('=') != std::string::npos) return std::nullopt;
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}

void add_setting(GitArgs& argv, std::string setting) {
  argv.emplace_back("-c");
  argv.push_back(std::move(setting));
}

}  // namespace

std::optional<GitArgs> reading_git_argv(const std::string& repo_path, const GitArgs& args) {
  Subcommand command = subcommand(args);
  GitArgs argv{GIT_PROGRAM()};
  if (command.pinned) {
    if (git_is_at_least(FIRST_WITH_NO_OPTIONAL_LOCKS)) argv.emplace_back(NO_OPTIONAL_LOCKS);
    for (std::string_view setting : PINNED_SETTINGS) add_setting(argv, std::string(setting));
  }
  if (command.reads_work_tree) {
    auto filters = repository_filters(repo_path);
    if (!filters) return std::nullopt;
    for (const std::string& name : *filters) {
      std::string prefix = std::string(FILTER_PREFIX) + name;
      for (std::string_view key : FILTER_KEYS)
        add_setting(argv, prefix + "." + std::string(key) + "=");
      add_setting(argv, prefix + std::string(NOT_REQUIRED));
    }
  }
  if (args.empty()) return argv;
  argv.push_back(args[0]);
  argv.insert(argv.end(), command.options.begin(), command.options.end());
  if (command.decorates) {
    auto refs = decorations();
    argv.insert(argv.end(), refs.begin(), refs.end());
  }
  argv.insert(argv.end(), args.begin() + 1, args.end());
  return argv;
}

}  // namespace brackwen
