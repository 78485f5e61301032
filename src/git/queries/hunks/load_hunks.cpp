// git diff <range> -- <path>: the unified diff of one file of one commit, read into hunks.
#include "git/queries/hunks/load_hunks.hpp"

#include <array>

#include "git/queries/hunks/hunk_line_parsers.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"
#include "parser/input.hpp"
#include "parser/standard_parsers.hpp"

namespace brackwen {
namespace {

// The extended header lines git may print between "diff --git" and "---". Accepting all of
// them lets a mode change, a pure rename or a new empty file read as a diff (with no hunks)
// instead of failing the whole reply.
constexpr std::array<std::string_view, 11> header_keywords = {
    "old mode",    "new mode",  "deleted file mode", "new file mode",       "copy from", "copy to",
    "rename from", "rename to", "similarity index",  "dissimilarity index", "index"};

std::optional<std::string> diff_range(const Commit& commit) {
  const auto& parents = commit.parent_ids;
  if (commit.is_merge) {
    if (parents.size() < 2) return std::nullopt;
    return revision_range(parents[0], "...", parents[1]);
  }
  return revision_range(parents.empty() ? empty_tree_id : parents[0], "..", commit.id);
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

std::optional<Hunk> hunk_header(Input& in) {
  return sequence(in, [](Input& in) -> std::optional<Hunk> {
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
    Hunk hunk;
    hunk.old_line_range = *old_range;
    hunk.new_line_range = *new_range;
    return hunk;
  });
}

struct Numbering {
  int32_t old_num;
  int32_t new_num;

  HunkLine number(HunkLineStatus status, bool advance = true) {
    HunkLine line;
    line.status = status;
    if (status != HunkLineStatus::Plus) line.old_num = old_num;
    if (status != HunkLineStatus::Minus) line.new_num = new_num;
    if (!advance) return line;
    if (line.old_num) old_num = next_number(old_num);
    if (line.new_num) new_num = next_number(new_num);
    return line;
  }

  // The start comes from the diff text, so a hunk may count past the largest int32_t: the
  // count wraps as the header's own start does instead of overflowing.
  static int32_t next_number(int32_t n) {
    return static_cast<int32_t>(static_cast<uint32_t>(n) + 1u);
  }
};

// One hunk line, or nothing where the hunk ends (the next "@@", the next file).
std::optional<HunkLine> hunk_line(Input& in, Numbering& numbering) {
  if (auto end = new_line(in)) {
    HunkLine line = numbering.number(HunkLineStatus::Unchanged);
    line.line_ending = *end;
    return line;
  }
  HunkLineStatus status;
  switch (in.peek()) {
    case ' ':
      status = HunkLineStatus::Unchanged;
      break;
    case '+':
      status = HunkLineStatus::Plus;
      break;
    case '-':
      status = HunkLineStatus::Minus;
      break;
    case '\\': {
      // "\ No newline at end of file" is shown as a context line, but it is no line of
      // either file, so the lines after it keep their true numbers.
      in.advance();
      HunkLine line = numbering.number(HunkLineStatus::Unchanged, false);
      line.text = *until_new_line(in);
      return line;
    }
    default:
      return std::nullopt;
  }
  in.advance();
  auto [text, ending] = *hunk_line_text(in);
  HunkLine line = numbering.number(status);
  line.text = std::move(text);
  line.line_ending = std::move(ending);
  return line;
}

std::optional<Hunk> parse_hunk(Input& in) {
  auto hunk = hunk_header(in);
  if (!hunk) return std::nullopt;
  Numbering numbering{hunk->old_line_range.start, hunk->new_line_range.start};
  while (!in.at_end()) {
    auto line = hunk_line(in, numbering);
    if (!line) break;
    line->index = static_cast<uint32_t>(hunk->lines.size());
    hunk->lines.push_back(std::move(*line));
  }
  return hunk;
}

std::optional<std::vector<Hunk>> file_diff(Input& in) {
  auto content = sequence(in, [](Input& in) -> std::optional<Content> {
    if (!line_starting(in, "diff")) return std::nullopt;
    many(in, header_line);
    return content_kind(in);
  });
  if (!content) return std::nullopt;
  auto hunks = many(in, parse_hunk);
  if (*content == Content::Binary) return std::vector<Hunk>(1);
  for (size_t i = 0; i < hunks.size(); ++i) {
    hunks[i].index = static_cast<int32_t>(i);
    for (auto& line : hunks[i].lines) line.hunk_index = hunks[i].index;
  }
  return hunks;
}

}  // namespace

std::optional<std::vector<std::string>> hunk_diff_args(const Commit& commit, const Patch& patch) {
  auto range = diff_range(commit);
  if (!range) return std::nullopt;
  std::vector<std::string> paths{literal_pathspec(patch.old_file)};
  if (patch.patch_type == PatchType::R) paths.push_back(literal_pathspec(patch.new_file));
  return revision_args({"diff"}, {*range}, paths);
}

std::optional<std::vector<Hunk>> diff_hunks(std::string_view text) {
  return parse_all(text, file_diff);
}

std::optional<std::vector<Hunk>> load_hunks(const std::string& repo_path, const Commit& commit,
                                            const Patch& patch) {
  auto args = hunk_diff_args(commit, patch);
  if (!args) return std::nullopt;
  auto text = run_git(repo_path, *args);
  if (!text) return std::nullopt;
  return diff_hunks(*text);
}

}  // namespace brackwen
