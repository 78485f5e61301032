// Ancestry walks over the id map, range counts and push remotes.
#include "git/queries/graph.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <functional>
#include <queue>
#include <random>

#include "git/queries/commits.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"
#include "parser/input.hpp"
#include "parser/standard_parsers.hpp"

namespace brackwen {
namespace {

constexpr uint8_t FROM_A = 1;
constexpr uint8_t FROM_B = 2;
constexpr uint8_t QUEUED = 4;

bool from_a_alone(uint8_t flags) {
  return (flags & FROM_A) && !(flags & FROM_B);
}

// List positions by id, indexed from the top only as far as a lookup needs.
struct ListIndex {
  const std::vector<Commit>& list;
  std::unordered_map<std::string_view, size_t> positions{};
  size_t indexed = 0;

  std::optional<size_t> find(std::string_view id) {
    auto found = positions.find(id);
    if (found != positions.end()) return found->second;
    while (indexed < list.size()) {
      size_t at = indexed++;
      positions.emplace(list[at].id, at);
      if (list[at].id == id) return at;
    }
    return std::nullopt;
  }
};

// Each id's first place in a whole list, in one flat table: no node per id, and git's ids,
// even already, are hashed by their leading digits alone, with a seed of the process's own so
// that a repository cannot choose ids that crowd one stretch of slots. A slot whose hash
// matches is confirmed on the whole id.
struct FirstPlaces {
  struct Slot {
    uint64_t hash = 0;
    size_t place = SIZE_MAX;
  };
  const std::vector<Commit>& list;
  std::vector<Slot> slots = std::vector<Slot>(std::bit_ceil(2 * list.size() + 2));

  static uint64_t hash_of(std::string_view id) {
    static const uint64_t SEED = (uint64_t{std::random_device{}()} << 32) | std::random_device{}();
    if (id.size() < 16) return std::hash<std::string_view>{}(id) ^ SEED;
    uint64_t high = 0;
    uint64_t low = 0;
    std::memcpy(&high, id.data(), 8);
    std::memcpy(&low, id.data() + 8, 8);
    return ((high ^ SEED) * 0x9E3779B97F4A7C15u) ^ ((low + SEED) * 0xC2B2AE3D27D4EB4Fu);
  }

  size_t first_slot(uint64_t hash) const { return (hash ^ (hash >> 29)) & (slots.size() - 1); }

  void add(size_t place) {
    std::string_view id = list[place].id;
    uint64_t hash = hash_of(id);
    for (size_t at = first_slot(hash);; at = (at + 1) & (slots.size() - 1)) {
      Slot& slot = slots[at];
      if (slot.place == SIZE_MAX) {
        slot = {hash, place};
        return;
      }
      if (slot.hash == hash && list[slot.place].id == id) return;
    }
  }

  std::optional<size_t> find(std::string_view id) const {
    uint64_t hash = hash_of(id);
    for (size_t at = first_slot(hash);; at = (at + 1) & (slots.size() - 1)) {
      const Slot& slot = slots[at];
      if (slot.place == SIZE_MAX) return std::nullopt;
      if (slot.hash == hash && list[slot.place].id == id) return slot.place;
    }
  }
};

// Whether a stretch holds the position.
bool within(const std::vector<ListStretch>& stretches, size_t at) {
  auto after = std::upper_bound(stretches.begin(), stretches.end(), at,
                                [](size_t at, const ListStretch& s) { return at < s.first; });
  return after != stretches.begin() && at < std::prev(after)->end;
}

struct RangeWalk {
  const std::vector<Commit>& list;
  const std::vector<ListStretch>& out_of_order;
  ListIndex index{list};
  CommitIdSet stash_ids{};
  std::vector<uint8_t> flags = std::vector<uint8_t>(list.size());
  std::vector<size_t> reached{};
  std::priority_queue<size_t, std::vector<size_t>, std::greater<>> queue{};
  // Parents outside the list: reached, never walked, last in the order.
  std::vector<std::pair<std::string_view, uint8_t>> outside{};
  size_t open = 0;  // queued commits (and outside parents) reached from `a` alone

  // False when the walk cannot go on in list order.
  bool reach(std::string_view id, uint8_t from) {
    if (stash_ids.contains(id)) return false;
    std::optional<size_t> at = index.find(id);
    if (!at) return reach_outside(id, from);
    uint8_t before = flags[*at];
    uint8_t after = before | from | QUEUED;
    if (after == before) return true;
    if (!(before & QUEUED)) {
      queue.push(*at);
      reached.push_back(*at);
    }
    open += from_a_alone(after) - from_a_alone(before);
    flags[*at] = after;
    return true;
  }

  bool reach_outside(std::string_view id, uint8_t from) {
    auto found = std::find_if(outside.begin(), outside.end(),
                              [&](const auto& entry) { return entry.first == id; });
    if (found == outside.end()) found = outside.insert(outside.end(), {id, 0});
    uint8_t after = found->second | from;
    open += from_a_alone(after) - from_a_alone(found->second);
    found->second = after;
    return true;
  }

  // Everything before the next commit to walk is painted for good unless a parent listed
  // before its child leads back there.
  bool may_stop() const {
    return queue.empty() || (open == 0 && !within(out_of_order, queue.top()));
  }

  bool walk() {
    while (!may_stop()) {
      size_t at = queue.top();
      queue.pop();
      uint8_t from = flags[at] & (FROM_A | FROM_B);
      open -= from_a_alone(from);
      for (const std::string& parent : list[at].parent_ids) {
        std::optional<size_t> parent_at = index.find(parent);
        if (parent_at && *parent_at <= at) return false;
        if (!reach(parent, from)) return false;
      }
    }
    return true;
  }

