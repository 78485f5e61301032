// The checked-out branch, its remote counterpart and how far apart they are.
#pragma once
#include <cstdint>
#include <optional>

#include "model/commit.hpp"
#include "model/ref.hpp"

namespace brackwen {

// count(a, b) is the number of commits reachable from a (a included) that are not reachable
// from b (b included): what `git rev-list --count b..a` prints. For a pair (a, b): ahead is
// count(a, b), behind is count(b, a).
struct AheadBehind {
  uint32_t ahead = 0;
  uint32_t behind = 0;
  bool operator==(const AheadBehind&) const = default;
};

struct HeadInfo {
  RefInfo ref;
  Commit commit;
  std::optional<RefInfo> remote_ref;
  std::optional<Commit> remote_commit;
  uint32_t remote_ahead = 0;   // count(remote, local)
  uint32_t remote_behind = 0;  // count(local, remote)
  bool operator==(const HeadInfo&) const = default;
};

}  // namespace brackwen
