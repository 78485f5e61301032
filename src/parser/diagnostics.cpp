// The line queues of standard output and standard error, each drained by a thread of its own
// so that a pipe nobody reads holds up only its own lines.
#include "parser/diagnostics.hpp"

#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string_view>
#include <thread>

namespace brackwen {
namespace {

constexpr size_t MAX_WAITING_BYTES = 1 << 20;

struct LineQueue {
  int fd = -1;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> lines;
  size_t waiting_bytes = 0;
  bool writing = false;
};

// A short write to a pipe is continued; a closed pipe loses the line, never the process.
void write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<size_t>(n));
  }
}

// Nothing in it throws (moving a string, a deque's pop, the lock), so the writer never ends.
void write_lines(LineQueue& queue) noexcept {
  std::unique_lock lock(queue.mutex);
  for (;;) {
    queue.changed.wait(lock, [&] { return !queue.lines.empty(); });
    std::string line = std::move(queue.lines.front());
    queue.lines.pop_front();
    queue.writing = true;
    lock.unlock();
    write_all(queue.fd, line);
    lock.lock();
    queue.waiting_bytes -= line.size();
    queue.writing = false;
    queue.changed.notify_all();
  }
}

LineQueue* start_queue(int fd) {
  // Never destroyed: the detached writer may still be blocked on the pipe at exit.
  auto* queue = new LineQueue;
  queue->fd = fd;
  std::thread([queue] { write_lines(*queue); }).detach();
  return queue;
}

LineQueue& stdout_queue() {
  static LineQueue* queue = start_queue(STDOUT_FILENO);
  return *queue;
}

LineQueue& stderr_queue() {
  static LineQueue* queue = start_queue(STDERR_FILENO);
  return *queue;
}

void queue_line(LineQueue& queue, std::string line) {
  std::lock_guard lock(queue.mutex);
  // Bounded by waiting bytes rather than line size, so that one report larger than the bound
  // (git's whole output) still reaches a front end that reads.
  if (queue.waiting_bytes > MAX_WAITING_BYTES) return;
  queue.waiting_bytes += line.size();
  queue.lines.push_back(std::move(line));
  queue.changed.notify_all();
}

void wait_until_written(LineQueue& queue, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(queue.mutex);
  queue.changed.wait_until(lock, deadline, [&] { return queue.lines.empty() && !queue.writing; });
}

}  // namespace

void write_stdout(std::string text) {
  queue_line(stdout_queue(), std::move(text));
}

void write_stderr(std::string text) {
  queue_line(stderr_queue(), std::move(text));
}

void flush_diagnostics(std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  wait_until_written(stdout_queue(), deadline);
  wait_until_written(stderr_queue(), deadline);
}

}  // namespace brackwen
