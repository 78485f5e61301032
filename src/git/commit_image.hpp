// Copying a file as it is in some commit, byte for byte, to a file of the caller's choosing.
#pragma once
#include <string>

namespace brackwen {

// Finds the blob `<commit_id>:<original_path>` in `repo_path` and writes it unchanged to
// `target_path` (created or truncated) with `git cat-file blob <its id>`. False when git cannot
// be started, finds no blob there, prints nothing (the target is then not touched) or fails,
// when `commit_id` would read as an option or the path is empty, or when the target cannot be
// created or written. Also false, with one line on standard error and the target not touched,
// for a blob past the reply cap (MAX_REPLY_BYTES) and for a path holding U+FFFD.
bool load_commit_image(const std::string& repo_path, const std::string& commit_id,
                       const std::string& original_path, const std::string& target_path);

}  // namespace brackwen
