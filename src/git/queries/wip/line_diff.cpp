// The line diff behind working-copy hunks, done by libgit2's Myers diff (xdiff).
//
// xdiff cuts its input at "\n" only and compares bytes, while our lines may also end at a
// lone "\r". So each distinct line is replaced by a short token line ("<hex id>\n") and the
// two token texts are diffed: the diff is the same, and hashing short tokens is cheaper.
#include "git/queries/wip/line_diff.hpp"

#include <git2.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace brackwen {
namespace {

struct Marks {
  std::vector<bool> removed;  // by old line
  std::vector<bool> added;    // by new line
};

// Gives each distinct line a number, in order of first appearance. Open addressing over one
// flat array: the node allocations of a standard map cost more than the diff itself.
struct LineNumbers {
  explicit LineNumbers(size_t lines) {
    size_t capacity = 16;
    while (capacity < lines * 2) capacity *= 2;
    slots.assign(capacity, empty);
  }

  uint32_t number(std::string_view line) {
    size_t mask = slots.size() - 1;
    size_t hash = std::hash<std::string_view>()(line);
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      if (slots[i] == empty) {
        slots[i] = static_cast<uint32_t>(distinct.size());
        distinct.push_back({hash, line});
        return slots[i];
      }
      const auto& seen = distinct[slots[i]];
      if (seen.first == hash && seen.second == line) return slots[i];
    }
  }

  static constexpr uint32_t empty = UINT32_MAX;
  std::vector<uint32_t> slots;
  std::vector<std::pair<size_t, std::string_view>> distinct;
};

void append_token(std::string& out, uint32_t number) {
  char digits[8];
  int n = 0;
  do {
    digits[n++] = "0123456789abcdef"[number & 15];
    number >>= 4;
  } while (number != 0);
  while (n > 0) out += digits[--n];
  out += '\n';
}

// The token texts of the lines that occur on both sides; a line found on one side only can
// never match, so it is marked here and left out. This is not only cheaper: xdiff, even
// with its minimal flag, sets aside lines that repeat often when they stand among unmatched
// ones, and would then miss matches that a minimal diff keeps.
struct Tokens {
  std::string old_text;
  std::string new_text;
  std::vector<size_t> old_lines;  // the line behind each token line
  std::vector<size_t> new_lines;
};

Tokens shared_line_tokens(const std::vector<std::string_view>& old_lines,
                          const std::vector<std::string_view>& new_lines, Marks& marks) {
  LineNumbers numbers(old_lines.size() + new_lines.size());
  auto ids = [&](const std::vector<std::string_view>& lines) {
    std::vector<uint32_t> out;
    out.reserve(lines.size());
    for (auto line : lines) out.push_back(numbers.number(line));
    return out;
  };
  auto old_ids = ids(old_lines);
  auto new_ids = ids(new_lines);
  std::vector<uint8_t> sides(numbers.distinct.size());
  for (auto id : old_ids) sides[id] |= 1;
  for (auto id : new_ids) sides[id] |= 2;
  Tokens tokens;
  auto keep = [&](const std::vector<uint32_t>& ids, std::vector<bool>& changed, std::string& text,
                  std::vector<size_t>& kept) {
    text.reserve(ids.size() * 6);
    for (size_t i = 0; i < ids.size(); ++i) {
      if (sides[ids[i]] != 3) {
        changed[i] = true;
        continue;
      }
      append_token(text, ids[i]);
      kept.push_back(i);
    }
  };
  keep(old_ids, marks.removed, tokens.old_text, tokens.old_lines);
  keep(new_ids, marks.added, tokens.new_text, tokens.new_lines);
  return tokens;
}

// The exact diff costs up to (n + m) * D steps for n + m lines and D edits, and D may reach
// n + m: a shuffled file of 160,000 lines took minutes. Up to this many token lines the
// exact diff stays within a few milliseconds, about the cost of starting git. Above it,
// xdiff's default heuristics bound the cost, as in `git diff`; they only engage past 256
// steps in one split, so a diff with fewer than about 512 edits is still the least one.
constexpr size_t EXACT_DIFF_MAX_LINES = 2048;

struct MarkTarget {
  Marks& marks;
  const Tokens& tokens;
};

int mark_line(const git_diff_delta*, const git_diff_hunk*, const git_diff_line* line,
              void* payload) {
  auto& [marks, tokens] = *static_cast<MarkTarget*>(payload);
  auto mark = [](int lineno, const std::vector<size_t>& lines, std::vector<bool>& changed) {
    if (lineno > 0 && static_cast<size_t>(lineno) <= lines.size())
      changed[lines[lineno - 1]] = true;
  };
  if (line->origin == GIT_DIFF_LINE_DELETION)
    mark(line->old_lineno, tokens.old_lines, marks.removed);
  if (line->origin == GIT_DIFF_LINE_ADDITION) mark(line->new_lineno, tokens.new_lines, marks.added);
  return 0;
}

// False when libgit2 could not diff (out of memory); the marks are then unusable.
bool mark_changes(const std::vector<std::string_view>& old_lines,
                  const std::vector<std::string_view>& new_lines, Marks& marks) {
  static const int initialised = git_libgit2_init();
  if (initialised < 0) return false;
  auto tokens = shared_line_tokens(old_lines, new_lines, marks);
  git_diff_options options = GIT_DIFF_OPTIONS_INIT;
  options.context_lines = 0;
  options.interhunk_lines = 0;
  bool exact = tokens.old_lines.size() + tokens.new_lines.size() <= EXACT_DIFF_MAX_LINES;
  options.flags = GIT_DIFF_FORCE_TEXT | (exact ? GIT_DIFF_MINIMAL : 0);
  MarkTarget target{marks, tokens};
  int error = git_diff_buffers(tokens.old_text.data(), tokens.old_text.size(), nullptr,
                               tokens.new_text.data(), tokens.new_text.size(), nullptr, &options,
                               nullptr, nullptr, nullptr, mark_line, &target);
  return error == 0;
}

}  // namespace

std::vector<LineChange> line_diff(const std::vector<std::string_view>& old_lines,
                                  const std::vector<std::string_view>& new_lines) {
  Marks marks{std::vector<bool>(old_lines.size()), std::vector<bool>(new_lines.size())};
  if (!mark_changes(old_lines, new_lines, marks)) {
    marks.removed.assign(old_lines.size(), true);
    marks.added.assign(new_lines.size(), true);
  }
  std::vector<LineChange> changes;
  changes.reserve(old_lines.size() + new_lines.size());
  size_t i = 0;
  size_t j = 0;
  while (i < old_lines.size() || j < new_lines.size()) {
    bool in_change =
        (i < old_lines.size() && marks.removed[i]) || (j < new_lines.size() && marks.added[j]);
    // A side that ran out while the other has lines left can only be a change; this holds
    // for any consistent diff and keeps the walk finite should one ever be inconsistent.
    if (!in_change && i < old_lines.size() && j < new_lines.size()) {
      changes.push_back(LineChange::Same);
      ++i;
      ++j;
      continue;
    }
    while (i < old_lines.size() && (marks.removed[i] || j >= new_lines.size())) {
      changes.push_back(LineChange::Removed);
      ++i;
    }
    while (j < new_lines.size() && (marks.added[j] || i >= old_lines.size())) {
      changes.push_back(LineChange::Added);
      ++j;
    }
  }
  return changes;
}

}  // namespace brackwen
