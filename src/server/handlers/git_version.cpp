// "/f/git_version": the installed git's version, read again while it is still unknown.
#include "server/handlers/git_version.hpp"

#include "api_types/json.hpp"
#include "server/endpoint_shell.hpp"

namespace brackwen {

std::optional<GitVersion> current_git_version() {
  std::optional<GitVersion> stored = get_git_version();
  if (!stored) return std::nullopt;
  if (stored->major != 0) return stored;
  // Start-up may have run before git was installed or on PATH; every request retries.
  load_git_version();
  std::optional<GitVersion> fresh = get_git_version();
  if (!fresh || fresh->major == 0) return std::nullopt;
  return fresh;
}

std::optional<Reply> handle_git_version(std::string_view body) {
  return with_record<ReqOptions>(body, [](const ReqOptions&) { return current_git_version(); });
}

}  // namespace brackwen
