// Name-status entries and commit records of "-z" output. With "-z" git writes every path
// verbatim and ends it with NUL, so only NUL ends a path: tabs, line ends, leading blanks and
// other control characters are part of the name.
#include "git/queries/patches/patch_parsers.hpp"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <array>
#include <cstring>

#include "git/revisions.hpp"
#include "parser/standard_parsers.hpp"

namespace brackwen {
namespace {

constexpr std::string_view SINGLE_PATH_LETTERS = "ABCDMTUX";

constexpr std::array<std::string_view, 10> IMAGE_EXTENSIONS = {
    ".apng", ".bmp", ".gif", ".ico", ".cur", ".jpg", ".jpeg", ".png", ".svg", ".webp"};

// The text up to the next NUL, which is consumed; the rest of the input when none follows.
std::string_view until_nul(Input& in) {
  size_t start = in.position;
  const char* begin = in.text.data() + start;
  auto* nul = static_cast<const char*>(std::memchr(begin, '\0', in.text.size() - start));
  size_t end = nul ? start + static_cast<size_t>(nul - begin) : in.text.size();
  in.advance_to(nul ? end + 1 : end);
  return in.text.substr(start, end - start);
}

PatchType type_of_letter(char letter) {
  switch (letter) {
    case 'A':
      return PatchType::A;
    case 'B':
      return PatchType::B;
    case 'C':
      return PatchType::C;
    case 'D':
      return PatchType::D;
    case 'R':
      return PatchType::R;
    case 'T':
      return PatchType::T;
    case 'U':
      return PatchType::U;
    case 'X':
      return PatchType::X;
    default:
      return PatchType::M;
  }
}

char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool ends_with_lowered(std::string_view name, std::string_view lower_suffix) {
  if (name.size() < lower_suffix.size()) return false;
  name.remove_prefix(name.size() - lower_suffix.size());
  for (size_t i = 0; i < name.size(); ++i) {
    if (ascii_lower(name[i]) != lower_suffix[i]) return false;
  }
  return true;
}

// "R" or "C", a score, then the old and the new path.
std::optional<NameStatusEntry> two_path_entry(Input& in, std::string_view letter) {
  return sequence(in, [&](Input& in) -> std::optional<NameStatusEntry> {
    if (!literal(in, letter)) return std::nullopt;
    auto score = numeric_word(in);
    if (!score) return std::nullopt;
    until_nul(in);
    NameStatusEntry entry;
    entry.old_file = until_nul(in);
    entry.new_file = until_nul(in);
    entry.id = entry.new_file + "-" + std::string(letter) + *score;
    entry.patch_type = type_of_letter(letter[0]);
    return entry;
  });
}

std::optional<NameStatusEntry> one_path_entry(Input& in) {
  if (in.at_end()) return std::nullopt;
  char letter = in.text[in.position];
  if (SINGLE_PATH_LETTERS.find(letter) == std::string_view::npos) return std::nullopt;
  in.advance();
  until_nul(in);
  NameStatusEntry entry;
  entry.new_file = until_nul(in);
  entry.old_file = entry.new_file;
  entry.id = entry.new_file + "-" + letter;
  entry.patch_type = type_of_letter(letter);
  return entry;
}

std::optional<NameStatusEntry> name_status_entry(Input& in) {
  return choice(
      in, [](Input& in) { return two_path_entry(in, "R"); },
      [](Input& in) { return two_path_entry(in, "C"); }, one_path_entry);
}

}  // namespace

std::optional<std::vector<NameStatusEntry>> parse_name_status(Input& in) {
  return many(in, name_status_entry);
}

Patch patch_from_entry(NameStatusEntry entry, const std::string& commit_id) {
  Patch patch;
  patch.commit_id = commit_id;
  patch.is_image = is_image(entry.new_file);
  patch.old_file = std::move(entry.old_file);
  patch.new_file = std::move(entry.new_file);
  patch.patch_type = entry.patch_type;
  patch.id = std::move(entry.id);
  return patch;
}

std::optional<std::vector<CommitPatches>> patch_list(std::string_view text) {
  return parse_all(text, [](Input& in) -> std::optional<std::vector<CommitPatches>> {
    std::vector<CommitPatches> records;
    while (!in.at_end()) {
      size_t start = in.position;
      size_t comma = in.text.find(',', start);
      size_t id_end = comma == std::string_view::npos ? in.text.size() : comma;
      if (!is_object_id(in.text.substr(start, id_end - start))) break;
      in.advance_to(comma == std::string_view::npos ? id_end : id_end + 1);
      CommitPatches record{in.slice(start, id_end), {}};
      optional_whitespace(in);
      auto entries = parse_name_status(in);
      for (NameStatusEntry& entry : *entries) {
        record.second.push_back(patch_from_entry(std::move(entry), record.first));
      }
      until_nul(in);
      records.push_back(std::move(record));
    }
    return records;
  });
}

bool is_image(std::string_view file_name) {
  bool ascii = true;
  for (char c : file_name) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  std::string lowered;
  if (!ascii) {
    // Full lower-casing can change lengths and turn non-ASCII letters into ASCII ones.
    icu::UnicodeString::fromUTF8(icu::StringPiece(file_name.data(), file_name.size()))
        .toLower(icu::Locale::getRoot())
        .toUTF8String(lowered);
    file_name = lowered;
  }
  for (std::string_view extension : IMAGE_EXTENSIONS) {
    if (ends_with_lowered(file_name, extension)) return true;
  }
  return false;
}

}  // namespace brackwen
