// Thin handlers over the commit queries; the loaded list is written straight from the cached
// snapshot, so the history reply copies no commit on its way out.
#include "server/handlers/commit_log.hpp"

#include "api_types/json.hpp"
#include "git/queries/commits.hpp"
#include "git/queries/load_commits.hpp"
#include "server/endpoint_shell.hpp"

namespace brackwen {
namespace {

// Every key, brace and comma a commit or ref carries, plus its numbers, with room to spare.
constexpr size_t COMMIT_FRAME_BYTES = 256;
constexpr size_t REF_FRAME_BYTES = 192;

// The reply grows to tens of megabytes. Grown by doubling it would be copied again at every
// step and, at the last one, held twice at once; reserved up front it is written once. Texts
// count twice, for escapes: an over-estimate costs address space, not memory, since pages
// that are never written are never mapped in.
size_t reply_size_hint(const std::vector<Commit>& commits, const std::vector<RefInfo>& refs) {
  size_t size = 0;
  for (const Commit& c : commits) {
    size += COMMIT_FRAME_BYTES + 2 * (c.author.size() + c.email.size() + c.message.size());
    size += c.id.size() + c.parent_ids.size() * (c.id.size() + 3);
    for (const std::string& ref : c.refs) size += 2 * ref.size() + 3;
  }
  for (const RefInfo& r : refs) {
    size += REF_FRAME_BYTES + 2 * (r.full_name.size() + r.short_name.size()) + r.id.size() * 2;
  }
  return size;
}

}  // namespace

std::optional<std::string> handle_load_commits_and_refs(std::string_view body) {
  auto request = read_body<ReqCommitsOptions2>(body);
  if (!request) return std::nullopt;
  auto loaded = load_commits_and_refs(*request);
  if (!loaded) return "null";
  std::string out;
  out.reserve(reply_size_hint(loaded->commits(), loaded->refs()));
  out += '[';
  write_json(out, loaded->commits());
  out += ',';
  write_json(out, loaded->refs());
  out += ']';
  return out;
}

std::optional<std::string> handle_load_head_commit(std::string_view body) {
  return with_record<ReqOptions>(
      body, [](const ReqOptions& request) { return load_head_commit(request.repo_path); });
}

std::optional<std::string> handle_load_top_commit_for_branch(std::string_view body) {
  return with_record<TopCommitOptions>(body, [](const TopCommitOptions& request) {
    return load_top_commit_for_branch(request.repo_path, request.branch_name);
  });
}

}  // namespace brackwen
