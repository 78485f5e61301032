// Thin handlers over the commit queries; the loaded list is written straight from the cached
// snapshot, so the history reply copies no commit on its way out.
#include "server/handlers/commit_log.hpp"

#include <sys/mman.h>

#include <cstdint>

#include "api_types/json.hpp"
#include "git/queries/commits.hpp"
#include "server/endpoint_shell.hpp"
#include "server/history.hpp"

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

// A reply this large is mapped afresh for every request (the allocator hands such sizes
// straight to mmap and back), and faulting it in 4 KiB pages took a third of a repeated
// `fast` load. Where the system offers it, the buffer asks for huge pages instead: only the
// whole 2 MiB blocks inside it, which belong to it alone.
void reserve_reply(std::string& out, size_t bytes) {
  out.reserve(bytes);
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t HUGE_PAGE_BYTES = uintptr_t{2} << 20;
  auto begin = reinterpret_cast<uintptr_t>(out.data());
  uintptr_t first = (begin + HUGE_PAGE_BYTES - 1) & ~(HUGE_PAGE_BYTES - 1);
  uintptr_t last = (begin + out.capacity()) & ~(HUGE_PAGE_BYTES - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

}  // namespace

std::optional<std::string> handle_load_commits_and_refs(std::string_view body) {
  auto request = read_body<ReqCommitsOptions2>(body);
  if (!request) return std::nullopt;
  auto loaded = load_commits_and_refs(*request);
  if (!loaded) return "null";
  std::string out;
  reserve_reply(out, reply_size_hint(loaded->commits(), loaded->refs()));
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
