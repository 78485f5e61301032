// The raw git endpoints. "/f/run" passes the front end's arguments through untouched: that
// is its purpose, and git runs without a shell.
#include "server/handlers/raw_git.hpp"

#include "api_types/json.hpp"
#include "git/commit_image.hpp"
#include "git/run_git.hpp"
#include "server/endpoint_shell.hpp"

namespace brackwen {

std::optional<Reply> handle_run(std::string_view body) {
  return with_record<RunOptions>(body, [](const RunOptions& options) {
    return run_user_git(options.repo_path, options.args);
  });
}

std::optional<Reply> handle_load_commit_image(std::string_view body) {
  return with_record<ReqImageOptions>(body, [](const ReqImageOptions& options) {
    return load_commit_image(options.repo_path, options.commit_id, options.original_image_path,
                             options.temp_image_path);
  });
}

}  // namespace brackwen
