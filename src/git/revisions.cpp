// The one guard between revision texts and git's command line.
#include "git/revisions.hpp"

#include <algorithm>
#include <array>

#include "git/git_version.hpp"

namespace brackwen {
namespace {

constexpr std::string_view END_OF_OPTIONS = "--end-of-options";
constexpr GitVersion FIRST_WITH_END_OF_OPTIONS = {2, 24, 0};

// Every id and parent of a long history is checked: a table lookup per character.
constexpr std::array<bool, 256> LOWER_HEX = [] {
  std::array<bool, 256> table{};
  for (char c : std::string_view("0123456789abcdef")) table[static_cast<unsigned char>(c)] = true;
  return table;
}();

bool usable_revision(std::string_view revision) {
  return !revision.empty() && !reads_as_option(revision);
}

// An older git would take "--end-of-options" for a revision; there the refusal of texts
// beginning with "-" stands alone.
bool knows_end_of_options() {
  return git_is_at_least(FIRST_WITH_END_OF_OPTIONS);
}

}  // namespace

bool is_object_id(std::string_view text) {
  if (text.size() != 40 && text.size() != 64) return false;
  unsigned char bad = 0;
  for (char c : text) bad |= !LOWER_HEX[static_cast<unsigned char>(c)];
  return bad == 0;
}

bool reads_as_option(std::string_view text) {
  return text.starts_with('-');
}

std::optional<std::string> revision_range(std::string_view from, std::string_view dots,
                                          std::string_view to) {
  if (!usable_revision(from) || !usable_revision(to)) return std::nullopt;
  std::string range(from);
  range += dots;
  range += to;
  return range;
}

std::optional<GitArgs> revision_args(GitArgs options, const std::vector<std::string>& revisions,
                                     const std::optional<Paths>& paths,
                                     EndOfOptions end_of_options) {
  if (!std::all_of(revisions.begin(), revisions.end(), usable_revision)) return std::nullopt;
  GitArgs args = std::move(options);
  if (end_of_options == EndOfOptions::Taken && knows_end_of_options()) {
    args.emplace_back(END_OF_OPTIONS);
  }
  args.insert(args.end(), revisions.begin(), revisions.end());
  if (!paths) return args;
  args.emplace_back("--");
  args.insert(args.end(), paths->begin(), paths->end());
  return args;
}

std::string literal_pathspec(std::string_view path) {
  return ":(literal)" + std::string(path);
}

}  // namespace brackwen
