// Fuzzes the stash list as its query reads it: the commit grammar over reflog records, then
// the stash form of each record.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "git/queries/commits.hpp"
#include "git/queries/commits_parsers.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brackwen;
  auto stashes = parse_all(fuzz_text(data, size), parse_commits);
  if (!stashes) return 0;
  for (size_t i = 0; i < stashes->size(); ++i) {
    ParsedCommit& entry = (*stashes)[i];
    make_stash_entry(entry, i);
    fuzz_require(entry.stash_id == "refs/stash@{" + std::to_string(i) + "}", "a wrong stash id");
    fuzz_require(entry.refs.empty() && !entry.is_merge, "a stash keeps refs or a merge");
    fuzz_require(entry.parent_ids.size() <= 1, "a stash keeps more than its first parent");
    fuzz_require(entry.message.find(':') == std::string::npos, "a stash message past its ':'");
    fuzz_require(entry.message.find("WIP") == std::string::npos, "a stash message keeps WIP");
  }
  return 0;
}
