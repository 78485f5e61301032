// Readings of /proc/<pid>/status and the peak reset through /proc/<pid>/clear_refs.
#include "bench/support/proc_memory.hpp"

#include <fstream>
#include <string>

namespace brackwen::bench {

std::optional<uint64_t> status_bytes(pid_t pid, std::string_view field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.size() > field.size() && line.starts_with(field) && line[field.size()] == ':') {
      return std::stoull(line.substr(field.size() + 1)) * 1024;
    }
  }
  return std::nullopt;
}

bool reset_peak_resident(pid_t pid) {
  // 5 clears the peak resident size alone (see proc(5), clear_refs).
  std::ofstream out("/proc/" + std::to_string(pid) + "/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

}  // namespace brackwen::bench
