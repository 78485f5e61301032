// Working-copy diffs: the committed text from `git show <head>:<path>`, the working file
// from disk, both brought to the working file's line ending, then a line diff.
#include "git/queries/wip/wip_diff.hpp"

#include <algorithm>

#include "git/file_io.hpp"
#include "git/queries/wip/line_diff.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"
#include "parser/utf8.hpp"

namespace brackwen {
namespace {

// A directory (a submodule, say) or a device has no text; nor has a file that is not UTF-8.
// A symbolic link's text is its target, as git diffs it.
std::optional<std::string> read_utf8_file(const std::string& repo_path, const std::string& file) {
  auto entry = read_work_tree_entry(repo_path, file);
  if (!entry || !is_valid_utf8(entry->bytes)) {
    return std::nullopt;
  }
  return std::move(entry->bytes);
}

// "\r\n" when more than half as many "\r" as "\n" occur in the file.
std::string_view line_ending_of(std::string_view text) {
  auto feeds = std::count(text.begin(), text.end(), '\n');
  auto returns = std::count(text.begin(), text.end(), '\r');
  return returns > feeds / 2 ? "\r\n" : "\n";
}

// Ends a last line that lacks a line end. A text already ending in "\n" is left alone even
// when its majority ending is "\r\n", and an empty text stays empty: either would otherwise
// show an empty line that is not in the file. A final lone "\r" is a line of its own, as in
// the committed text, so the ending goes after it rather than absorbing it.
void end_last_line(std::string& text, std::string_view ending) {
  if (text.empty() || text.back() == '\n') return;
  text += ending;
}

std::string with_line_ending(const std::string& text, std::string_view ending) {
  // Cutting into lines and joining them again changes nothing but a missing last line end
  // when the text has no "\r" and the ending is "\n", the common case: spare the copy of
  // every line.
  if (ending == "\n" && text.find('\r') == std::string::npos) {
    return text.empty() || text.back() == '\n' ? text : text + '\n';
  }
  auto lines = parse_all(text, split_lines);
  std::string out;
  out.reserve(text.size() + (lines ? lines->size() : 0));
  for (const auto& line : lines.value_or(std::vector<std::string>())) {
    out += line;
    out += ending;
  }
  return out;
}

// Lines as the diff compares them: each keeps its ending, which is "\r\n", "\n" or a lone
// "\r"; a last piece without ending is a line too.
std::vector<std::string_view> diff_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    // find_first_of would call memchr on its two-character set for every byte of the text.
    auto stop = std::find_if(text.begin() + static_cast<ptrdiff_t>(start), text.end(),
                             [](char c) { return c == '\n' || c == '\r'; });
    size_t end = static_cast<size_t>(stop - text.begin());
    if (end < text.size()) {
      bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
      end += crlf ? 2 : 1;
    }
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

void set_text(HunkLine& line, std::string_view piece) {
  std::string_view ending = "\n";  // for a last line without ending
  if (piece.ends_with("\r\n")) {
    ending = "\r\n";
  } else if (piece.ends_with('\n')) {
    ending = "\n";
  } else if (piece.ends_with('\r')) {
    ending = "";  // a lone "\r" ends the line but is no line ending of ours
  }
  bool ending_in_piece = piece.ends_with(ending);
  line.text = piece.substr(0, piece.size() - (ending_in_piece ? ending.size() : 0));
  line.line_ending = ending;
}

}  // namespace

std::optional<WipPatchType> wip_status_letter(Input& in) {
  if (in.at_end()) return std::nullopt;
  WipPatchType type;
  switch (in.peek()) {
    case ' ':
      type = WipPatchType::Unchanged;
      break;
    case '?':
      type = WipPatchType::Question;
      break;
    case 'A':
      type = WipPatchType::A;
      break;
    case 'C':
      type = WipPatchType::C;
      break;
    case 'D':
      type = WipPatchType::D;
      break;
    case 'M':
      type = WipPatchType::M;
      break;
    case 'R':
      type = WipPatchType::R;
      break;
    case 'U':
      type = WipPatchType::U;
      break;
    // A type change (file <-> symlink) has a text diff like any modification.
    case 'T':
      type = WipPatchType::M;
      break;
    default:
      return std::nullopt;
  }
  in.advance();
  return type;
}

std::optional<std::vector<std::string>> split_lines(Input& in) {
  std::vector<std::string> lines;
  while (!in.at_end()) {
    size_t start = in.position;
    size_t feed = in.text.find('\n', start);
    if (feed == std::string_view::npos) {
      in.advance_to(in.text.size());
      lines.push_back(in.slice(start, in.text.size()));
      break;
    }
    bool crlf = feed > start && in.text[feed - 1] == '\r';
    lines.push_back(in.slice(start, crlf ? feed - 1 : feed));
    in.advance_to(feed + 1);
  }
  return lines;
}

std::vector<HunkLine> diff_texts(std::string_view old_text, std::string_view new_text) {
  auto old_lines = diff_lines(old_text);
  auto new_lines = diff_lines(new_text);
  auto changes = line_diff(old_lines, new_lines);
  std::vector<HunkLine> out;
  out.reserve(changes.size());
  int32_t old_num = 0;
  int32_t new_num = 0;
  for (auto change : changes) {
    HunkLine line;
    line.hunk_index = -1;
    line.index = static_cast<uint32_t>(out.size());
    switch (change) {
      case LineChange::Same:
        line.status = HunkLineStatus::Unchanged;
        line.old_num = ++old_num;
        line.new_num = ++new_num;
        set_text(line, old_lines[old_num - 1]);
        break;
      case LineChange::Removed:
        line.status = HunkLineStatus::Minus;
        line.old_num = ++old_num;
        set_text(line, old_lines[old_num - 1]);
        break;
      case LineChange::Added:
        line.status = HunkLineStatus::Plus;
        line.new_num = ++new_num;
        set_text(line, new_lines[new_num - 1]);
        break;
    }
    out.push_back(std::move(line));
  }
  return out;
}

std::optional<std::vector<HunkLine>> load_wip_diff(
    const std::string& repo_path, const WipPatch& patch,
    const std::optional<std::string>& head_commit_id) {
  if (patch.is_image) return std::nullopt;
  auto new_text = read_utf8_file(repo_path, patch.new_file);
  std::string_view ending = new_text ? line_ending_of(*new_text) : "\n";
  if (new_text) end_last_line(*new_text, ending);
  if (patch.patch_type == WipPatchType::A || !head_commit_id) {
    if (!new_text) return std::nullopt;
    return diff_texts("", *new_text);
  }
  auto args = revision_args({"show"}, {*head_commit_id + ":" + patch.old_file});
  if (!args) return std::nullopt;
  auto old_text = run_git(repo_path, *args);
  if (patch.patch_type == WipPatchType::D) return diff_texts(old_text.value_or(""), "");
  if (!new_text) return std::nullopt;
  return diff_texts(with_line_ending(old_text.value_or(""), ending), *new_text);
}

}  // namespace brackwen
