// The branch list's counts: every local branch against its push remote's counterpart and
// against a head commit, and every ref against the head commit.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>

#include "model/head_info.hpp"

namespace brackwen {

struct RefDiff {
  uint32_t ahead_of_remote = 0;
  uint32_t behind_remote = 0;
  uint32_t ahead_of_head = 0;
  uint32_t behind_head = 0;
  bool operator==(const RefDiff&) const = default;
};

// Local branch id -> its counts against its remote and the head.
using RefDiffs = std::unordered_map<std::string, RefDiff>;
// Ref id -> its counts against the head commit: ahead of it, behind it.
using HeadDiffs = std::unordered_map<std::string, AheadBehind>;

}  // namespace brackwen
