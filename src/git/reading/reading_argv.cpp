// The options of every reading git run: no program the repository names, git's own formats.
#include "git/reading/reading_argv.hpp"

#include <unistd.h>

#include <algorithm>
#include <span>
#include <string_view>
#include <vector>

#include "git/git_version.hpp"
#include "git/process.hpp"
#include "git/reading/repository_settings.hpp"
#include "git/reading/submodule_settings.hpp"
#include "git/run_git.hpp"
#include "parser/diagnostics.hpp"
#include "stores/environment.hpp"

namespace brackwen {
namespace {

// Status then writes no index, so no post-index-change hook runs, and no refreshed index or
// untracked cache is left behind by a read.
constexpr std::string_view NO_OPTIONAL_LOCKS = "--no-optional-locks";
constexpr GitVersion FIRST_WITH_NO_OPTIONAL_LOCKS = {2, 15, 0};

// Settings given with "-c", which outranks every configuration file. The first name programs;
// the rest are git's defaults for what a user may set otherwise and a grammar would misread.
constexpr std::string_view PINNED_SETTINGS[] = {
    // Empty is "off" for every git that knows the key.
    "core.fsmonitor=",
    // No read runs a hook; should one try, no directory holds it.
    "core.hooksPath=/dev/null",
    // A signature check runs gpg.program and prints its lines among the log's.
    "log.showSignature=false",
    // log, show and reflog read the mailmap whole before their first record, and one that names
    // /dev/zero is never read to its end. The formats read %an and %ae, the commit's own names,
    // which a mailmap does not change.
    "log.mailmap=false",
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
    // ext:: runs its URL, which a repository's remote names, as a command.
    "protocol.ext.allow=never",
    // A lazy fetch would start git's automatic maintenance, whose gc detaches from the read and
    // rewrites the repository's packs long after the reply, and would write a commit-graph.
    "maintenance.auto=false",
    "gc.auto=0",
    "gc.autoDetach=false",
    "fetch.writeCommitGraph=false",
};

// External diffs and diff drivers' commands and text conversions are named by the repository's
// attributes and configuration; only the command line turns them all off.
constexpr std::string_view DIFF_OPTIONS[] = {"--no-color", "--no-ext-diff", "--no-textconv"};
// "show" of a blob converts it only when either textconv option is given.
constexpr std::string_view SHOW_OPTIONS[] = {"--no-color", "--no-ext-diff"};

// The refs a log decorates: naming them outranks log.excludeDecoration and
// log.initialDecorationSet, and a repository's own refs in other namespaces decorate nothing.
// They are git's own default set since 2.38. Before 2.38 git read every filter as a name under
// "refs/": "HEAD" would match a repository's own "refs/HEAD" and never HEAD, so it is left out
// there and HEAD is read apart (log_decorates_head).
constexpr GitVersion FIRST_DECORATING_HEAD_BY_NAME = {2, 38, 0};
constexpr std::string_view DECORATIONS[] = {
    "--decorate-refs=HEAD",       "--decorate-refs=refs/heads/", "--decorate-refs=refs/remotes/",
    "--decorate-refs=refs/tags/", "--decorate-refs=refs/stash",  "--decorate-refs=refs/replace/"};

std::span<const std::string_view> decorations() {
  std::span<const std::string_view> all = DECORATIONS;
  return log_decorates_head() ? all : all.subspan(1);
}

struct Subcommand {
  std::string_view name;
  std::span<const std::string_view> options;
  bool decorates = false;
  // Whether it may compare files of the work tree with the index, which runs their filters,
  // and look into submodules, which runs a status in each.
  bool reads_work_tree = true;
  // "config --list" shows the user's settings, the pinned ones among them; it runs nothing.
  bool pinned = true;
  // Whether it may read an object, which in a partial clone may fetch it.
  bool reads_objects = true;
};

constexpr Subcommand SUBCOMMANDS[] = {
    {"cat-file", {}, false, false},
    {"config", {}, false, false, false, false},
    // Between two commits only.
    {"diff", DIFF_OPTIONS, false, false},
    {"diff-tree", {}, false, false},
    // Asked for ref names and ids only, which it reads without an object.
    {"for-each-ref", {}, false, false, true, false},
    {"log", DIFF_OPTIONS, true, false},
    {"ls-tree", {}, false, false},
    // The stash list's decorations are dropped.
    {"reflog", {}, false, false},
    {"rev-list", {}, false, false},
    // Names refs and object ids only.
    {"rev-parse", {}, false, false, true, false},
    {"show", SHOW_OPTIONS, false, false},
    {"status", {}, false, true},
    {"symbolic-ref", {}, false, false, true, false},
};

// Any other subcommand is taken to read the work tree.
Subcommand subcommand(const GitArgs& args) {
  if (args.empty()) return {};
  auto found = std::find_if(std::begin(SUBCOMMANDS), std::end(SUBCOMMANDS),
                            [&](const Subcommand& s) { return s.name == args[0]; });
  return found == std::end(SUBCOMMANDS) ? Subcommand{} : *found;
}

void add_option(GitArgs& argv, std::string_view setting) {
  argv.emplace_back("-c");
  argv.emplace_back(setting);
}

// What execve takes: every argument and environment string with its NUL and its pointer.
bool fits_command_line(const GitArgs& argv) {
  size_t bytes = environment_bytes();
  for (const std::string& arg : argv) bytes += arg.size() + 1 + sizeof(char*);
  long limit = ::sysconf(_SC_ARG_MAX);
  return limit <= 0 || bytes <= static_cast<size_t>(limit);
}

void report_refused(std::string_view subcommand) {
  write_stderr("git " + std::string(subcommand) +
               " not run: the repository's configuration names more programs than a command "
               "line can switch off\n");
}

std::optional<ReadingSettings> reading_settings(const std::string& repo_path,
                                                const Subcommand& command) {
  ReadingSettings settings;
  if (!command.reads_objects) return settings;
  bool found = command.reads_work_tree ? add_status_settings(repo_path, settings)
                                       : add_repository_settings(repo_path, false, settings);
  if (!found) return std::nullopt;
  finish_settings(settings);
  return settings;
}

}  // namespace

bool log_decorates_head() {
  return git_is_at_least(FIRST_DECORATING_HEAD_BY_NAME);
}

GitArgs pinned_git_argv(const std::vector<std::string>& settings, bool pinned) {
  GitArgs argv{GIT_PROGRAM()};
  if (pinned) {
    if (git_is_at_least(FIRST_WITH_NO_OPTIONAL_LOCKS)) argv.emplace_back(NO_OPTIONAL_LOCKS);
    for (std::string_view setting : PINNED_SETTINGS) add_option(argv, setting);
  }
  for (const std::string& setting : settings) add_option(argv, setting);
  return argv;
}

std::optional<ReadingCommand> reading_git_command(const std::string& repo_path,
                                                  const GitArgs& args) {
  Subcommand command = subcommand(args);
  auto settings = reading_settings(repo_path, command);
  if (!settings) return std::nullopt;
  std::string name = args.empty() ? "" : args[0];
  ReadingCommand reading{pinned_git_argv(settings->settings, command.pinned),
                         set_aside_line(*settings, name)};
  GitArgs& argv = reading.argv;
  if (settings->refused || !fits_command_line(argv)) {
    report_refused(name);
    return std::nullopt;
  }
  if (args.empty()) return reading;
  argv.push_back(args[0]);
  argv.insert(argv.end(), command.options.begin(), command.options.end());
  if (command.decorates) {
    auto refs = decorations();
    argv.insert(argv.end(), refs.begin(), refs.end());
  }
  argv.insert(argv.end(), args.begin() + 1, args.end());
  return reading;
}

std::optional<GitArgs> reading_git_argv(const std::string& repo_path, const GitArgs& args) {
  auto command = reading_git_command(repo_path, args);
  if (!command) return std::nullopt;
  return std::move(command->argv);
}

void report_failed_read(const ReadingCommand& command, int status) {
  if (status != 0 && !command.failure_line.empty()) write_stderr(command.failure_line);
}

}  // namespace brackwen
