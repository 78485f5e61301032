// The conflicted-file reader: a small state machine over the file's lines.
#include "git/conflicts/api.hpp"

#include <algorithm>
#include <filesystem>

#include "git/file_io.hpp"
#include "git/queries/hunks/listed_path.hpp"
#include "git/queries/refs.hpp"
#include "git/reading/repository_location.hpp"
#include "git/reading/request_budget.hpp"
#include "parser/text.hpp"
#include "parser/utf8.hpp"

namespace brackwen {
namespace {

// As the front end shows a side, and so as the keys of the lines name it.
std::string_view side_name(ConflictSide side) {
  return side == ConflictSide::Left ? "Left" : "Right";
}

constexpr size_t MARKER_LENGTH = 7;

enum class LineKind { Start, Separator, End, Content };

LineKind classify(std::string_view line) {
  if (line.size() < MARKER_LENGTH) return LineKind::Content;
  std::string_view head = line.substr(0, MARKER_LENGTH);
  if (head == "<<<<<<<") return LineKind::Start;
  if (head == "=======") return LineKind::Separator;
  if (head == ">>>>>>>") return LineKind::End;
  return LineKind::Content;
}

struct Scan {
  ConflictFile file;
  uint64_t section = 0;
  ConflictSide side = ConflictSide::Left;
  bool in_conflict = false;
  // A file of millions of one-byte lines, all in one conflict, makes rows and cells of a
  // hundred bytes each on both sides.
  HeldBytes held{"Conflicted-file read"};

  // Runs `grow` on `list` and charges the room the list then takes more; false past the bound.
  template <class T, class F>
  bool charged(std::vector<T>& list, F&& grow) {
    size_t before = list.capacity();
    grow();
    return held.add((list.capacity() - before) * sizeof(T));
  }

  void start(std::string_view line) {
    side = ConflictSide::Left;
    in_conflict = true;
    if (file.ref_name_top.empty()) file.ref_name_top = parse_ref_id(line);
  }

  void end(std::string_view line) {
    if (file.ref_name_bottom.empty()) file.ref_name_bottom = parse_ref_id(line);
    if (file.sections.size() <= section) {
      // Both sides empty, or no conflict open: there is nothing to align, so the marker
      // closes the conflict without taking a section number.
      in_conflict = false;
      return;
    }
    ConflictSection& s = file.sections[section];
    size_t rows = std::max(s.left.size(), s.right.size());
    ConflictSideLine blank;
    blank.section = section;
    if (!charged(s.left, [&] { s.left.resize(rows, blank); }) ||
        !charged(s.right, [&] { s.right.resize(rows, blank); })) {
      return;
    }
    ConflictLine row;
    row.kind = ConflictLine::Kind::Slot;
    row.section = section;
    for (row.index = 0; row.index < rows; ++row.index) {
      if (!charged(file.lines, [&] { file.lines.push_back(row); })) return;
    }
    ++section;
    in_conflict = false;
  }

  void content(std::string_view line) {
    file.max_line_length = std::max<uint64_t>(file.max_line_length, line.size());
    if (!in_conflict) {
      charged(file.lines, [&] { file.lines.emplace_back().text = line; });
      held.add(heap_bytes(file.lines.back().text));
      return;
    }
    if (file.sections.size() <= section) {
      charged(file.sections, [&] { file.sections.emplace_back(); });
    }
    auto& cells =
        side == ConflictSide::Left ? file.sections[section].left : file.sections[section].right;
    std::string key = std::string(side_name(side)) + "-" + std::to_string(section) + "-" +
                      std::to_string(cells.size());
    uint64_t texts = heap_bytes(key);
    charged(cells, [&] {
      cells.push_back({.kind = ConflictSideLine::Kind::Conflict,
                       .text = std::string(line),
                       .side = side,
                       .section = section,
                       .key = std::move(key)});
    });
    held.add(texts + heap_bytes(cells.back().text));
  }
};

// The folder a relative `file` is joined to. It is named as git's listings name it, from the top
// of the work tree git uses; where git finds no work tree (no repository, or a bare one) there
// is no listing to match, and the folder asked for is the base. Absent where git's answer is not
// known: a run that could not start or that a limit stopped, or an answer that cannot be read.
std::optional<std::filesystem::path> joined_to(const std::string& repo_path) {
  LocationAnswer answer = locate_repository(GitPlace{repo_path, false});
  if (answer.location) return answer.location->work_tree_top.value_or(repo_path);
  if (answer.git_failed) return repo_path;
  return std::nullopt;
}

}  // namespace

std::optional<ConflictFile> read_conflicts(std::string_view text) {
  Scan scan;
  for_each_line(text, [&](std::string_view with_cr) {
    if (scan.held.too_much()) return;
    std::string_view line = without_cr(with_cr);
    switch (classify(line)) {
      case LineKind::Start:
        scan.start(line);
        break;
      case LineKind::Separator:
        scan.side = ConflictSide::Right;
        break;
      case LineKind::End:
        scan.end(line);
        break;
      case LineKind::Content:
        scan.content(line);
        break;
    }
  });
  if (scan.held.too_much()) return std::nullopt;
  // The rows are handed on to the reply: they stay charged to the request.
  scan.held.keep();
  return std::move(scan.file);
}

std::optional<ConflictFile> load_conflicted_file(std::string_view repo_path,
                                                 std::string_view new_file) {
  if (refuse_listed_path("Conflicted-file read", new_file)) return std::nullopt;
  std::filesystem::path file(new_file);
  std::optional<std::string> text;
  if (file.is_absolute()) {
    // The front end's own choice, which no listing of a repository gives: read as it stands,
    // links and all, with no git.
    text = read_regular_file(file);
  } else if (auto base = joined_to(std::string(repo_path))) {
    text = read_joined_file(*base, file);
  }
  if (!text || !is_valid_utf8(*text)) return std::nullopt;
  return read_conflicts(*text);
}

}  // namespace brackwen
