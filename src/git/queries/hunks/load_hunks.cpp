// git diff <range> -- <path>: the unified diff of one file of one commit, read into hunks.
#include "git/queries/hunks/load_hunks.hpp"

#include <algorithm>
#include <array>

#include "git/queries/hunks/hunk_line_parsers.hpp"
#include "git/queries/hunks/listed_path.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"
#include "parser/standard_parsers.hpp"
#include "parser/utf8.hpp"

namespace brackwen {
namespace {

// The extended header lines git may print between "diff --git" and "---". Accepting all of
// them lets a mode change, a pure rename or a new empty file read as a diff (with no hunks)
// instead of failing the whole reply.
constexpr std::array<std::string_view, 11> header_keywords = {
    "old mode",    "new mode",  "deleted file mode", "new file mode",       "copy from", "copy to",
    "rename from", "rename to", "similarity index",  "dissimilarity index", "index"};

std::optional<std::string> diff_range(const Commit& commit, std::string_view empty_tree) {
  const auto& parents = commit.parent_ids;
  if (commit.is_merge) {
    if (parents.size() < 2) return std::nullopt;
    return revision_range(parents[0], "...", parents[1]);
  }
  return revision_range(parents.empty() ? empty_tree : parents[0], "..", commit.id);
}

std::optional<bool> line_starting(Input& in, std::string_view word) {
  if (!literal(in, word)) return std::nullopt;
  until_new_line(in);
  return true;
}

std::optional<bool> header_line(Input& in) {
  for (auto keyword : header_keywords) {
    if (line_starting(in, keyword)) return true;
  }
  return std::nullopt;
}

enum class Content { Text, Binary, None };

Content content_kind(Input& in) {
  auto text = sequence(in, [](Input& in) -> std::optional<bool> {
    if (!line_starting(in, "---")) return std::nullopt;
    return line_starting(in, "+++");
  });
  if (text) return Content::Text;
  if (line_starting(in, "Binary")) return Content::Binary;
  return Content::None;
}

std::optional<HunkSpan> hunk_header(Input& in) {
  return sequence(in, [](Input& in) -> std::optional<HunkSpan> {
    if (!literal(in, "@@")) return std::nullopt;
    optional_whitespace(in);
    auto old_range = hunk_range(in);
    if (!old_range) return std::nullopt;
    optional_whitespace(in);
    auto new_range = hunk_range(in);
    if (!new_range) return std::nullopt;
    optional_whitespace(in);
    if (!literal(in, "@@")) return std::nullopt;
    until_new_line(in);
    return HunkSpan{*old_range, *new_range, {}};
  });
}

// The start comes from the diff text, so a hunk may count past the largest int32_t: the
// count wraps as the header's own start does instead of overflowing.
int32_t next_number(int32_t n) {
  return static_cast<int32_t>(static_cast<uint32_t>(n) + 1u);
}

HunkLineView numbered(HunkLineCursor& cursor, HunkLineStatus status, bool advance = true) {
  HunkLineView line;
  line.status = status;
  line.hunk_index = cursor.hunk_index;
  line.index = cursor.next_index++;
  if (status != HunkLineStatus::Plus) line.old_num = cursor.old_num;
  if (status != HunkLineStatus::Minus) line.new_num = cursor.new_num;
  if (!advance) return line;
  if (line.old_num) cursor.old_num = next_number(cursor.old_num);
  if (line.new_num) cursor.new_num = next_number(cursor.new_num);
  return line;
}

// An empty line, "\n" or "\r\n" alone, is a context line.
std::optional<HunkLineView> empty_line(HunkLineCursor& cursor) {
  Input& in = cursor.in;
  size_t start = in.position;
  if (!new_line(in)) return std::nullopt;
  HunkLineView line = numbered(cursor, HunkLineStatus::Unchanged);
  line.line_ending = in.text.substr(start, in.position - start);
  return line;
}

// "\ No newline at end of file" is shown as a context line, but it is no line of either
// file, so the lines after it keep their true numbers.
HunkLineView no_newline_marker(HunkLineCursor& cursor) {
  Input& in = cursor.in;
  in.advance();
  HunkLineView line = numbered(cursor, HunkLineStatus::Unchanged, false);
  line.text = hunk_line_text(in)->first;
  return line;
}

std::optional<HunkLineStatus> line_status(char32_t c) {
  switch (c) {
    case ' ':
      return HunkLineStatus::Unchanged;
    case '+':
      return HunkLineStatus::Plus;
    case '-':
      return HunkLineStatus::Minus;
    default:
      return std::nullopt;
  }
}

std::optional<HunkSpan> parse_hunk(Input& in) {
  auto hunk = hunk_header(in);
  if (!hunk) return std::nullopt;
  // The lines are read as a writer will read them again, so both end at the same place.
  size_t start = in.position;
  HunkLineCursor cursor{in};
  while (next_hunk_line(cursor)) {
  }
  in = cursor.in;
  hunk->lines = in.text.substr(start, in.position - start);
  return hunk;
}

std::optional<std::vector<HunkSpan>> file_diff(Input& in) {
  auto content = sequence(in, [](Input& in) -> std::optional<Content> {
    if (!line_starting(in, "diff")) return std::nullopt;
    many(in, header_line);
    return content_kind(in);
  });
  if (!content) return std::nullopt;
  auto hunks = many(in, parse_hunk);
  if (*content == Content::Binary) return std::vector<HunkSpan>(1);
  return hunks;
}

// Git's output as it arrives, and what its reply would weigh so far.
struct DiffReading {
  std::string text;
  ReplyTextSize size;
  bool over_cap = false;
  HeldBytes held{"git diff"};
};

// A line stands twice in the reply, in its hunk and in the flat list, each time with its
// record. Header lines count as shown lines, which they are not, but there are only a few.
uint64_t reply_bytes(const ReplyTextSize& size) {
  return 2 * (size.bytes + size.line_feeds * LINE_RECORD_BYTES);
}

// Past the cap nothing more is kept: the diff will not be shown.
void check_cap(DiffReading& reading) {
  if (reading.over_cap || reply_bytes(reading.size) <= MAX_REPLY_BYTES) return;
  reading.over_cap = true;
  reading.text = std::string();
}

void read_more(DiffReading& reading, std::string_view bytes) {
  if (reading.over_cap) return;
  reading.size.add(bytes);
  check_cap(reading);
  if (reading.over_cap) return;
  // A search reads the diffs of many files at once.
  if (!reading.held.set(std::max(reading.text.size() + bytes.size(), reading.text.capacity()))) {
    reading.text = std::string();
    return;
  }
  reading.text.append(bytes);
}

// A commit id from the request is named only when it is a plain object name: any other text
// could hold a line break of its own.
std::string diff_name(const Commit& commit) {
  return is_object_id(commit.id) ? "Diff of " + commit.id : "Diff";
}

}  // namespace

HunkLineCursor hunk_line_cursor(const HunkSpan& hunk, int32_t hunk_index) {
  return HunkLineCursor{Input{hunk.lines}, hunk.old_line_range.start, hunk.new_line_range.start,
                        hunk_index, 0};
}

std::optional<HunkLineView> next_hunk_line(HunkLineCursor& cursor) {
  Input& in = cursor.in;
  if (in.at_end()) return std::nullopt;
  if (auto line = empty_line(cursor)) return line;
  char32_t c = in.peek();
  if (c == '\\') return no_newline_marker(cursor);
  auto status = line_status(c);
  // Anything else (the next "@@", the next file) ends the hunk.
  if (!status) return std::nullopt;
  in.advance();
  auto [text, ending] = *hunk_line_text(in);
  HunkLineView line = numbered(cursor, *status);
  line.text = text;
  line.line_ending = ending;
  return line;
}

HunkLine owned_line(const HunkLineView& line) {
  HunkLine owned;
  owned.status = line.status;
  owned.old_num = line.old_num;
  owned.new_num = line.new_num;
  owned.hunk_index = line.hunk_index;
  owned.text = line.text;
  owned.index = line.index;
  owned.line_ending = line.line_ending;
  return owned;
}

std::string_view empty_tree_id(const std::string& repo_path, std::string_view commit_id) {
  if (is_object_id(commit_id)) {
    return commit_id.size() == SHA256_EMPTY_TREE_ID.size() ? SHA256_EMPTY_TREE_ID
                                                           : SHA1_EMPTY_TREE_ID;
  }
  // The range refuses such a name: no need to ask.
  if (commit_id.empty() || reads_as_option(commit_id)) return SHA1_EMPTY_TREE_ID;
  auto format = run_git(repo_path, {"rev-parse", "--show-object-format"});
  return format && trim_whitespace(*format) == "sha256" ? SHA256_EMPTY_TREE_ID : SHA1_EMPTY_TREE_ID;
}

std::optional<std::vector<std::string>> hunk_diff_args(const Commit& commit, const Patch& patch,
                                                       std::string_view empty_tree) {
  auto range = diff_range(commit, empty_tree);
  if (!range) return std::nullopt;
  std::vector<std::string> paths{literal_pathspec(patch.old_file)};
  if (patch.patch_type == PatchType::R) paths.push_back(literal_pathspec(patch.new_file));
  return revision_args({"diff"}, {*range}, paths);
}

std::optional<std::vector<HunkSpan>> diff_hunk_spans(std::string_view text) {
  return parse_all(text, file_diff);
}

std::shared_ptr<const FileDiff> load_file_diff(const std::string& repo_path, const Commit& commit,
                                               const Patch& patch) {
  bool root = !commit.is_merge && commit.parent_ids.empty();
  auto args = hunk_diff_args(commit, patch, root ? empty_tree_id(repo_path, commit.id) : "");
  if (!args) return nullptr;
  // A repaired name may be another file's, which the pathspec would match.
  if (refuse_listed_path(diff_name(commit), patch.old_file) ||
      (patch.patch_type == PatchType::R && refuse_listed_path(diff_name(commit), patch.new_file))) {
    return nullptr;
  }
  DiffReading reading;
  StreamHandlers handlers;
  handlers.on_out = [&](std::string_view bytes) { read_more(reading, bytes); };
  handlers.cancelled = [&] { return reading.over_cap || reading.held.too_much(); };
  handlers.restart = [&] { reading = DiffReading{}; };
  auto end = stream_git(repo_path, *args, handlers);
  reading.size.finish();
  check_cap(reading);
  if (reading.over_cap) report_over_cap(diff_name(commit));
  // A read that failed midway, or a git that died midway (out of memory, say), leaves a diff
  // cut short, which could still parse.
  if (!end || end->out_error != 0 || end->status != 0 || reading.text.empty() ||
      reading.held.too_much()) {
    return nullptr;
  }
  auto diff = std::make_shared<FileDiff>();
  diff->text = std::move(reading.text);
  diff->held = std::move(reading.held);
  repair_utf8(diff->text);
  auto spans = diff_hunk_spans(diff->text);
  if (!spans) return nullptr;
  diff->hunks = std::move(*spans);
  return diff;
}

}  // namespace brackwen
