// Commits as the commit grammar builds them and the caches keep them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/ref.hpp"

namespace brackwen {

struct DateResult {
  float ms = 0;  // seconds read as a 32-bit float, times 1000 in float arithmetic
  int32_t adjustment = 0;
  bool operator==(const DateResult&) const = default;
};

// The same twelve fields serve both forms; only what `refs` holds differs.
template <class RefT>
struct CommitOf {
  std::string author;
  std::string email;
  DateResult date;
  std::string id;
  size_t index = 0;
  std::vector<std::string> parent_ids;
  bool is_merge = false;
  std::string message;
  std::optional<std::string> stash_id;
  std::vector<RefT> refs;
  bool filtered = false;
  uint32_t num_skipped = 0;
  bool operator==(const CommitOf&) const = default;
};

using ParsedCommit = CommitOf<RefInfo>;  // refs are the decorations in full
using Commit = CommitOf<std::string>;    // refs are the ids of the decorations

// Positions of a history's list, from `first` up to `end`.
struct ListStretch {
  size_t first = 0;
  size_t end = 0;
  bool operator==(const ListStretch&) const = default;
};

// One repository's loaded history. Shared read-only: a reader holds a snapshot that later
// loads never change, which is what a copy would give at a fraction of the cost.
struct CommitsAndRefs {
  std::vector<Commit> commits;
  std::vector<RefInfo> refs;
  // Where the list puts a parent before its child (git's log lists by date, and a clock was
  // wrong), as the stretches those parents span: found once when the list is stored, for the
  // walks that rely on the list order. Absent when nobody looked, and then nothing may rely
  // on it.
  std::optional<std::vector<ListStretch>> out_of_order = std::nullopt;
};

}  // namespace brackwen
