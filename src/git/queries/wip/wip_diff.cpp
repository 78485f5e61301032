// Working-copy diffs: the committed text from `git cat-file blob <head>:<path>`, the working
// file from git's own work tree, both brought to the working file's line ending, then a line
// diff, refused when it would take more memory than a read may, or when a line list shown
// whole would pass the reply cap.
#include "git/queries/wip/wip_diff.hpp"

#include <algorithm>
#include <tuple>

#include "git/file_io.hpp"
#include "git/queries/hunks/listed_path.hpp"
#include "git/queries/hunks/reply_size.hpp"
#include "git/reading/read_budget.hpp"
#include "git/revisions.hpp"
#include "git/run_git.hpp"
#include "parser/utf8.hpp"

namespace brackwen {
namespace {

constexpr std::string_view WIP_DIFF = "Working-copy diff";

// What a diff holds for each line of either text besides the text: its view and its script
// entry, and its share of the hunk records, at most one for every seven entries.
constexpr uint64_t LINE_BYTES = sizeof(std::string_view) + 8;

// Why a text or a diff is missing: nothing to read, or a guard that stopped it.
enum class Stop { None, Unreadable, ReplyCap, MemoryBudget };

std::shared_ptr<const WipDiff> refused(Stop stop) {
  if (stop == Stop::ReplyCap) report_over_cap(WIP_DIFF);
  if (stop == Stop::MemoryBudget) report_memory_budget(WIP_DIFF);
  return nullptr;
}

// A text to diff, or why there is none.
struct TextRead {
  std::optional<std::string> text;
  Stop stop = Stop::Unreadable;
};

TextRead read_text(std::string text) {
  return {std::move(text), Stop::None};
}

// A directory (a submodule, say) or a device has no text; nor has a file that is not UTF-8.
// A symbolic link's text is its target, as git diffs it. A file longer than the cap cannot
// fit in a line list shown whole, each of its bytes standing there as one at least; nor can
// one longer than the budget be held.
TextRead working_text(const std::string& top, const std::string& file, bool every_line_shown) {
  uint64_t most = every_line_shown ? MAX_REPLY_BYTES : read_memory_budget();
  auto entry = read_work_tree_entry(top, file, most);
  if (entry && entry->too_large) {
    return {std::nullopt, every_line_shown ? Stop::ReplyCap : Stop::MemoryBudget};
  }
  if (!entry || !is_valid_utf8(entry->bytes)) return {};
  return read_text(std::move(entry->bytes));
}

// The committed text as it arrives, held within `most_bytes`; where every line is shown, also
// the least its lines make of the line list whatever ending they are brought to: a byte
// stands there as one at least (an invalid sequence as the three of its U+FFFD), and each
// "\n" ends a line with its record. A "\r" dropped from a "\r\n" is made up for by the "\n",
// escaped as two.
struct BlobReading {
  bool every_line_shown = false;
  uint64_t most_bytes = 0;
  std::string text;
  uint64_t least_list_bytes = 0;
  Stop stop = Stop::None;
};

// The text grows within its bound, which doubling its capacity would pass.
void append_within(std::string& text, std::string_view bytes, uint64_t most_bytes) {
  size_t needed = text.size() + bytes.size();
  if (needed > text.capacity()) {
    text.reserve(static_cast<size_t>(std::min<uint64_t>(most_bytes, 2 * uint64_t{needed})));
  }
  text.append(bytes);
}

// Past a guard nothing more is kept: the diff will not be shown.
void read_more(BlobReading& reading, std::string_view bytes) {
  if (reading.stop != Stop::None) return;
  if (reading.every_line_shown) {
    auto feeds = static_cast<uint64_t>(std::count(bytes.begin(), bytes.end(), '\n'));
    reading.least_list_bytes += bytes.size() + feeds * LINE_RECORD_BYTES;
    if (reading.least_list_bytes > MAX_REPLY_BYTES) reading.stop = Stop::ReplyCap;
  }
  if (reading.stop == Stop::None && reading.text.size() + bytes.size() > reading.most_bytes) {
    reading.stop = Stop::MemoryBudget;
  }
  if (reading.stop != Stop::None) {
    reading.text = std::string();
    return;
  }
  append_within(reading.text, bytes, reading.most_bytes);
}

// The path's text in the head commit as git printed it. cat-file reads "<rev>:<path>" as one
// object name, where a revision argument of show or diff is split at a ".." in the path, and
// it runs no text conversion. A git that fails (the path is not in the head commit: added,
// then modified) prints nothing, and the text is empty; so is it for an empty path, which
// names a tree. A run cut short (not started, ended by a limit, a failed read, a git that
// died after printing part of the blob) has no text: the diff would be against a part of it.
TextRead committed_text(const std::string& repo_path, const std::string& head_commit_id,
                        const std::string& file, bool every_line_shown, uint64_t most_bytes) {
  if (file.empty()) return read_text(std::string());
  BlobReading reading;
  reading.every_line_shown = every_line_shown;
  reading.most_bytes = most_bytes;
  auto args = revision_args({"cat-file", "blob"}, {head_commit_id + ":" + file});
  if (!args) return {};
  StreamHandlers handlers;
  handlers.on_out = [&](std::string_view bytes) { read_more(reading, bytes); };
  handlers.cancelled = [&] { return reading.stop != Stop::None; };
  auto end = stream_git(repo_path, *args, handlers);
  if (reading.stop != Stop::None) return {std::nullopt, reading.stop};
  if (!end || end->out_error != 0 || (end->status != 0 && !reading.text.empty())) return {};
  if (is_valid_utf8(reading.text)) return read_text(std::move(reading.text));
  // A byte that is not UTF-8 becomes the three of U+FFFD, in a copy.
  if (reading.text.size() > reading.most_bytes / 4) return {std::nullopt, Stop::MemoryBudget};
  return read_text(decode_utf8_lossy(reading.text));
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

// The most bytes with_line_ending makes of the text: each "\n" may become "\r\n", and a last
// line gains its ending.
size_t with_line_ending_bytes(std::string_view text, std::string_view ending) {
  auto feeds = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
  return text.size() + (ending.size() - 1) * feeds + ending.size();
}

// The text's lines, cut at "\n" or "\r\n", each ended by `ending`.
std::string with_line_ending(std::string_view text, std::string_view ending) {
  std::string out;
  out.reserve(with_line_ending_bytes(text, ending));
  for (size_t start = 0; start < text.size();) {
    size_t feed = std::min(text.find('\n', start), text.size());
    bool crlf = feed < text.size() && feed > start && text[feed - 1] == '\r';
    out.append(text.substr(start, feed - start - (crlf ? 1 : 0)));
    out += ending;
    start = feed + 1;
  }
  return out;
}

// Calls `take` with each line as the diff compares them: each keeps its ending, which is
// "\r\n", "\n" or a lone "\r"; a last piece without ending is a line too.
template <class Take>
void for_each_diff_line(std::string_view text, Take take) {
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
    take(text.substr(start, end - start));
    start = end;
  }
}

// The lines for_each_diff_line gives, counted without walking them: every "\n" ends one, and
// every "\r" not before one; so does the end, after a last line without ending. On a file of
// millions of lines the walk costs as much as taking the lines.
size_t diff_line_count(std::string_view text) {
  if (text.empty()) return 0;
  auto count = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
  for (size_t at = text.find('\r'); at != std::string_view::npos; at = text.find('\r', at + 1)) {
    count += at + 1 == text.size() || text[at + 1] != '\n';
  }
  return count + (text.back() != '\n' && text.back() != '\r');
}

// Each line ends at a "\n" or a "\r", or at the end.
size_t most_diff_lines(std::string_view text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n') +
                             std::count(text.begin(), text.end(), '\r')) +
         1;
}

std::vector<std::string_view> diff_lines(std::string_view text, size_t count) {
  std::vector<std::string_view> lines;
  lines.reserve(count);
  for_each_diff_line(text, [&](std::string_view line) { lines.push_back(line); });
  return lines;
}

uint64_t text_reply_bytes(std::string_view text) {
  ReplyTextSize size;
  size.add(text);
  size.finish();
  return size.bytes;
}

// What the lines of one side make of the line list, where each stands once.
uint64_t side_list_bytes(std::string_view text) {
  return text_reply_bytes(text) + diff_line_count(text) * LINE_RECORD_BYTES;
}

// The same at most, known at the cost of a count: a valid UTF-8 byte is escaped to six at
// most.
uint64_t most_side_list_bytes(std::string_view text) {
  return 6 * uint64_t{text.size()} + most_diff_lines(text) * LINE_RECORD_BYTES;
}

// Every old line is in the list once, unchanged or removed; the new lines add the added ones.
uint64_t list_bytes(const WipDiff& diff, uint64_t old_side_bytes) {
  uint64_t bytes = old_side_bytes;
  size_t new_line = 0;
  for (LineChange change : diff.script) {
    if (change == LineChange::Added) {
      bytes += text_reply_bytes(diff.new_lines[new_line]) + LINE_RECORD_BYTES;
    }
    new_line += change != LineChange::Removed;
  }
  return bytes;
}

// The diff of two texts within `most_bytes`: what the texts and the lines' views and script
// hold is known from their counts before any view is made, and what the line diff needs
// before it runs.
std::shared_ptr<const WipDiff> budgeted_diff(std::string old_text, std::string new_text,
                                             uint64_t most_bytes) {
  size_t old_count = diff_line_count(old_text);
  size_t new_count = diff_line_count(new_text);
  uint64_t held = old_text.size() + new_text.size() + (old_count + new_count) * LINE_BYTES;
  if (held > most_bytes) return refused(Stop::MemoryBudget);
  auto diff = std::make_shared<WipDiff>();
  diff->old_text = std::move(old_text);
  diff->new_text = std::move(new_text);
  diff->old_lines = diff_lines(diff->old_text, old_count);
  diff->new_lines = diff_lines(diff->new_text, new_count);
  auto script = line_diff_within(diff->old_lines, diff->new_lines, most_bytes - held);
  if (!script) return refused(Stop::MemoryBudget);
  diff->script = std::move(*script);
  return diff;
}

// Where every line is shown, the lines each side holds are known before the diff, and each
// alone may pass the cap already; only the diff tells how many lines the two share. Two texts
// whose lines could not pass it together, the usual case, are spared the exact count. Both
// texts are valid UTF-8.
std::shared_ptr<const WipDiff> capped_diff(std::string old_text, std::string new_text,
                                           bool every_line_shown) {
  if (!every_line_shown ||
      most_side_list_bytes(old_text) + most_side_list_bytes(new_text) <= MAX_REPLY_BYTES) {
    return budgeted_diff(std::move(old_text), std::move(new_text), read_memory_budget());
  }
  uint64_t old_side_bytes = side_list_bytes(old_text);
  if (old_side_bytes > MAX_REPLY_BYTES || side_list_bytes(new_text) > MAX_REPLY_BYTES) {
    return refused(Stop::ReplyCap);
  }
  auto diff = budgeted_diff(std::move(old_text), std::move(new_text), read_memory_budget());
  if (diff && list_bytes(*diff, old_side_bytes) > MAX_REPLY_BYTES) {
    return refused(Stop::ReplyCap);
  }
  return diff;
}

std::pair<std::string_view, std::string_view> text_and_ending(std::string_view piece) {
  std::string_view ending = "\n";  // for a last line without ending
  if (piece.ends_with("\r\n")) {
    ending = "\r\n";
  } else if (piece.ends_with('\n')) {
    ending = "\n";
  } else if (piece.ends_with('\r')) {
    ending = "";  // a lone "\r" ends the line but is no line ending of ours
  }
  bool ending_in_piece = piece.ends_with(ending);
  return {piece.substr(0, piece.size() - (ending_in_piece ? ending.size() : 0)), ending};
}

HunkLineStatus status_of(LineChange change) {
  switch (change) {
    case LineChange::Removed:
      return HunkLineStatus::Minus;
    case LineChange::Added:
      return HunkLineStatus::Plus;
    case LineChange::Same:
      break;
  }
  return HunkLineStatus::Unchanged;
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

std::optional<HunkLineView> next_wip_line(const WipDiff& diff, WipLineCursor& cursor) {
  if (cursor.next >= diff.script.size()) return std::nullopt;
  HunkLineView line;
  line.index = static_cast<uint32_t>(cursor.next);
  line.hunk_index = -1;
  LineChange change = diff.script[cursor.next++];
  line.status = status_of(change);
  std::string_view piece;
  if (change != LineChange::Removed) {
    line.new_num = ++cursor.new_num;
    piece = diff.new_lines[static_cast<size_t>(cursor.new_num - 1)];
  }
  if (change != LineChange::Added) {
    line.old_num = ++cursor.old_num;
    piece = diff.old_lines[static_cast<size_t>(cursor.old_num - 1)];
  }
  std::tie(line.text, line.line_ending) = text_and_ending(piece);
  return line;
}

std::shared_ptr<const WipDiff> diff_texts(std::string old_text, std::string new_text) {
  return budgeted_diff(std::move(old_text), std::move(new_text), UINT64_MAX);
}

uint64_t wip_lines_reply_bytes(const WipDiff& diff, WipLineCursor from, size_t end) {
  uint64_t bytes = 0;
  while (from.next < end) {
    auto line = next_wip_line(diff, from);
    ReplyTextSize size;
    size.add(line->text);
    size.add(line->line_ending);
    size.finish();
    bytes += size.bytes + LINE_RECORD_BYTES;
  }
  return bytes;
}

std::shared_ptr<const WipDiff> load_wip_diff(const std::string& repo_path, const WipPatch& patch,
                                             const std::optional<std::string>& head_commit_id,
                                             WipShown shown) {
  if (patch.is_image) return nullptr;
  if (refuse_listed_path(WIP_DIFF, patch.new_file) ||
      refuse_listed_path(WIP_DIFF, patch.old_file)) {
    return nullptr;
  }
  bool added = patch.patch_type == WipPatchType::A || !head_commit_id;
  bool deleted = !added && patch.patch_type == WipPatchType::D;
  // With one side empty, every line of the other is in the one hunk.
  bool every_line_shown = shown == WipShown::AllLines || added || deleted;
  uint64_t budget = read_memory_budget();
  if (deleted) {
    // The old text exactly as git printed it: there is no working file to match.
    auto old_text = committed_text(repo_path, *head_commit_id, patch.old_file, true, budget);
    if (!old_text.text) return refused(old_text.stop);
    return capped_diff(std::move(*old_text.text), "", true);
  }
  auto top = work_tree_top(repo_path);
  if (!top) return nullptr;
  auto new_text = working_text(*top, patch.new_file, every_line_shown);
  if (!new_text.text) return refused(new_text.stop);
  std::string_view ending = line_ending_of(*new_text.text);
  end_last_line(*new_text.text, ending);
  if (added) return capped_diff("", std::move(*new_text.text), true);
  uint64_t working_bytes = new_text.text->size();
  auto old_text = committed_text(repo_path, *head_commit_id, patch.old_file, every_line_shown,
                                 budget - std::min(budget, working_bytes));
  if (!old_text.text) return refused(old_text.stop);
  // The committed text is held twice while it is brought to the ending.
  if (working_bytes + old_text.text->size() + with_line_ending_bytes(*old_text.text, ending) >
      budget) {
    return refused(Stop::MemoryBudget);
  }
  return capped_diff(with_line_ending(*old_text.text, ending), std::move(*new_text.text),
                     every_line_shown);
}

}  // namespace brackwen
