// The hand-over between the HTTP library's connection threads and the single request loop.
//
// The library reads every connection on a thread of its own, so one client's idle keep-alive
// connection never stalls another's. Each complete request is queued here; the loop answers
// them one at a time in arrival order, and waits until a reply has left before it takes the
// next request.
#pragma once
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>

#include "server/reply.hpp"
#include "server/router.hpp"

namespace brackwen {

struct Job {
  IncomingRequest request;
  std::promise<std::optional<Reply>> reply;  // set by the loop; nothing means drop
  std::future<void> delivered;               // ready once the library is done with the reply
};

struct RequestQueue {
  // False once the queue is closed; the caller then drops the request itself.
  bool push(std::shared_ptr<Job> job);
  // The next job in arrival order; nothing once the queue is closed and empty.
  std::shared_ptr<Job> pop();
  void close();

 private:
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<std::shared_ptr<Job>> jobs;
  bool closed = false;
};

}  // namespace brackwen
