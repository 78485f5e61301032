// A process's resident memory as Linux reports it in /proc, and the reset of its peak.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace brackwen::bench {

// A "kB" field of /proc/<pid>/status (VmRSS, VmHWM, ...) in bytes; absent when unreadable.
std::optional<uint64_t> status_bytes(pid_t pid, std::string_view field);

inline std::optional<uint64_t> resident_bytes(pid_t pid) {
  return status_bytes(pid, "VmRSS");
}
inline std::optional<uint64_t> peak_resident_bytes(pid_t pid) {
  return status_bytes(pid, "VmHWM");
}

// Sets the peak (VmHWM) back to the current resident size, so that a later reading is the
// peak of what ran in between. False when the kernel refused.
bool reset_peak_resident(pid_t pid);

}  // namespace brackwen::bench
