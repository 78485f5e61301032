// "/f/load_conflicted_file": only the patch's new path is used of the working-copy entry.
#include "server/handlers/conflicts.hpp"

#include "api_types/json.hpp"
#include "git/conflicts/api.hpp"
#include "server/endpoint_shell.hpp"

namespace brackwen {

std::optional<Reply> handle_load_conflicted_file(std::string_view body) {
  return with_record<LoadConflictOptions>(body, [](const LoadConflictOptions& options) {
    return load_conflicted_file(options.repo_path, options.patch.new_file);
  });
}

}  // namespace brackwen
