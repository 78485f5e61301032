// Merge bases by painting down from both commits in generation order, as git does: a commit
// reached from both sides is a base unless one already below another base reaches it.
#include "git/queries/merge_bases.hpp"

#include <algorithm>
#include <span>
#include <utility>

namespace brackwen {
namespace {

constexpr uint8_t FROM_A = 1;
constexpr uint8_t FROM_B = 2;
constexpr uint8_t STALE = 4;  // below a base found already: no base of its own
constexpr uint8_t QUEUED = 8;

enum class Visit : uint8_t { New, Open, Done };

std::span<const uint32_t> parents_of(const DenseGraph& graph, uint32_t node) {
  return {graph.parents.data() + graph.first_parent[node],
          graph.parents.data() + graph.first_parent[node + 1]};
}

// Depth first, parents before children; absent on a cycle.
std::optional<std::vector<uint32_t>> generations(const DenseGraph& graph) {
  size_t nodes = graph.first_parent.size() - 1;
  std::vector<uint32_t> generation(nodes, 0);
  std::vector<Visit> visit(nodes, Visit::New);
  std::vector<std::pair<uint32_t, uint32_t>> stack;  // node, parents looked at
  for (uint32_t start = 0; start < nodes; ++start) {
    if (visit[start] != Visit::New) continue;
    visit[start] = Visit::Open;
    stack.emplace_back(start, 0);
    while (!stack.empty()) {
      auto& [node, next] = stack.back();
      std::span<const uint32_t> parents = parents_of(graph, node);
      if (next < parents.size()) {
        uint32_t parent = parents[next++];
        if (visit[parent] == Visit::Open) return std::nullopt;
        if (visit[parent] == Visit::New) {
          visit[parent] = Visit::Open;
          stack.emplace_back(parent, 0);
        }
        continue;
      }
      uint32_t highest = 0;
      for (uint32_t parent : parents) highest = std::max(highest, generation[parent]);
      generation[node] = highest + 1;
      visit[node] = Visit::Done;
      stack.pop_back();
    }
  }
  return generation;
}

struct Painter {
  const MergeBaseGraph& graph;
  MergeBaseWalk& walk;
  uint32_t live = 0;  // queued nodes not stale: the walk ends when none is left

  bool higher_first(uint32_t x, uint32_t y) const {
    return graph.generation[x] < graph.generation[y];
  }

  // False when a parent outside the loaded list is reached while it could still lead to a
  // base: git would walk on from there, and this graph cannot.
  bool reach(uint32_t node, uint8_t flags) {
    uint8_t& mark = walk.flags[node];
    if ((mark & flags) == flags) return true;
    if (mark == 0) walk.touched.push_back(node);
    bool was_live = (mark & QUEUED) && !(mark & STALE);
    mark |= flags;
    if (node >= graph.loaded && !(mark & STALE)) return false;
    if (!(mark & QUEUED)) {
      mark |= QUEUED;
      walk.queue.push_back(node);
      std::push_heap(walk.queue.begin(), walk.queue.end(),
                     [this](uint32_t x, uint32_t y) { return higher_first(x, y); });
      if (!(mark & STALE)) ++live;
    } else if (was_live && (mark & STALE)) {
      --live;
    }
    return true;
  }

  uint32_t pop() {
    std::pop_heap(walk.queue.begin(), walk.queue.end(),
                  [this](uint32_t x, uint32_t y) { return higher_first(x, y); });
    uint32_t node = walk.queue.back();
    walk.queue.pop_back();
    if (!(walk.flags[node] & STALE)) --live;
    return node;
  }

  // The bases, or absent when the walk left the loaded commits.
  std::optional<std::vector<uint32_t>> paint(uint32_t a, uint32_t b) {
    std::vector<uint32_t> bases;
    if (!reach(a, FROM_A) || !reach(b, FROM_B)) return std::nullopt;
    while (live > 0) {
      uint32_t node = pop();
      uint8_t carried = walk.flags[node] & (FROM_A | FROM_B | STALE);
      if (carried == (FROM_A | FROM_B)) {
        bases.push_back(node);
        carried |= STALE;
      }
      for (uint32_t parent : parents_of(graph.graph, node)) {
        if (!reach(parent, carried)) return std::nullopt;
      }
    }
    return bases;
  }

  void clear() {
    for (uint32_t node : walk.touched) walk.flags[node] = 0;
    walk.touched.clear();
    walk.queue.clear();
  }
};

std::optional<uint32_t> loaded_node(const MergeBaseGraph& graph, std::string_view id) {
  auto found = graph.graph.numbers.find(id);
  if (found == graph.graph.numbers.end() || found->second >= graph.loaded) return std::nullopt;
  return found->second;
}

}  // namespace

std::optional<MergeBaseGraph> merge_base_graph(const CommitsById& commits) {
  MergeBaseGraph result;
  result.graph = dense_graph(commits);
  result.loaded = static_cast<uint32_t>(commits.size());
  result.ids.resize(result.graph.first_parent.size() - 1);
  for (const auto& [id, node] : result.graph.numbers) result.ids[node] = id;
  auto generation = generations(result.graph);
  if (!generation) return std::nullopt;
  result.generation = std::move(*generation);
  return result;
}

MergeBase merge_base(const MergeBaseGraph& graph, std::string_view a, std::string_view b,
                     MergeBaseWalk& walk) {
  std::optional<uint32_t> node_a = loaded_node(graph, a);
  std::optional<uint32_t> node_b = loaded_node(graph, b);
  if (!node_a || !node_b) return {};
  if (*node_a == *node_b) return {MergeBaseKind::One, graph.ids[*node_a]};
  walk.flags.resize(graph.ids.size());
  Painter painter{graph, walk};
  std::optional<std::vector<uint32_t>> bases = painter.paint(*node_a, *node_b);
  painter.clear();
  if (!bases || bases->size() > 1) return {};
  if (bases->empty()) return {MergeBaseKind::None, {}};
  return {MergeBaseKind::One, graph.ids[bases->front()]};
}

}  // namespace brackwen
