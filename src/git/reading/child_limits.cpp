// Reading /proc for the limits of a child: its process group's activity and its data size.
#include "git/reading/child_limits.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "git/reading/orphans.hpp"

namespace brackwen {
namespace {

using Clock = std::chrono::steady_clock;

// The first read of a file of /proc: a stat line, a status or io table or a short list whole.
constexpr size_t FIRST_READ = 4096;
// A process that started more children than this lists is not followed further.
constexpr size_t CHILDREN_READ_LIMIT = size_t{1} << 20;
// A run's processes summed by one sample of the memory rule, at most: a sample stays cheap
// whatever a run forks.
constexpr size_t MOST_PROCESSES_SAMPLED = 4096;
constexpr size_t FIRST_MAPPING_READ = 256;

// One read (EINTR retried): the byte count, 0 at the end, -1 on an error.
ssize_t read_once(int fd, char* buffer, size_t size) {
  while (true) {
    ssize_t n = ::read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

// The unsigned number `text` starts with, as /proc writes its counters.
std::optional<uint64_t> leading_number(std::string_view text) {
  uint64_t value = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc()) return std::nullopt;
  return value;
}

// The number after `key` in a table of /proc (io, status).
std::optional<uint64_t> number_after(std::string_view table, std::string_view key) {
  size_t at = table.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  table.remove_prefix(at + key.size());
  table.remove_prefix(std::min(table.size(), table.find_first_not_of(" \t")));
  return leading_number(table);
}

// Fields of a /proc/<pid>/stat line, counted from the one after the command name (state,
// ppid, pgrp, ...): utime, stime, cutime and cstime follow one another.
constexpr size_t STAT_PGRP = 2;
constexpr size_t STAT_UTIME = 11;
constexpr size_t STAT_FIELDS = STAT_UTIME + 4;

// The fields after the command name, which may hold spaces and parentheses itself; fewer than
// STAT_FIELDS when the line is cut short.
std::vector<std::string_view> stat_fields(std::string_view stat) {
  std::vector<std::string_view> fields;
  size_t name_end = stat.rfind(')');
  if (name_end == std::string_view::npos) return fields;
  std::string_view rest = stat.substr(name_end + 1);
  while (fields.size() < STAT_FIELDS) {
    rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(' ')));
    if (rest.empty()) break;
    size_t end = std::min(rest.size(), rest.find(' '));
    fields.push_back(rest.substr(0, end));
    rest.remove_prefix(end);
  }
  return fields;
}

// Adds the process `pid` to `sum` when it belongs to `group`; one that is gone adds nothing.
void add_member(Activity& sum, std::string_view pid, pid_t group) {
  std::string base = "/proc/" + std::string(pid);
  std::string stat = read_proc_file(base + "/stat");
  std::vector<std::string_view> fields = stat_fields(stat);
  if (fields.size() < STAT_FIELDS) return;
  if (leading_number(fields[STAT_PGRP]) != static_cast<uint64_t>(group)) return;
  for (size_t i = STAT_UTIME; i < STAT_FIELDS; ++i)
    sum.ticks += leading_number(fields[i]).value_or(0);
  // Another user's process (a setuid helper) keeps its io table closed: its CPU time counts.
  std::string io = read_proc_file(base + "/io");
  sum.bytes += number_after(io, "rchar:").value_or(0) + number_after(io, "wchar:").value_or(0);
}

// Absent when /proc cannot be listed: nothing is then known to have stopped.
std::optional<Activity> group_activity(pid_t group) {
  std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
  if (!proc) return std::nullopt;
  Activity sum;
  while (const dirent* entry = ::readdir(proc.get())) {
    if (std::isdigit(static_cast<unsigned char>(entry->d_name[0])))
      add_member(sum, entry->d_name, group);
  }
  return sum;
}

// The start of the first line of a maps table of /proc: the lowest mapping of an address space,
// which tells one program's from another's. The kernel writes the table a line at a time as it
// is read, so that reading little costs little.
std::string first_mapping(const std::string& path) {
  std::string maps = read_proc_file(path, FIRST_MAPPING_READ);
  return maps.substr(0, maps.find('\n'));
}

// The data size of the process whose /proc directory is `proc`, as RLIMIT_DATA counts it
// (VmData, in bytes; none shown by one that has ended); absent when it is gone.
std::optional<uint64_t> data_size(const std::string& proc) {
  std::string status = read_proc_file(proc + "/status");
  if (status.empty()) return std::nullopt;
  return number_after(status, "VmData:").value_or(0) * 1024;
}

// Adds the data size of `root` and of every process below it to `sum`, at most `left` processes
// in all: each thread of a process has its own list of the children it started.
void add_tree_data(pid_t root, uint64_t& sum, size_t& left) {
  std::vector<pid_t> open{root};
  while (!open.empty() && left > 0) {
    --left;
    std::string base = "/proc/" + std::to_string(open.back());
    open.pop_back();
    sum += data_size(base).value_or(0);
    std::unique_ptr<DIR, int (*)(DIR*)> tasks(::opendir((base + "/task").c_str()), ::closedir);
    while (const dirent* task = tasks ? ::readdir(tasks.get()) : nullptr) {
      if (!std::isdigit(static_cast<unsigned char>(task->d_name[0]))) continue;
      for (pid_t child : listed_children(base + "/task/" + task->d_name + "/children"))
        open.push_back(child);
    }
  }
}

}  // namespace

