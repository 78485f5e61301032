// The diff hunks of one changed file of one commit: the git command line, the grammar of
// its unified diff, and the query that runs the two.
//
// A diff is kept as git printed it, and its hunks as views into that text: a line becomes a
// record only while it is written out or searched, so a diff costs little more than its text.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "git/queries/hunks/reply_size.hpp"
#include "model/commit.hpp"
#include "model/hunk.hpp"
#include "model/patch.hpp"
#include "parser/input.hpp"

namespace brackwen {

// The empty tree, which git knows in every repository without storing it, by the name it has
// in the repository's object format.
inline constexpr std::string_view SHA1_EMPTY_TREE_ID = "4b825dc642cb6eb9a060e54bf8d69288fbee4904";
inline constexpr std::string_view SHA256_EMPTY_TREE_ID =
    "6ef19b41225c5369f1c104d45d8d85efa9b057b53b14b4b9b939dd74decc5321";

// The empty tree of the object format of the repository that holds `commit_id`: a full id
// tells the format by its length, so git is asked only for a commit named some other way.
std::string_view empty_tree_id(const std::string& repo_path, std::string_view commit_id);

// One hunk as it stands in the diff text: its header's ranges and its lines, line ends
// included, from the line after the header to the end of its last line.
struct HunkSpan {
  LineRange old_line_range;
  LineRange new_line_range;
  std::string_view lines;
};

// The lines of one hunk, read one at a time, so that a writer can stop after any line.
struct HunkLineCursor {
  Input in;
  int32_t old_num = 0;
  int32_t new_num = 0;
  int32_t hunk_index = 0;
  uint32_t next_index = 0;
};

HunkLineCursor hunk_line_cursor(const HunkSpan& hunk, int32_t hunk_index);

// The next line of the hunk, numbered; absent after its last.
std::optional<HunkLineView> next_hunk_line(HunkLineCursor& cursor);

// The record of a line, its texts copied.
HunkLine owned_line(const HunkLineView& line);

// Git's diff of one file, whole, with its hunks as views into it. Shared and never changed
// once read, so the views stay valid for as long as any holder keeps it.
struct FileDiff {
  std::string text;  // valid UTF-8
  std::vector<HunkSpan> hunks;
  HeldBytes held{"git diff"};  // the text, charged to the request that read it
};

// "diff", the range, "--", the old path (and the new path of a rename) as literal pathspecs,
// the range after "--end-of-options"; a root commit's range starts at `empty_tree`. Absent for
// a merge with fewer than two parents, and for a commit or parent id that is empty or would
// read as an option.
std::optional<std::vector<std::string>> hunk_diff_args(const Commit& commit, const Patch& patch,
                                                       std::string_view empty_tree);

// The hunks of the whole output of one `git diff` of one file, as views into `text`, which
// must be valid UTF-8; absent (with the failure report) when the grammar does not reach the
// end of the text. A binary diff is one hunk without lines and with empty ranges.
std::optional<std::vector<HunkSpan>> diff_hunk_spans(std::string_view text);

// Runs the diff in the repository, reading git's output as it comes. Null when there are no
// arguments, a path holds U+FFFD (refuse_listed_path), git cannot be started or prints nothing, the
// output does not parse, or the reply would pass MAX_REPLY_BYTES: git is then killed at once
// (as it is once the request holds more than a reply may, HeldBytes)
// and one line on standard error says so.
std::shared_ptr<const FileDiff> load_file_diff(const std::string& repo_path, const Commit& commit,
                                               const Patch& patch);

}  // namespace brackwen
