// The memory budget of a read, from the machine's physical memory.
#include "git/reading/read_budget.hpp"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <string>

#include "parser/diagnostics.hpp"
#include "stores/environment.hpp"

namespace brackwen {
namespace {

constexpr const char* BUDGET_VARIABLE = "BRACKWEN_READ_BUDGET_MIB";
constexpr uint64_t MOST_MIB = uint64_t{1} << 40;

// The budget the environment sets: absent unless a whole number of mebibytes, at least one.
std::optional<uint64_t> budget_from_environment() {
  std::optional<std::string> text = get_environment(BUDGET_VARIABLE);
  if (!text) return std::nullopt;
  uint64_t mib = 0;
  auto read = std::from_chars(text->data(), text->data() + text->size(), mib);
  if (read.ec != std::errc() || read.ptr != text->data() + text->size()) return std::nullopt;
  if (mib == 0 || mib > MOST_MIB) return std::nullopt;
  return mib << 20;
}

}  // namespace

uint64_t read_memory_budget() {
  static const uint64_t budget = [] {
    if (std::optional<uint64_t> set = budget_from_environment()) return *set;
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