std::string read_proc_file(const std::string& path, size_t most) {
  std::string text;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  // A read of /proc that returns less than it was asked for has reached the end.
  for (size_t chunk = std::min(most, FIRST_READ); chunk > 0;) {
    size_t at = text.size();
    text.resize(at + chunk);
    ssize_t n = read_once(fd, text.data() + at, chunk);
    text.resize(at + static_cast<size_t>(std::max<ssize_t>(n, 0)));
    if (n < static_cast<ssize_t>(chunk)) break;
    chunk = std::min(most - text.size(), text.size());
  }
  ::close(fd);
  return text;
}

std::vector<pid_t> listed_children(const std::string& path) {
  std::string text = read_proc_file(path, CHILDREN_READ_LIMIT);
  std::vector<pid_t> pids;
  const char* at = text.data();
  const char* end = text.data() + text.size();
  while (at < end) {
    pid_t pid = 0;
    auto parsed = std::from_chars(at, end, pid);
    if (parsed.ec == std::errc() && pid > 0) pids.push_back(pid);
    at = parsed.ptr == at ? at + 1 : parsed.ptr;
  }
  return pids;
}

void heard_from(StallWatch& watch) {
  if (watch.limit == Clock::duration::zero()) return;
  watch.quiet_since = Clock::now();
  watch.next_sample = watch.quiet_since + watch.limit / SAMPLES_PER_STALL_LIMIT;
  watch.sampled = false;
}

Clock::duration until_sample(const StallWatch& watch) {
  if (watch.limit == Clock::duration::zero()) return Clock::duration::max();
  return std::max(watch.next_sample - Clock::now(), Clock::duration::zero());
}

bool stalled(StallWatch& watch) {
  if (watch.limit == Clock::duration::zero()) return false;
  Clock::time_point now = Clock::now();
  if (now < watch.next_sample) return false;
  std::optional<Activity> seen = group_activity(watch.group);
  if (!seen || !watch.sampled || *seen != watch.last) watch.quiet_since = now;
  watch.sampled = seen.has_value();
  watch.last = seen.value_or(Activity{});
  watch.next_sample = now + watch.limit / SAMPLES_PER_STALL_LIMIT;
  return now - watch.quiet_since >= watch.limit;
}

// Holds the child to its data limit (12.) from now on: false when the limit cannot be set or
// the child already holds more. posix_spawn returns as soon as the child starts replacing its
// memory, which it shared with this process, and the new program's own mappings may be under
// way. Reading the child's maps waits for both: the exchange of memories holds a lock that the
// read takes, and a mapping that passed the check before the limit was set, but is not counted
// yet, holds the memory's own lock. A child whose maps are still this process's has mapped
// nothing of its own: all of that comes under the limit. An ended child (a zombie) shows no
// VmData and holds nothing.
bool limit_data(pid_t pid, uint64_t bytes) {
  if (bytes == 0) return true;
  rlimit limit{bytes, bytes};
  if (::prlimit(pid, RLIMIT_DATA, &limit, nullptr) != 0) return false;
  static const std::string own = first_mapping("/proc/self/maps");
  std::string proc = "/proc/" + std::to_string(pid);
  if (first_mapping(proc + "/maps") == own) return true;
  std::optional<uint64_t> held = data_size(proc);
  return held && *held <= bytes;
}

Clock::duration until_memory_sample(const MemoryWatch& watch) {
  if (watch.budget == 0) return Clock::duration::max();
  return std::max(watch.next_sample - Clock::now(), Clock::duration::zero());
}

RoomVerdict over_budget(MemoryWatch& watch) {
  if (watch.budget == 0) return RoomVerdict::Fits;
  Clock::time_point now = Clock::now();
  if (now < watch.next_sample) return RoomVerdict::Fits;
  watch.next_sample = now + MEMORY_SAMPLE_INTERVAL;
  uint64_t sum = 0;
  size_t left = MOST_PROCESSES_SAMPLED;
  add_tree_data(watch.leader, sum, left);
  for (pid_t adopted : adopted_of(watch.run, watch.leader)) add_tree_data(adopted, sum, left);
  if (watch.place) return note_data(*watch.place, watch.leader, sum, watch.budget);
  return sum > watch.budget ? RoomVerdict::OutOfMemory : RoomVerdict::Fits;
}

MemoryWatch::~MemoryWatch() {
  if (place) end_start(*place);
}

}  // namespace brackwen
