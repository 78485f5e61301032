// The line diff of one working-copy file against its text in the head commit, and the
// status letter of git's porcelain status.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/hunk.hpp"
#include "model/patch.hpp"
#include "parser/input.hpp"

namespace brackwen {

// One of " ?ACDMRU"; "T" (a type change) reads as "M". Anything else fails.
std::optional<WipPatchType> wip_status_letter(Input& in);

// The lines from the position to the end, without their "\n" or "\r\n". Never fails.
std::optional<std::vector<std::string>> split_lines(Input& in);

// Every line of the line diff (see line_diff) of the two texts, removed lines before added ones
// within each changed block, numbered from 1 on each side; hunkIndex -1. Never fails.
std::vector<HunkLine> diff_texts(std::string_view old_text, std::string_view new_text);

// The full line diff of a changed working-copy file against `head_commit_id`'s text (none:
// the file counts as added). A symbolic link is diffed as its target text, as git shows it.
// Absent for an image, for a working file that is needed but cannot be read as UTF-8 (see
// read_work_tree_entry), and for a head commit id that git would read as an option.
std::optional<std::vector<HunkLine>> load_wip_diff(
    const std::string& repo_path, const WipPatch& patch,
    const std::optional<std::string>& head_commit_id);

}  // namespace brackwen
