// The installed git's version.
#pragma once
#include <cstdint>

namespace brackwen {

struct GitVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t patch = 0;
  bool operator==(const GitVersion&) const = default;
};

}  // namespace brackwen
