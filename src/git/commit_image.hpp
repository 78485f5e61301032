// Copying a file as it is in some commit, byte for byte, to a file of the caller's choosing.
#pragma once
#include <string>

namespace brackwen {

// Runs `git cat-file blob <commit_id>:<original_path>` in `repo_path` and writes its standard
// output unchanged to `target_path` (created or truncated). False when git cannot be started,
// prints nothing (the target is then not touched) or fails, when `commit_id` would read as an
// option or the path is empty, or when the target cannot be created or written.
bool load_commit_image(const std::string& repo_path, const std::string& commit_id,
                       const std::string& original_path, const std::string& target_path);

}  // namespace brackwen
