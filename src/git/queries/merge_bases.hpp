// The merge base of two commits, found in the loaded commit graph instead of by git, for the
// many merges whose changed files are loaded at once.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "git/queries/graph.hpp"
#include "git/queries/refs/ancestry_counts.hpp"

namespace brackwen {

// The graph numbered densely, with each commit's generation (1 for a root, else one more than
// its highest parent's), so that a walk that takes the highest generation first has seen every
// path to a commit before it takes that commit.
struct MergeBaseGraph {
  DenseGraph graph;
  std::vector<std::string_view> ids;  // node -> id
  uint32_t loaded = 0;                // nodes from here on are parents outside the loaded list
  std::vector<uint32_t> generation;
};

// Absent when the parents form a cycle, which no git history has.
std::optional<MergeBaseGraph> merge_base_graph(const CommitsById& commits);

// The flags and queue of one walk, kept between walks so that each costs only what it touches.
struct MergeBaseWalk {
  std::vector<uint8_t> flags;
  std::vector<uint32_t> touched;
  std::vector<uint32_t> queue;
};

enum class MergeBaseKind {
  One,      // git's `a...b` takes `id`
  None,     // the histories are unrelated: `git diff a...b` fails
  Unknown,  // several best common ancestors, a commit not loaded, or an id not in the graph
};

struct MergeBase {
  MergeBaseKind kind = MergeBaseKind::Unknown;
  std::string_view id;
};

// The best common ancestors of `a` and `b` as `git merge-base --all` finds them, when that
// needs only loaded commits and yields at most one.
MergeBase merge_base(const MergeBaseGraph& graph, std::string_view a, std::string_view b,
                     MergeBaseWalk& walk);

}  // namespace brackwen
