// The history view's answers that need the changed files of the whole history, which the
// server keeps on disk: the filtered commit list and commit-message suggestions.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "git/queries/load_commits.hpp"
#include "model/commit_filter.hpp"

namespace brackwen {

// "/f/load_commits_and_refs": the history (cached with `fast`, else loaded and cached), its
// commits narrowed by the query's filters. Absent when the commit log cannot be loaded.
std::optional<LoadedCommits> load_commits_and_refs(const HistoryQuery& query);

// Suggestions for a commit message from the words of the loaded history and its changed
// files. Absent when `current_word` is empty or the repository's history was never loaded;
// the word tree is kept for the repository of the last request.
std::optional<std::vector<std::string>> complete_commit_message(const std::string& repo_path,
                                                                std::string_view current_word,
                                                                size_t max_num);

}  // namespace brackwen
