// What a child may take before it is stopped, as the kernel tells it in /proc: whether its
// process group still does anything (the stall limit, 11. of the process protocol), and the
// data its processes hold (12.).
#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "git/reading/request_budget.hpp"

namespace brackwen {

// A silent child's group is sampled this many times per stall limit: often enough that a
// stall ends soon after the limit, rarely enough that a long silent run costs nothing.
inline constexpr int SAMPLES_PER_STALL_LIMIT = 10;

// How often the memory rule sums the data of a run's processes, silent or not: a sample of one
// git costs some 50 microseconds, and a run this short is never sampled at all.
inline constexpr std::chrono::milliseconds MEMORY_SAMPLE_INTERVAL{50};

// What a process group has done so far: CPU clock ticks of its processes and of the children
// they reaped, and the bytes they read or wrote.
struct Activity {
  uint64_t ticks = 0;
  uint64_t bytes = 0;
  bool operator==(const Activity&) const = default;
};

// The stall limit (11.) of one child: when it was last heard from, and its group's activity at
// the last sample of this silence.
struct StallWatch {
  std::chrono::steady_clock::duration limit;  // zero: no limit
  pid_t group;
  std::chrono::steady_clock::time_point quiet_since = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point next_sample = quiet_since + limit / SAMPLES_PER_STALL_LIMIT;
  bool sampled = false;  // in this silence
  Activity last{};
};

// Output, or input taken: a new silence starts, with no sample yet.
void heard_from(StallWatch& watch);

// How long a wait may last before the next sample is due.
std::chrono::steady_clock::duration until_sample(const StallWatch& watch);

// Samples the group when a sample is due: true once it has done nothing for the limit.
bool stalled(StallWatch& watch);

// The memory rule (12.) of one start of a run: the data of its processes, summed (the child,
// every process below it, and the adopted ones that carry the run's mark, orphans.hpp), and with
// a place among a request's runs, held against what the request's other runs under way hold.
// The start is over for its request when the watch goes.
struct MemoryWatch {
  uint64_t budget;  // zero: no limit
  pid_t leader;
  uint64_t run;
  RunPlace* place = nullptr;  // none: the run alone
  std::chrono::steady_clock::time_point next_sample =
      std::chrono::steady_clock::now() + MEMORY_SAMPLE_INTERVAL;
  ~MemoryWatch();
};

// How long a wait may last before the next sample is due.
std::chrono::steady_clock::duration until_memory_sample(const MemoryWatch& watch);

// Samples the run's processes when a sample is due, counted as RLIMIT_DATA counts them (VmData:
// private writable mappings, touched or not), and gives the verdict on the start (note_data):
// out of memory once they alone pass the budget, or ended for room when the request's runs
// together pass it. A verdict another run's sample gave is seen at the next sample.
RoomVerdict over_budget(MemoryWatch& watch);

// Holds the child to its data limit from now on: false when the limit cannot be set or the
// child already holds more.
bool limit_data(pid_t pid, uint64_t bytes);

// A file of /proc whole, up to `most` bytes; empty when it is gone.
std::string read_proc_file(const std::string& path, size_t most = 4096);

// The pids a thread's "children" file of /proc lists; none when it is gone.
std::vector<pid_t> listed_children(const std::string& path);

}  // namespace brackwen
