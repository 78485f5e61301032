// Setting and clearing one repository's "changed" flag; only watched repositories have one.
#pragma once
#include <string>

namespace brackwen {

// Sets the flag to false when the path is watched; an unwatched path gets no flag.
void clear_repo_changed_status(const std::string& repo_path);

// Sets the flag to true when the path is watched; an unwatched path gets no flag.
void mark_repo_changed(const std::string& repo_path);

}  // namespace brackwen
