// Fuzzes the commit grammar as the commit list reads a long log: the list form, the per-commit
// form and the streamed form read the same records, and each record keeps the grammar's
// promises.
#include <cstdint>
#include <string_view>

#include "fuzz_check.hpp"
#include "git/queries/commits.hpp"
#include "git/queries/commits_parsers.hpp"
#include "git/revisions.hpp"

namespace brackwen {
namespace {

void check_commit(const ParsedCommit& c) {
  fuzz_require(!c.author.empty() && is_object_id(c.id), "a commit without author or id");
  fuzz_require(c.message.find('\0') == std::string::npos, "a message holds a field's end");
  fuzz_require(c.is_merge == (c.parent_ids.size() >= 2), "merge flag and parents disagree");
  for (const std::string& parent : c.parent_ids) {
    fuzz_require(is_object_id(parent), "a parent that is no object id");
  }
  for (const RefInfo& ref : c.refs) {
    fuzz_require(ref.commit_id == c.id, "a ref of another commit");
    fuzz_require(!ref.id.empty(), "a ref without id");
  }
}

// The text in pieces of changing sizes, as git's output arrives: the streamed parse reads
// what the one-pass parse reads, or leaves the text to it when that fails too.
void check_streamed(std::string_view text, const std::optional<CommitLog>& whole) {
  LogStream stream(4);
  size_t piece = 1 + text.size() % 97;
  for (size_t at = 0; at < text.size(); at += piece, piece = 1 + (piece * 31 + 7) % 4099) {
    feed_log(stream, text.substr(at, piece));
  }
  if (!finish_log(stream)) {
    fuzz_require(!whole || text.empty(), "the streamed parse gave up on a readable log");
    return;
  }
  fuzz_require(whole && whole->commits == stream.log.commits && whole->refs == stream.log.refs,
               "the streamed parse read differently");
}

}  // namespace
}  // namespace brackwen

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brackwen;
  std::string_view text = fuzz_text(data, size);
  auto log = parse_all(text, [](Input& in) { return parse_commit_log(in, 4); });
  auto commits = parse_all(text, parse_commits);
  fuzz_require(log.has_value() == commits.has_value(), "the two forms disagree on the text");
  check_streamed(text, log);
  if (!log) return 0;
  fuzz_require(log->commits.size() == commits->size(), "the two forms count differently");
  size_t ref = 0;
  for (size_t i = 0; i < commits->size(); ++i) {
    const ParsedCommit& parsed = (*commits)[i];
    check_commit(parsed);
    fuzz_require(commit_from_parsed(parsed) == log->commits[i], "the two forms read differently");
    for (const RefInfo& info : parsed.refs) {
      fuzz_require(ref < log->refs.size() && log->refs[ref++] == info,
                   "the list form's refs differ");
    }
  }
  fuzz_require(ref == log->refs.size(), "the list form holds extra refs");
  return 0;
}
