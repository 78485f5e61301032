// Ancestry counts by marking walks over the densely numbered graph.
#include "git/queries/refs/ancestry_counts.hpp"

#include <optional>
#include <string>
#include <utility>

#include "stores/stores.hpp"

namespace brackwen {
namespace {

std::string count_key(std::string_view a, std::string_view b) {
  std::string key;
  key.reserve(a.size() + b.size());
  key.append(a).append(b);
  return key;
}

// Looked up under the read lock: copying the whole map for one key would cost more than the
// count it saves once the cache holds a few thousand refs' worth.
std::optional<uint32_t> cached_count(const std::string& key) {
  auto hit = REACHABLE_IDS_CACHE().read([&](const auto& cache) -> std::optional<uint32_t> {
    auto found = cache.find(key);
    if (found == cache.end()) return std::nullopt;
    return found->second;
  });
  return hit ? *hit : std::nullopt;
}

void remember_count(std::string key, uint32_t count) {
  REACHABLE_IDS_CACHE().update([&](auto& cache) { cache.insert_or_assign(std::move(key), count); });
}

AncestryWalk walk_from(const DenseGraph& graph, uint32_t from) {
  AncestryWalk walk{std::vector<uint8_t>(graph.first_parent.size() - 1), {}};
  std::vector<uint8_t>& marks = walk.marks;
  std::vector<uint32_t>& reached = walk.reached;
  marks[from] = 1;
  reached.push_back(from);
  for (size_t i = 0; i < reached.size(); ++i) {
    uint32_t node = reached[i];
    for (uint32_t at = graph.first_parent[node]; at < graph.first_parent[node + 1]; ++at) {
      uint32_t parent = graph.parents[at];
      if (marks[parent]) continue;
      marks[parent] = 1;
      reached.push_back(parent);
    }
  }
  return walk;
}

uint32_t count_unmarked(const std::vector<uint32_t>& reached, const std::vector<uint8_t>& marks) {
  uint32_t count = 0;
  for (uint32_t node : reached) count += marks[node] ? 0 : 1;
  return count;
}

}  // namespace

DenseGraph dense_graph(const CommitsById& commits) {
  DenseGraph graph;
  std::vector<const Commit*> nodes;
  nodes.reserve(commits.size());
  graph.numbers.reserve(commits.size());
  for (const auto& [id, commit] : commits) {
    graph.numbers.emplace(id, static_cast<uint32_t>(nodes.size()));
    nodes.push_back(commit);
  }
  graph.first_parent.reserve(nodes.size() + 1);
  // Nodes of parents outside the cache are appended while this runs; they have no parents.
  for (size_t n = 0; n < nodes.size(); ++n) {
    graph.first_parent.push_back(static_cast<uint32_t>(graph.parents.size()));
    if (!nodes[n]) continue;
    for (const std::string& parent : nodes[n]->parent_ids) {
      auto [found, added] = graph.numbers.emplace(parent, static_cast<uint32_t>(nodes.size()));
      if (added) nodes.push_back(nullptr);
      graph.parents.push_back(found->second);
    }
  }
  graph.first_parent.push_back(static_cast<uint32_t>(graph.parents.size()));
  return graph;
}

const DenseGraph& AncestryCounter::graph() const {
  std::call_once(built, [this] { dense = dense_graph(commits); });
  return dense;
}

const AncestryWalk& AncestryCounter::walk(std::string_view id, AncestryWalk& scratch) const {
  const DenseGraph& g = graph();
  if (id != pinned) {
    scratch = walk_from(g, g.numbers.at(id));
    return scratch;
  }
  std::call_once(pinned_walked, [&] { pinned_walk = walk_from(g, g.numbers.at(id)); });
  return pinned_walk;
}

AheadBehind AncestryCounter::counts(std::string_view a, std::string_view b) const {
  std::string key_ab = count_key(a, b);
  std::string key_ba = count_key(b, a);
  std::optional<uint32_t> ab = cached_count(key_ab);
  std::optional<uint32_t> ba = cached_count(key_ba);
  if (ab && ba) return {*ab, *ba};
  if (a == b || !commits.contains(a) || !commits.contains(b))
    return {ab.value_or(0), ba.value_or(0)};

  AncestryWalk scratch_a, scratch_b;
  const AncestryWalk& from_a = walk(a, scratch_a);
  const AncestryWalk& from_b = walk(b, scratch_b);
  if (!ab) {
    ab = count_unmarked(from_a.reached, from_b.marks);
    remember_count(std::move(key_ab), *ab);
  }
  if (!ba) {
    ba = count_unmarked(from_b.reached, from_a.marks);
    remember_count(std::move(key_ba), *ba);
  }
  return {*ab, *ba};
}

}  // namespace brackwen
