// The working-copy status endpoint: the status query, written as JSON.
#include "server/handlers/wip_status.hpp"

#include "git/queries/wip/wip_status.hpp"
#include "server/endpoint_shell.hpp"

namespace brackwen {

std::optional<Reply> handle_load_wip_patches(std::string_view body) {
  return with_record<ReqOptions>(
      body, [](const ReqOptions& request) { return load_wip_patches(request.repo_path); });
}

}  // namespace brackwen
