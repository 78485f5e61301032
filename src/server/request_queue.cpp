// The hand-over between the HTTP connections and the single request loop.
#include "server/request_queue.hpp"

namespace brackwen {

bool RequestQueue::push(std::shared_ptr<Job> job) {
  {
    std::lock_guard lock(mutex);
    if (closed) return false;
    jobs.push_back(std::move(job));
  }
  arrived.notify_one();
  return true;
}

std::shared_ptr<Job> RequestQueue::pop() {
  std::unique_lock lock(mutex);
  arrived.wait(lock, [&] { return closed || !jobs.empty(); });
  if (jobs.empty()) return nullptr;
  std::shared_ptr<Job> job = std::move(jobs.front());
  jobs.pop_front();
  return job;
}

void RequestQueue::close() {
  {
    std::lock_guard lock(mutex);
    closed = true;
  }
  arrived.notify_all();
}

}  // namespace brackwen
