// A linear scan of the cached history; every comparison is between Unicode lower-cased texts.
#include "git/queries/search/search_commits.hpp"

#include <algorithm>

#include "parser/lower_case.hpp"

namespace brackwen {
namespace {

bool contains_lower(std::string_view text, std::string_view lower_text) {
  return to_lower_unicode(text).find(lower_text) != std::string::npos;
}

std::vector<SearchMatchType> matched_fields(const Commit& commit, std::string_view lower_text) {
  std::vector<SearchMatchType> matches;
  if (contains_lower(commit.id, lower_text)) matches.push_back(SearchMatchType::CommitId);
  if (contains_lower(commit.email, lower_text)) matches.push_back(SearchMatchType::Email);
  if (contains_lower(commit.author, lower_text)) matches.push_back(SearchMatchType::Author);
  if (contains_lower(commit.message, lower_text)) {
    matches.push_back(SearchMatchType::CommitMessage);
  }
  return matches;
}

std::vector<std::string> matched_ref_ids(const std::vector<RefInfo>& refs,
                                         std::string_view lower_text) {
  std::vector<std::string> ids;
  for (const auto& ref : refs) {
    if (contains_lower(ref.full_name, lower_text)) ids.push_back(ref.id);
  }
  return ids;
}

}  // namespace

std::vector<Patch> filter_by_search_text(std::string_view lower_text,
                                         const std::vector<Patch>& patches) {
  std::vector<Patch> out;
  for (const auto& patch : patches) {
    if (contains_lower(patch.old_file, lower_text) || contains_lower(patch.new_file, lower_text)) {
      out.push_back(patch);
    }
  }
  return out;
}

std::vector<CommitSearchResult> search_commits(const CommitsAndRefs& history,
                                               const PatchMap& patches,
                                               std::string_view search_text, uint64_t num_results) {
  std::string lower_text = to_lower_unicode(search_text);
  auto ref_ids = matched_ref_ids(history.refs, lower_text);
  std::vector<CommitSearchResult> results;
  for (const auto& commit : history.commits) {
    CommitSearchResult result;
    result.commit_id = commit.id;
    result.matches = matched_fields(commit, lower_text);
    if (auto found = patches.find(commit.id); found != patches.end()) {
      result.patches = filter_by_search_text(lower_text, found->second);
    }
    for (const auto& ref : commit.refs) {
      if (std::find(ref_ids.begin(), ref_ids.end(), ref) != ref_ids.end()) {
        result.ref_ids.push_back(ref);
      }
    }
    if (!result.matches.empty() || !result.patches.empty() || !result.ref_ids.empty()) {
      results.push_back(std::move(result));
    }
    if (results.size() > num_results) break;
  }
  return results;
}

}  // namespace brackwen
