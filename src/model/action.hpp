// What a long-running git action has produced so far.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brackwen {

using ActionId = uint32_t;

struct ActionError {
  enum class Kind { Credential, Git, IO };
  Kind kind = Kind::Git;
  std::string message;  // only for IO
  bool operator==(const ActionError&) const = default;
};

struct ActionState {
  std::vector<std::string> stdout_lines;
  std::vector<std::string> stderr_lines;
  bool done = false;
  std::optional<ActionError> error;
  bool operator==(const ActionState&) const = default;
};

}  // namespace brackwen
