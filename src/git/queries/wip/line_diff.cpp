// The line diff behind working-copy hunks, done by libgit2's Myers diff (xdiff).
//
// xdiff cuts its input at "\n" only and compares bytes, while our lines may also end at a
// lone "\r". So each distinct line is replaced by a short token line ("<hex id>\n") and the
// two token texts are diffed: the diff is the same, and hashing short tokens is cheaper.
//
// The lines both sides begin and end with are kept out of xdiff, whose records would cost
// far more than the lines themselves; the script is the one xdiff gives the whole texts.
#include "git/queries/wip/line_diff.hpp"

#include <git2.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>

namespace brackwen {
namespace {

using Lines = std::span<const std::string_view>;

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
    // No more distinct lines than lines: reserved whole, it never holds two copies at once.
    distinct.reserve(lines);
  }

  // The line's number; a line not seen before gets the next one when `add` is set.
  std::optional<uint32_t> look_up(std::string_view line, bool add) {
    size_t mask = slots.size() - 1;
    size_t hash = std::hash<std::string_view>()(line);
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      if (slots[i] == empty) {
        if (!add) return std::nullopt;
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

// The lines both sides begin with (`leading`) and end with (`trailing`).
struct CommonEnds {
  size_t leading = 0;
  size_t trailing = 0;
};

CommonEnds common_ends(Lines old_lines, Lines new_lines) {
  size_t shorter = std::min(old_lines.size(), new_lines.size());
  CommonEnds ends;
  while (ends.leading < shorter && old_lines[ends.leading] == new_lines[ends.leading]) {
    ++ends.leading;
  }
  while (ends.trailing < shorter - ends.leading &&
         old_lines[old_lines.size() - 1 - ends.trailing] ==
             new_lines[new_lines.size() - 1 - ends.trailing]) {
    ++ends.trailing;
  }
  return ends;
}

// The lines between the common ones, numbered.
struct Middle {
  size_t leading = 0;
  size_t trailing = 0;
  LineNumbers numbers;
  std::vector<uint32_t> old_ids;
  std::vector<uint32_t> new_ids;
};

std::vector<uint32_t> numbered(Lines lines, LineNumbers& numbers) {
  std::vector<uint32_t> ids;
  ids.reserve(lines.size());
  for (auto line : lines) ids.push_back(*numbers.look_up(line, true));
  return ids;
}

// xdiff moves a run of changes down over the lines after it while they repeat its first
// lines, the common last lines included; out of its sight, they could not take the run. So
// the common last lines go back to the middle, first to last, while the middle holds the next
// of them. (A run moved up over the common first lines comes back down, as no change of the
// other side lies there to hold it.)
Middle middle_of(Lines old_lines, Lines new_lines, CommonEnds ends) {
  size_t same = ends.leading + ends.trailing;
  Middle middle{ends.leading,
                ends.trailing,
                LineNumbers(old_lines.size() + new_lines.size() - 2 * same),
                {},
                {}};
  middle.old_ids =
      numbered(old_lines.subspan(ends.leading, old_lines.size() - same), middle.numbers);
  middle.new_ids =
      numbered(new_lines.subspan(ends.leading, new_lines.size() - same), middle.numbers);
  for (; middle.trailing > 0; --middle.trailing) {
    auto id = middle.numbers.look_up(old_lines[old_lines.size() - middle.trailing], false);
    if (!id) break;
    middle.old_ids.push_back(*id);
    middle.new_ids.push_back(*id);
  }
  return middle;
}

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

// The token texts of the middle lines that occur on both sides; a line found on one side only
// can never match, so it is marked here and left out. This is not only cheaper: xdiff, even
// with its minimal flag, sets aside lines that repeat often when they stand among unmatched
// ones, and would then miss matches that a minimal diff keeps.
//
// A middle line the other side holds only among the common lines cannot match either, but
// xdiff, given the whole texts, would keep it among the lines it aligns, which can change the
// script it picks among the least ones. So both texts begin with a stand-in for the common
// lines: one token line for each such line. Being alike on both sides, they are common lines
// to xdiff too.
struct Tokens {
  std::string old_text;
  std::string new_text;
  size_t stand_ins = 0;           // the token lines before the middle's
  std::vector<size_t> old_lines;  // the middle line behind each token line after them
  std::vector<size_t> new_lines;
};

constexpr uint8_t IN_OLD = 1;
constexpr uint8_t IN_NEW = 2;
constexpr uint8_t IN_COMMON = 4;

// The longest token line: eight hex digits and its "\n".
constexpr size_t TOKEN_BYTES = 9;

// Where each numbered line stands.
std::vector<uint8_t> sides_of(Lines old_lines, Middle& middle) {
  std::vector<uint8_t> sides(middle.numbers.distinct.size());
  for (auto id : middle.old_ids) sides[id] |= IN_OLD;
  for (auto id : middle.new_ids) sides[id] |= IN_NEW;
  auto common = [&](Lines common_lines) {
    for (auto line : common_lines) {
      if (auto id = middle.numbers.look_up(line, false)) sides[*id] |= IN_COMMON;
    }
  };
  common(old_lines.first(middle.leading));
  common(old_lines.last(middle.trailing));
  return sides;
}

bool found_on_one_side(uint8_t side) {
  return side == IN_OLD || side == IN_NEW;
}

// How many token lines xdiff gets: the stand-ins, then each side's middle lines that can match.
struct TokenCount {
  size_t stand_ins = 0;
  size_t old_lines = 0;
  size_t new_lines = 0;
  // A stand-in stands on both sides.
  size_t all() const { return 2 * stand_ins + old_lines + new_lines; }
};

TokenCount token_count(const std::vector<uint8_t>& sides, const Middle& middle) {
  auto kept = [&](const std::vector<uint32_t>& ids) {
    return static_cast<size_t>(std::count_if(
        ids.begin(), ids.end(), [&](uint32_t id) { return !found_on_one_side(sides[id]); }));
  };
  auto stand_ins = std::count_if(sides.begin(), sides.end(),
                                 [](uint8_t side) { return (side & IN_COMMON) != 0; });
  return {static_cast<size_t>(stand_ins), kept(middle.old_ids), kept(middle.new_ids)};
}

Tokens shared_line_tokens(const std::vector<uint8_t>& sides, const Middle& middle, TokenCount count,
                          Marks& marks) {
  Tokens tokens;
  tokens.old_text.reserve((count.stand_ins + count.old_lines) * TOKEN_BYTES);
  tokens.new_text.reserve((count.stand_ins + count.new_lines) * TOKEN_BYTES);
  for (uint32_t id = 0; id < sides.size(); ++id) {
    if ((sides[id] & IN_COMMON) == 0) continue;
    append_token(tokens.old_text, id);
    append_token(tokens.new_text, id);
    ++tokens.stand_ins;
  }
  auto keep = [&](const std::vector<uint32_t>& ids, std::vector<bool>& changed, std::string& text,
                  std::vector<size_t>& kept, size_t kept_count) {
    kept.reserve(kept_count);
    for (size_t i = 0; i < ids.size(); ++i) {
      if (found_on_one_side(sides[ids[i]])) {
        changed[i] = true;
        continue;
      }
      append_token(text, ids[i]);
      kept.push_back(i);
    }
  };
  keep(middle.old_ids, marks.removed, tokens.old_text, tokens.old_lines, count.old_lines);
  keep(middle.new_ids, marks.added, tokens.new_text, tokens.new_lines, count.new_lines);
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
  // The stand-ins are alike on both sides, so never reported.
  auto mark = [&](int lineno, const std::vector<size_t>& lines, std::vector<bool>& changed) {
    auto line = static_cast<size_t>(std::max(lineno, 0));
    if (line > tokens.stand_ins && line - tokens.stand_ins <= lines.size()) {
      changed[lines[line - tokens.stand_ins - 1]] = true;
    }
  };
  if (line->origin == GIT_DIFF_LINE_DELETION)
    mark(line->old_lineno, tokens.old_lines, marks.removed);
  if (line->origin == GIT_DIFF_LINE_ADDITION) mark(line->new_lineno, tokens.new_lines, marks.added);
  return 0;
}

// False when libgit2 could not diff (out of memory); the marks are then unusable.
bool mark_changes(const Tokens& tokens, Marks& marks) {
  static const int initialised = git_libgit2_init();
  if (initialised < 0) return false;
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

// The changed lines of the middle, or nothing when the tokens, then xdiff, would take more
// than `most_bytes`. With one side empty every line of the other is one, and xdiff is not
// asked; nor is it when the token texts are alike, as they are when every changed line is
// found on one side only, which leaves nothing to find.
std::optional<Marks> middle_marks(Lines old_lines, Middle& middle, uint64_t most_bytes) {
  size_t old_count = middle.old_ids.size();
  size_t new_count = middle.new_ids.size();
  Marks marks{std::vector<bool>(old_count), std::vector<bool>(new_count)};
  bool diffed = false;
  if (old_count != 0 && new_count != 0) {
    auto sides = sides_of(old_lines, middle);
    TokenCount count = token_count(sides, middle);
    if (count.all() > most_bytes / TOKEN_LINE_BYTES) return std::nullopt;
    Tokens tokens = shared_line_tokens(sides, middle, count, marks);
    uint64_t left = most_bytes - count.all() * TOKEN_LINE_BYTES;
    diffed = tokens.old_text == tokens.new_text;
    if (!diffed && count.all() > left / XDIFF_LINE_BYTES) return std::nullopt;
    if (!diffed) diffed = mark_changes(tokens, marks);
  }
  if (!diffed) {
    marks.removed.assign(old_count, true);
    marks.added.assign(new_count, true);
  }
  return marks;
}

void append_changes(const Marks& marks, std::vector<LineChange>& changes) {
  size_t old_count = marks.removed.size();
  size_t new_count = marks.added.size();
  size_t i = 0;
  size_t j = 0;
  while (i < old_count || j < new_count) {
    bool in_change = (i < old_count && marks.removed[i]) || (j < new_count && marks.added[j]);
    // A side that ran out while the other has lines left can only be a change; this holds
    // for any consistent diff and keeps the walk finite should one ever be inconsistent.
    if (!in_change && i < old_count && j < new_count) {
      changes.push_back(LineChange::Same);
      ++i;
      ++j;
      continue;
    }
    while (i < old_count && (marks.removed[i] || j >= new_count)) {
      changes.push_back(LineChange::Removed);
      ++i;
    }
    while (j < new_count && (marks.added[j] || i >= old_count)) {
      changes.push_back(LineChange::Added);
      ++j;
    }
  }
}

}  // namespace

std::vector<LineChange> line_diff(const std::vector<std::string_view>& old_lines,
                                  const std::vector<std::string_view>& new_lines) {
  return *line_diff_within(old_lines, new_lines, UINT64_MAX);
}

std::optional<std::vector<LineChange>> line_diff_within(
    const std::vector<std::string_view>& old_lines, const std::vector<std::string_view>& new_lines,
    uint64_t most_bytes) {
  std::vector<LineChange> changes;
  // An added or a deleted file: nothing to number.
  if (old_lines.empty() || new_lines.empty()) {
    changes.assign(old_lines.size(), LineChange::Removed);
    changes.insert(changes.end(), new_lines.size(), LineChange::Added);
    return changes;
  }
  CommonEnds ends = common_ends(old_lines, new_lines);
  uint64_t middle_lines = old_lines.size() + new_lines.size() - 2 * (ends.leading + ends.trailing);
  if (middle_lines > most_bytes / NUMBERED_LINE_BYTES) return std::nullopt;
  Middle middle = middle_of(old_lines, new_lines, ends);
  auto marks = middle_marks(old_lines, middle, most_bytes - middle_lines * NUMBERED_LINE_BYTES);
  if (!marks) return std::nullopt;
  changes.reserve(middle.leading + middle.old_ids.size() + middle.new_ids.size() + middle.trailing);
  changes.assign(middle.leading, LineChange::Same);
  append_changes(*marks, changes);
  changes.insert(changes.end(), middle.trailing, LineChange::Same);
  return changes;
}

}  // namespace brackwen
