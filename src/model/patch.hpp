// Changed files of a commit and of the working copy.
#pragma once
#include <string>
#include <unordered_map>
#include <vector>

namespace brackwen {

// Declaration order matters: it is the order of the JSON variant table.
enum class PatchType { A, C, B, D, M, R, T, U, X };

struct Patch {
  std::string commit_id;
  std::string old_file;
  std::string new_file;
  PatchType patch_type = PatchType::M;
  std::string id;
  bool is_image = false;
  bool operator==(const Patch&) const = default;
};

// Commit id -> the changed files of that commit, in git's order.
using PatchMap = std::unordered_map<std::string, std::vector<Patch>>;

// Question = untracked, Unchanged = " ".
enum class WipPatchType { Question, Unchanged, A, C, D, M, R, U };

struct WipPatch {
  std::string old_file;
  std::string new_file;
  WipPatchType patch_type = WipPatchType::M;
  WipPatchType staged_type = WipPatchType::Unchanged;
  WipPatchType un_staged_type = WipPatchType::Unchanged;
  bool conflicted = false;
  std::string id;
  bool is_image = false;
  bool operator==(const WipPatch&) const = default;
};

}  // namespace brackwen
