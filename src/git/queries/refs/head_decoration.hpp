// What HEAD decorates, asked of git apart from the log, for a git whose log cannot show it.
#pragma once
#include <optional>
#include <string>

#include "git/queries/commits_parsers.hpp"

namespace brackwen {

// The object HEAD names and, when HEAD points at a branch, the branch: git's own reading of
// HEAD for its decorations. Absent when HEAD names nothing (an unborn branch) or git cannot
// tell, and wherever the log decorates HEAD itself (log_decorates_head), so that a log never
// shows HEAD twice.
std::optional<HeadDecoration> load_head_decoration(const std::string& repo_path);

}  // namespace brackwen
