// Ancestry walks over the id map, range counts and push remotes.
#include "git/queries/graph.hpp"

#include <charconv>

#include "git/queries/commits.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"
#include "parser/input.hpp"
#include "parser/standard_parsers.hpp"

namespace brackwen {

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
