// Fuzzes the JSON reader with the body of every request record and with the disk cache of
// changed files: no crash, nothing accepted that is not JSON, and whatever reads writes back to
// text that reads to the same record.
#include <cstdint>
#include <string_view>

#include "api_types/json.hpp"
#include "fuzz_check.hpp"
#include "json_oracle.hpp"

namespace brackwen {
namespace {

bool is_bare_null(std::string_view body) {
  size_t start = body.find_first_not_of(" \t\n\r");
  size_t end = body.find_last_not_of(" \t\n\r");
  return start != std::string_view::npos && body.substr(start, end - start + 1) == "null";
}

// Whether the body read as an R (a value, or the literal null).
template <class R>
bool read_and_rewrite(std::string_view body) {
  JsonRead<R> read = parse_json<R>(body);
  fuzz_require(!(read.value && read.failure), "a value and a failure together");
  if (read.failure) return false;
  if (!read.value) {
    fuzz_require(is_bare_null(body), "no value and no failure for a body other than null");
    return true;
  }
  std::string text = to_json(*read.value);
  JsonRead<R> again = parse_json<R>(text);
  // A date too large for a float reads as infinity, which is written as null.
  if (!again.value) {
    fuzz_require(text.find("\"ms\":null") != std::string::npos, "written record does not read");
    return true;
  }
  fuzz_require(*again.value == *read.value, "written record reads differently");
  return true;
}

// Every record reads the body, not only up to the first that accepts it.
template <class... R>
bool read_as_each(std::string_view body) {
  return (static_cast<int>(read_and_rewrite<R>(body)) + ...) > 0;
}

}  // namespace
}  // namespace brackwen

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brackwen;
  std::string_view body = fuzz_text(data, size);
  bool accepted =
      read_as_each<ReqOptions, RunOptions, ScanOptions, ReqHunkOptions, ReqWipHunksOptions,
                   ReqCommitsOptions2, TopCommitOptions, CommitDiffOpts, RefDiffOptions,
                   CodeSearchOpts, PollSearchOpts, ReqPatchesForCommitOpts, SearchOptions,
                   CommitAncestorOpts, CommitOnBranchOpts, LoadConflictOptions, ReqImageOptions,
                   MessageAC, WatchRepoOptions, CommandOptions, CommandsOptions, CloneOptions,
                   Credentials, StashStagedOptions, PollOptions, WriteFileOpts, DataStoreValues,
                   PatchMap>(body);
  if (accepted) {
    fuzz_require(read_with_dom(body).verdict != DomVerdict::Invalid,
                 "a record read from a body that is not JSON");
  }
  return 0;
}
