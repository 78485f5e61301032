// A branch, tag or stash as the commit grammar reads it from a decoration.
#pragma once
#include <optional>
#include <string>

namespace brackwen {

enum class RefLocation { Local, Remote };
enum class RefType { Branch, Tag, Stash };

struct RefInfo {
  std::string id;
  RefLocation location = RefLocation::Local;
  std::string full_name;
  std::string short_name;
  std::optional<std::string> remote_name;
  std::optional<std::string> sibling_id;
  RefType ref_type = RefType::Branch;
  bool head = false;
  std::string commit_id;
  float time = 0;
  bool operator==(const RefInfo&) const = default;
};

}  // namespace brackwen
