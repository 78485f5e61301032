// The hand-over between the HTTP connections and the single request loop.
//
// Connections are read asynchronously, so one client's idle or slow connection never stalls
// another's. Each complete request is queued here; the loop answers them one at a time in
// arrival order and hands each reply back to its connection without waiting for it to be
// sent, so a client that reads slowly holds up nobody but itself.
#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>

#include "server/reply.hpp"
#include "server/router.hpp"

namespace brackwen {

struct Job {
  IncomingRequest request;
  // Hands the reply (nothing: drop the request) to its connection; returns at once.
  std::function<void(std::optional<Reply>)> deliver;
  std::shared_future<void> written;  // ready once the connection is done with the reply
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
