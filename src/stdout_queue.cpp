// Diagnostic lines for standard output that must never hold up the thread that has them.
#include "stdout_queue.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "diagnostics.hpp"

namespace brackwen {
namespace {

constexpr size_t MAX_WAITING_BYTES = 1 << 20;

struct LineQueue {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> lines;
  size_t waiting_bytes = 0;
  bool writing = false;
};

void write_lines(LineQueue& queue) {
  std::unique_lock lock(queue.mutex);
  for (;;) {
    queue.changed.wait(lock, [&] { return !queue.lines.empty(); });
    std::string line = std::move(queue.lines.front());
    queue.lines.pop_front();
    queue.writing = true;
    lock.unlock();
    write_stdout(line);
    lock.lock();
    queue.waiting_bytes -= line.size();
    queue.writing = false;
    queue.changed.notify_all();
  }
}

LineQueue& line_queue() {
  static LineQueue* queue = [] {
    // Never destroyed: the detached writer may still be blocked on the pipe at exit.
    auto* q = new LineQueue;
    std::thread([q] {
      try {
        write_lines(*q);
      } catch (...) {
      }
    }).detach();
    return q;
  }();
  return *queue;
}

}  // namespace

void queue_stdout_line(std::string line) {
  LineQueue& queue = line_queue();
  std::lock_guard lock(queue.mutex);
  if (queue.waiting_bytes + line.size() > MAX_WAITING_BYTES) return;
  queue.waiting_bytes += line.size();
  queue.lines.push_back(std::move(line));
  queue.changed.notify_all();
}

void flush_stdout_queue(std::chrono::milliseconds limit) {
  LineQueue& queue = line_queue();
  std::unique_lock lock(queue.mutex);
  queue.changed.wait_for(lock, limit, [&] { return queue.lines.empty() && !queue.writing; });
}

}  // namespace brackwen