  std::vector<std::string> from_a_only() const {
    std::vector<std::string> ids;
    for (size_t at : reached) {
      if (from_a_alone(flags[at])) ids.push_back(list[at].id);
    }
    for (const auto& [id, from] : outside) {
      if (from_a_alone(from)) ids.emplace_back(id);
    }
    return ids;
  }
};

// In list order, then the ids outside the list by id: the same order however the set was found.
void sort_in_list_order(std::vector<std::string>& ids, ListIndex& index) {
  std::vector<std::pair<size_t, std::string>> keyed;
  keyed.reserve(ids.size());
  for (std::string& id : ids) {
    size_t at = index.find(id).value_or(SIZE_MAX);
    keyed.emplace_back(at, std::move(id));
  }
  std::sort(keyed.begin(), keyed.end());
  for (size_t i = 0; i < keyed.size(); ++i) ids[i] = std::move(keyed[i].second);
}

}  // namespace

CommitsById commits_by_id(const std::vector<Commit>& commits) {
  CommitsById map;
  map.reserve(commits.size());
  for (const Commit& c : commits) map.insert_or_assign(std::string_view(c.id), &c);
  return map;
}

CommitIdSet reachable_commit_ids(const Commit& start, const CommitsById& map) {
  CommitIdSet reached;
  std::vector<const Commit*> stack{&start};
  while (!stack.empty()) {
    const Commit* c = stack.back();
    stack.pop_back();
    for (const std::string& parent : c->parent_ids) {
      auto found = map.find(parent);
      // The map's own key outlives this walk even when `parent` belongs to the start commit.
      std::string_view id = found == map.end() ? std::string_view(parent) : found->first;
      if (!reached.insert(id).second) continue;
      if (found != map.end()) stack.push_back(found->second);
    }
  }
  return reached;
}

std::optional<std::vector<std::string>> commit_ids_between(std::string_view a, std::string_view b,
                                                           const CommitsById& map) {
  if (map.empty()) return std::nullopt;
  auto found_a = map.find(a);
  if (found_a == map.end()) return std::nullopt;
  auto found_b = map.find(b);
  if (found_b == map.end()) return std::nullopt;
  std::vector<std::string> out;
  if (found_a->first == found_b->first) return out;
  CommitIdSet from_a = reachable_commit_ids(*found_a->second, map);
  from_a.insert(found_a->first);
  CommitIdSet from_b = reachable_commit_ids(*found_b->second, map);
  from_b.insert(found_b->first);
  for (std::string_view id : from_a) {
    if (!from_b.contains(id)) out.emplace_back(id);
  }
  return out;
}

std::vector<ListStretch> out_of_order_stretches(const std::vector<Commit>& list) {
  FirstPlaces first_at{list};
  for (size_t at = 0; at < list.size(); ++at) first_at.add(at);
  std::vector<ListStretch> stretches;
  for (size_t at = 0; at < list.size(); ++at) {
    for (const std::string& parent : list[at].parent_ids) {
      std::optional<size_t> found = first_at.find(parent);
      if (found && *found < at) stretches.push_back({*found + 1, at + 1});
    }
  }
  std::sort(stretches.begin(), stretches.end(),
            [](const ListStretch& x, const ListStretch& y) { return x.first < y.first; });
  std::vector<ListStretch> joined;
  for (const ListStretch& s : stretches) {
    if (!joined.empty() && s.first <= joined.back().end) {
      joined.back().end = std::max(joined.back().end, s.end);
    } else {
      joined.push_back(s);
    }
  }
  return joined;
}

std::optional<std::vector<std::string>> listed_commit_ids_between(std::string_view a,
                                                                  std::string_view b,
                                                                  const CommitsAndRefs& history) {
  const std::vector<Commit>& list = history.commits;
  static const std::vector<ListStretch> NONE;
  RangeWalk range{list, history.out_of_order ? *history.out_of_order : NONE};
  // Ids of the list appear once, but for a stash entry whose commit a ref also reaches.
  for (const Commit& c : list) {
    if (c.stash_id) range.stash_ids.insert(c.id);
  }
  std::optional<size_t> at_a = range.index.find(a);
  std::optional<size_t> at_b = range.index.find(b);
  if (!at_a || !at_b) return std::nullopt;
  if (*at_a == *at_b) return std::vector<std::string>{};
  std::optional<std::vector<std::string>> ids;
  if (history.out_of_order && range.reach(a, FROM_A) && range.reach(b, FROM_B) && range.walk()) {
    ids = range.from_a_only();
  } else {
    ids = commit_ids_between(a, b, commits_by_id(list));
  }
  if (ids) sort_in_list_order(*ids, range.index);
  return ids;
}

uint32_t count_commits_in_range(const std::string& repo_path, std::string_view from,
                                std::string_view to) {
  auto range = revision_range(from, "..", to);
  auto args = range ? revision_args({"rev-list", "--count"}, {*range}) : std::nullopt;
  if (!args) return 0;
  auto out = run_git(repo_path, *args);
  if (!out) return 0;
  std::string_view number = trim_whitespace(*out);
  if (number.starts_with('+')) number.remove_prefix(1);
  if (number.empty() || number.front() < '0' || number.front() > '9') return 0;
  uint32_t count = 0;
  auto read = std::from_chars(number.data(), number.data() + number.size(), count);
  if (read.ec != std::errc() || read.ptr != number.data() + number.size()) return 0;
  return count;
}

std::string get_push_remote(const std::unordered_map<std::string, std::string>& entries,
                            std::string_view branch) {
  std::string branch_key = "branch." + std::string(branch);
  for (const std::string& key :
       {branch_key + ".pushremote", std::string("remote.pushdefault"), branch_key + ".remote"}) {
    auto found = entries.find(key);
    if (found != entries.end()) return found->second;
  }
  return "origin";
}

}  // namespace brackwen
