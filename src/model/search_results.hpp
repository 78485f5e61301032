// What the two searches find: commits whose ids, texts, paths or refs match, and the changed
// lines that hold a text.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/hunk.hpp"
#include "model/patch.hpp"

namespace brackwen {

enum class SearchMatchType { CommitId, CommitMessage, Email, Author };

struct PatchMatch {
  Patch patch;
  std::vector<HunkLine> lines;
  bool operator==(const PatchMatch&) const = default;
};

struct CommitSearchResult {
  std::string commit_id;
  std::vector<SearchMatchType> matches;  // each kind once
  std::vector<Patch> patches;            // changed files whose old or new path matched
  std::vector<PatchMatch> diffs;         // always empty: diffs are searched elsewhere
  std::vector<std::string> ref_ids;      // the commit's refs whose full name matched
  bool operator==(const CommitSearchResult&) const = default;
};

// A diff search's hits: commit id -> its changed files with the lines that hold the text.
using SearchResults = std::vector<std::pair<std::string, std::vector<PatchMatch>>>;

// "/f/poll_diff_search"; `results` stays null until the search is complete.
struct DiffSearchPoll {
  uint32_t search_id = 0;
  bool complete = false;
  std::optional<SearchResults> results;
  bool operator==(const DiffSearchPoll&) const = default;
};

}  // namespace brackwen
