// The memory budget of a read, from the machine's physical memory.
#include "git/read_budget.hpp"

#include <unistd.h>

#include <algorithm>
#include <string>

#include "parser/diagnostics.hpp"

namespace brackwen {

uint64_t read_memory_budget() {
  static const uint64_t budget = [] {
    constexpr uint64_t LEAST = uint64_t{1} << 30;
    long pages = ::sysconf(_SC_PHYS_PAGES);
    long page_size = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return LEAST;
    return std::max(LEAST, static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size) / 4);
  }();
  return budget;
}

void report_memory_budget(std::string_view read) {
  write_stderr(std::string(read) + " stopped: it needed more memory than a read may take (" +
               std::to_string(read_memory_budget() >> 20) + " MiB)\n");
}

}  // namespace brackwen
