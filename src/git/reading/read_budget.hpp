// The memory one read may take, the same for every kind of read: git with all it starts, and
// the server's own work on what git printed (a working-copy line diff).
#pragma once
#include <cstdint>
#include <string_view>

namespace brackwen {

// The larger of 1 GiB and a quarter of the machine's physical memory: an honest diff of a
// file of millions of lines needs more than a gibibyte, and a quarter leaves the rest of the
// machine its own. BRACKWEN_READ_BUDGET_MIB in the process's environment, a whole number of
// mebibytes, stands in for it: tests fake a small machine with it, so that the diffs that
// fill its budget stay small and quick.
uint64_t read_memory_budget();

// The one line on standard error that tells a read was stopped for taking more than the
// budget: "<read> stopped: it needed more memory than a read may take (<N> MiB)". `read`
// holds nothing from a repository or a request, so that the line stays one.
void report_memory_budget(std::string_view read);

}  // namespace brackwen
