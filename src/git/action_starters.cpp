// The action starters: clone, init, fetch, stash, and the front end's own commands.
#include "git/action_starters.hpp"

#include <filesystem>
#include <system_error>

#include "git/revisions.hpp"
#include "git/run_git.hpp"
#include "stores/repo_changed.hpp"

namespace brackwen {
namespace {

// Makes the directory with its missing parents. A NUL would cut the path short, so it fails.
bool make_directory(const std::string& path) {
  if (path.find('\0') != std::string::npos) return false;
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return !ec;
}

std::optional<std::string> stash_top(const std::string& repo_path) {
  return run_git(repo_path, {"rev-parse", "-q", "--verify", "refs/stash"});
}

// The staged changes end up alone in a new stash. The first "stash push" saves nothing when
// there is nothing but staged changes, and then there is nothing of ours to pop: popping
// stash@{1} would apply someone's older stash, or fail when there is none.
std::optional<ActionError> stash_staged_steps(const std::string& repo_path,
                                              const GitCommand& reset_to_head, ActionId id) {
  auto run = [&](const GitCommand& args) { return run_action_command(repo_path, args, id); };
  if (auto error = run({"commit", "-m", std::string(TEMP_COMMIT_MESSAGE)})) return error;
  if (auto error = run({"add", "--all"})) return error;
  auto before = stash_top(repo_path);
  if (auto error = run({"stash", "push"})) return error;
  bool stashed_the_rest = stash_top(repo_path) != before;
  if (auto error = run(reset_to_head)) return error;
  if (auto error = run({"add", "--all"})) return error;
  if (auto error = run({"stash", "push"})) return error;
  if (stashed_the_rest) {
    if (auto error = run({"stash", "pop", "stash@{1}"})) return error;
  }
  return run({"reset"});
}

}  // namespace

std::string_view submodule_flag(const std::optional<GitVersion>& version) {
  if (version && version->major >= 2 && version->minor >= 13) return "--recurse-submodules";
  return "--recursive";
}

ActionId clone_repo(const std::string& repo_path, const std::string& url) {
  if (reads_as_option(url) || !make_directory(repo_path)) return 0;
  return start_git_action(
      repo_path, {"clone", std::string(submodule_flag(get_git_version())), "--progress", url});
}

ActionId create_repo(const std::string& repo_path) {
  if (!make_directory(repo_path)) return 0;
  return start_git_action(repo_path, {"init"});
}

ActionId fetch_all(const std::string& repo_path) {
  return start_git_action(repo_path, {"fetch", "--all", "--prune"});
}

ActionId start_command(const std::string& repo_path, GitCommand args) {
  mark_repo_changed(repo_path);
  return start_git_action(repo_path, std::move(args));
}

ActionId start_commands(const std::string& repo_path, std::vector<GitCommand> commands) {
  mark_repo_changed(repo_path);
  return start_git_actions(repo_path, std::move(commands));
}

ActionId stash_changes(const std::string& repo_path) {
  return start_git_actions(repo_path, {{"add", "--all"}, {"stash", "push"}});
}

ActionId stash_staged(const std::string& repo_path, const std::string& head_commit_id) {
  // Refused before the first step: a reset that git rejects would leave the temporary commit.
  auto reset_to_head =
      revision_args({"reset", "--soft"}, {head_commit_id}, Paths{}, EndOfOptions::Refused);
  if (!reset_to_head) return 0;
  return start_action([repo_path, reset = std::move(*reset_to_head)](ActionId id) {
    if (auto error = stash_staged_steps(repo_path, reset, id)) {
      set_action_error(id, std::move(*error));
    } else {
      set_action_done(id);
    }
  });
}

}  // namespace brackwen
