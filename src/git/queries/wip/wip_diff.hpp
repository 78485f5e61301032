// The line diff of one working-copy file against its text in the head commit, and the
// status letter of git's porcelain status.
//
// A diff is kept as its two texts and the edit script between their lines, the lines as views
// into the texts: a line becomes a record only while a reply is written, so a diff costs
// little more than its texts.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "git/queries/wip/line_diff.hpp"
#include "model/hunk.hpp"
#include "model/patch.hpp"
#include "parser/input.hpp"

namespace brackwen {

// One of " ?ACDMRU"; "T" (a type change) reads as "M". Anything else fails.
std::optional<WipPatchType> wip_status_letter(Input& in);

// Two texts and their line diff (see line_diff), lines ending after "\r\n", "\n" or a lone
// "\r". Shared and never changed once made, so the views stay valid while any holder keeps it.
struct WipDiff {
  std::string old_text;
  std::string new_text;
  std::vector<std::string_view> old_lines;  // line ends included
  std::vector<std::string_view> new_lines;
  std::vector<LineChange> script;
};

// A place in a diff's line list: the script entry there, and the numbers of the last old and
// new lines before it (0 before the first).
struct WipLineCursor {
  size_t next = 0;
  int32_t old_num = 0;
  int32_t new_num = 0;
};

// The line at the cursor, which then moves past it; absent after the last. Lines are numbered
// from 1 on each side, hunkIndex -1, index their place in the list.
std::optional<HunkLineView> next_wip_line(const WipDiff& diff, WipLineCursor& cursor);

// Keeps the two texts and diffs their lines.
std::shared_ptr<const WipDiff> diff_texts(std::string old_text, std::string new_text);

// What the lines from the cursor to the script entry `end` make of a reply: each line's text
// and line end at the length the JSON string escape gives them, and its record
// (LINE_RECORD_BYTES).
uint64_t wip_lines_reply_bytes(const WipDiff& diff, WipLineCursor from, size_t end);

// What a reply shows of a diff: the changed lines with their context ("/f/load_wip_hunks"),
// or every line of both texts ("/f/load_wip_hunk_lines").
enum class WipShown { Hunks, AllLines };

// The full line diff of a changed working-copy file against `head_commit_id`'s text (none:
// the file counts as added). The working file is the one git sees: `patch.new_file` below the
// top of the work tree git uses for `repo_path` (see work_tree_top). A symbolic link is diffed
// as its target text, as git shows it. Null for an image; for a path that holds U+FFFD (see
// refuse_listed_path); for a working file that is needed but cannot be read as UTF-8 (see
// read_work_tree_entry); for a head commit id that git would read as an option; for a
// committed text that could not be read whole. Null too, with one line on standard error, in
// two cases known before the lines are diffed, and the texts are not read past them:
//  - when the diff would take more memory than a read may (read_memory_budget): the texts, a
//    view and a script entry for each line, and what line_diff_within needs;
//  - when every line is shown (`shown` is AllLines, or one side is empty) and the line list
//    would pass MAX_REPLY_BYTES: each line once, its text at its reply length and its
//    record. The hunks of any other diff are the caller's to judge.
std::shared_ptr<const WipDiff> load_wip_diff(const std::string& repo_path, const WipPatch& patch,
                                             const std::optional<std::string>& head_commit_id,
                                             WipShown shown);

}  // namespace brackwen
