// The grammar of git's "--name-status -z" output, whole commit records of it, and the image
// test of a changed file.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/patch.hpp"
#include "parser/input.hpp"

namespace brackwen {

// One changed file before its commit is known.
struct NameStatusEntry {
  std::string old_file;
  std::string new_file;
  std::string id;  // the new path, "-", the letter, and the score of a rename or copy
  PatchType patch_type = PatchType::M;
  bool operator==(const NameStatusEntry&) const = default;
};

// The entries that begin at `position`; never fails. A letter it does not know ends the list.
std::optional<std::vector<NameStatusEntry>> parse_name_status(Input& in);

Patch patch_from_entry(NameStatusEntry entry, const std::string& commit_id);

using CommitPatches = std::pair<std::string, std::vector<Patch>>;

// Records of "--pretty=format:%H," with "--name-status -z": each commit id with its files.
std::optional<std::vector<CommitPatches>> patch_list(std::string_view text);

// By the extension of the fully lower-cased name.
bool is_image(std::string_view file_name);

}  // namespace brackwen
