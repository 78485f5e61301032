// Reply records that are not shared records of the git layer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "git/commit.hpp"
#include "stores/stores.hpp"

namespace brackwen {

// "/f/get_data_store": the store, or why it could not be read.
struct DataStoreReply {
  enum class Kind { Config, Error };
  Kind kind = Kind::Config;
  std::unordered_map<std::string, std::string> config;  // Config
  std::string error;                                    // Error
  bool operator==(const DataStoreReply&) const = default;
};

struct SetDataStoreResult {
  bool success = false;
  std::string message;
  bool operator==(const SetDataStoreResult&) const = default;
};

// "/f/poll_diff_search"; `results` stays null until the search is complete.
struct DiffSearchPoll {
  uint32_t search_id = 0;
  bool complete = false;
  std::optional<SearchResults> results;
  bool operator==(const DiffSearchPoll&) const = default;
};

enum class ConflictSide { Left, Right };

// One cell of one side of a conflict: a line, or a blank that pads the shorter side.
struct ConflictSideLine {
  enum class Kind { Blank, Conflict };
  Kind kind = Kind::Blank;
  std::string text;                        // Conflict
  ConflictSide side = ConflictSide::Left;  // Conflict
  size_t section = 0;
  std::string key;  // Conflict: side, section and index, as "Left-0-2"
  bool operator==(const ConflictSideLine&) const = default;
};

struct ConflictSection {
  std::vector<ConflictSideLine> left;
  std::vector<ConflictSideLine> right;
  bool operator==(const ConflictSection&) const = default;
};

// The checked-out branch, its remote counterpart and how far apart they are.
struct HeadInfo {
  RefInfo ref;
  Commit commit;
  std::optional<RefInfo> remote_ref;
  std::optional<Commit> remote_commit;
  uint32_t remote_ahead = 0;
  uint32_t remote_behind = 0;
  bool operator==(const HeadInfo&) const = default;
};

struct RefDiff {
  uint32_t ahead_of_remote = 0;
  uint32_t behind_remote = 0;
  uint32_t ahead_of_head = 0;
  uint32_t behind_head = 0;
  bool operator==(const RefDiff&) const = default;
};

struct RefHeadDiff {
  uint32_t ahead_of_head = 0;
  uint32_t behind_head = 0;
  bool operator==(const RefHeadDiff&) const = default;
};

struct UnpushedCommits {
  std::vector<std::string> this_branch;
  std::vector<std::string> all_branches;
  bool operator==(const UnpushedCommits&) const = default;
};

}  // namespace brackwen
