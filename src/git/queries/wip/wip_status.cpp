// git status --porcelain -uall -z: one entry is "XY path\0", and for a rename or copy
// "XY new\0old\0". With -z git neither quotes nor escapes paths, so a path is every byte up
// to its NUL, blanks, tabs and line feeds included.
#include "git/queries/wip/wip_status.hpp"

#include <algorithm>

#include "git/queries/patches/patch_parsers.hpp"
#include "git/queries/wip/wip_diff.hpp"
#include "git/run_git.hpp"
#include "parser/input.hpp"
#include "parser/lower_case.hpp"

namespace brackwen {
namespace {

struct StatusEntry {
  WipPatchType staged;
  WipPatchType unstaged;
  std::string path;
  std::optional<std::string> source;  // the old path of a rename or copy
};

std::string until_nul(Input& in) {
  size_t start = in.position;
  size_t nul = in.text.find('\0', start);
  size_t end = nul == std::string_view::npos ? in.text.size() : nul;
  in.advance_to(nul == std::string_view::npos ? end : nul + 1);
  return in.slice(start, end);
}

bool names_source(WipPatchType letter) {
  return letter == WipPatchType::R || letter == WipPatchType::C;
}

std::optional<StatusEntry> status_entry(Input& in) {
  return sequence(in, [](Input& in) -> std::optional<StatusEntry> {
    auto staged = wip_status_letter(in);
    if (!staged) return std::nullopt;
    auto unstaged = wip_status_letter(in);
    if (!unstaged || !literal(in, " ")) return std::nullopt;
    StatusEntry entry{*staged, *unstaged, until_nul(in), std::nullopt};
    if (names_source(*staged) || names_source(*unstaged)) entry.source = until_nul(in);
    return entry;
  });
}

std::optional<std::vector<StatusEntry>> status_entries(Input& in) {
  return many(in, status_entry);
}

WipPatchType summary_type(WipPatchType staged, WipPatchType unstaged) {
  if (unstaged == WipPatchType::Question) return WipPatchType::A;
  if (unstaged != WipPatchType::Unchanged) return unstaged;
  return staged == WipPatchType::Question ? WipPatchType::A : staged;
}

bool is_conflict(WipPatchType staged, WipPatchType unstaged) {
  return staged == WipPatchType::U || unstaged == WipPatchType::U ||
         (staged == WipPatchType::A && unstaged == WipPatchType::A) ||
         (staged == WipPatchType::D && unstaged == WipPatchType::D);
}

char type_letter(WipPatchType type) {
  constexpr const char letters[] = "? ACDMRU";  // WipPatchType's declaration order
  return letters[static_cast<int>(type)];
}

WipPatch wip_patch(StatusEntry entry) {
  WipPatch patch;
  patch.old_file = entry.source ? std::move(*entry.source) : entry.path;
  patch.new_file = std::move(entry.path);
  patch.staged_type = entry.staged;
  patch.un_staged_type = entry.unstaged;
  patch.patch_type = summary_type(entry.staged, entry.unstaged);
  patch.conflicted = is_conflict(entry.staged, entry.unstaged);
  patch.id = patch.new_file + type_letter(patch.patch_type);
  patch.is_image = is_image(patch.new_file);
  return patch;
}

std::vector<WipPatch> sorted_by_lower_case_name(std::vector<WipPatch> patches) {
  std::vector<std::pair<std::string, size_t>> keys;
  keys.reserve(patches.size());
  for (size_t i = 0; i < patches.size(); ++i) {
    keys.emplace_back(to_lower_unicode(patches[i].new_file), i);
  }
  // Pairs compare by name, then by git's position: a stable order without stable_sort.
  std::sort(keys.begin(), keys.end());
  std::vector<WipPatch> out;
  out.reserve(patches.size());
  for (const auto& key : keys) out.push_back(std::move(patches[key.second]));
  return out;
}

}  // namespace

std::optional<std::vector<WipPatch>> wip_patches_from_status(std::string_view status) {
  if (status.empty()) return std::nullopt;
  auto entries = parse_all(status, status_entries);
  if (!entries) return std::nullopt;
  std::vector<WipPatch> patches;
  patches.reserve(entries->size());
  for (auto& entry : *entries) patches.push_back(wip_patch(std::move(entry)));
  if (std::any_of(patches.begin(), patches.end(), [](const auto& p) { return p.conflicted; })) {
    std::erase_if(patches, [](const WipPatch& p) { return !p.conflicted; });
  } else {
    patches = sorted_by_lower_case_name(std::move(patches));
  }
  return patches;
}

std::optional<std::vector<WipPatch>> load_wip_patches(const std::string& repo_path) {
  auto status = run_git(repo_path, {"status", "--porcelain", "-uall", "-z"});
  if (!status) return std::nullopt;
  return wip_patches_from_status(*status);
}

}  // namespace brackwen
