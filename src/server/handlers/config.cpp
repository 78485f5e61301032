// The configuration endpoint: `git config --list` read, cached and replied.
#include "server/handlers/config.hpp"

#include "git/queries/config.hpp"
#include "server/endpoint_shell.hpp"

namespace brackwen {

std::optional<Reply> handle_load_full_config(std::string_view body) {
  return with_record<ReqOptions>(body,
                                 [](const ReqOptions& r) { return load_full_config(r.repo_path); });
}

}  // namespace brackwen
