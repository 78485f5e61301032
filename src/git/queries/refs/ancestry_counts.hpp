// count(a, b) for many pairs over one snapshot of the cached commit graph: commits numbered
// densely so an ancestry walk marks a flat array instead of hashing ids, every count looked
// up in REACHABLE_IDS_CACHE first and kept there after.
#pragma once
#include <cstdint>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "git/queries/graph.hpp"
#include "model/head_info.hpp"

namespace brackwen {

// The graph as numbers. Parent ids outside the cache get numbers of their own and no parents:
// reached, never walked further, as reachable_commit_ids treats them.
struct DenseGraph {
  std::unordered_map<std::string_view, uint32_t> numbers;
  std::vector<uint32_t>
      first_parent;  // node n's parents: parents[first_parent[n] .. first_parent[n + 1])
  std::vector<uint32_t> parents;
};

DenseGraph dense_graph(const CommitsById& commits);

// One commit's ancestry with itself: a mark per node, and the nodes marked.
struct AncestryWalk {
  std::vector<uint8_t> marks;
  std::vector<uint32_t> reached;
};

// Shared by the workers of one request. The dense graph is built by the first count that
// misses the cache, so a request answered wholly from the cache never builds it. The walk of
// `pinned` (the head, which most pairs share) is made once and reused.
struct AncestryCounter {
  explicit AncestryCounter(const CommitsById& commits, std::string_view pinned = {})
      : commits(commits), pinned(pinned) {}

  // 0 both ways when a equals b or either is not cached; such zeros are not kept.
  AheadBehind counts(std::string_view a, std::string_view b) const;

  const CommitsById& commits;
  const std::string_view pinned;

 private:
  const DenseGraph& graph() const;
  // The pinned commit's walk, or `scratch` filled with that of `id`.
  const AncestryWalk& walk(std::string_view id, AncestryWalk& scratch) const;
  mutable std::once_flag built;
  mutable DenseGraph dense;
  mutable std::once_flag pinned_walked;
  mutable AncestryWalk pinned_walk;
};

}  // namespace brackwen
