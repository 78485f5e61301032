// The action endpoints: each reads its record and hands it to the action services unchanged.
#include "server/handlers/actions.hpp"

#include "api_types/json.hpp"
#include "git/action_starters.hpp"
#include "git/credentials.hpp"
#include "git/run_git_action.hpp"
#include "server/endpoint_shell.hpp"

namespace brackwen {
namespace {

// The reply of the environment endpoints ("null"), whether or not the variables were set.

}  // namespace

std::optional<Reply> handle_command(std::string_view body) {
  return with_record<CommandOptions>(body, [](CommandOptions options) {
    return start_command(options.repo_path, std::move(options.args));
  });
}

std::optional<Reply> handle_commands(std::string_view body) {
  return with_record<CommandsOptions>(body, [](CommandsOptions options) {
    return start_commands(options.repo_path, std::move(options.commands));
  });
}

std::optional<Reply> handle_stash_changes(std::string_view body) {
  return with_record<ReqOptions>(
      body, [](const ReqOptions& options) { return stash_changes(options.repo_path); });
}

std::optional<Reply> handle_fetch_all(std::string_view body) {
  return with_record<ReqOptions>(
      body, [](const ReqOptions& options) { return fetch_all(options.repo_path); });
}

std::optional<Reply> handle_create_repo(std::string_view body) {
  return with_record<ReqOptions>(
      body, [](const ReqOptions& options) { return create_repo(options.repo_path); });
}

std::optional<Reply> handle_clone_repo(std::string_view body) {
  return with_record<CloneOptions>(
      body, [](const CloneOptions& options) { return clone_repo(options.repo_path, options.url); });
}

std::optional<Reply> handle_stash_staged(std::string_view body) {
  return with_record<StashStagedOptions>(body, [](const StashStagedOptions& options) {
    return stash_staged(options.repo_path, options.head_commit_id);
  });
}

std::optional<Reply> handle_poll_action2(std::string_view body) {
  return with_record<PollOptions>(
      body, [](const PollOptions& options) { return poll_action2(options.action_id); });
}

std::optional<Reply> handle_set_credentials(std::string_view body) {
  return with_record<Credentials>(body, [](const Credentials& credentials) {
    set_credentials(credentials.username, credentials.password);
    return NULL_REPLY;
  });
}

std::optional<Reply> handle_override_git_home(std::string_view body) {
  return with_record<ReqOptions>(body, [](const ReqOptions& options) {
    override_git_home(options.repo_path);
    return NULL_REPLY;
  });
}

}  // namespace brackwen
