// One request's budget, shared by every reading git run made on its behalf: on the request
// loop's thread, in the parallel regions it enters and on the threads it starts for the request.
#pragma once
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace brackwen {

// Once the stall rule has ended one of a request's runs, the request is out of time: its other
// runs end and later ones are refused (13. of the process protocol). The data its runs hold at
// once is held to one budget (12.). Each limit that stops a run of the request is told in one
// line, the first time.
struct RequestBudget {
  std::atomic<bool> out_of_time{false};
  std::atomic<bool> told_time{false};
  std::atomic<bool> told_memory{false};
  // The data each run under way held at its last sample, by the pid of the run's child.
  std::mutex data_mutex;
  std::unordered_map<pid_t, uint64_t> run_data;
};

// Notes `bytes` as what the request's run whose child is `child` holds now (zero once it has
// ended) and returns what all the request's runs under way hold together.
uint64_t request_data(RequestBudget& request, pid_t child, uint64_t bytes);

// The budget of the request this thread works for; null outside any (start-up, and work that
// is not a request's).
std::shared_ptr<RequestBudget> current_request_budget();

// Makes `budget` this thread's for the scope's life, then puts back the one before: installed
// by the request loop for each request, by background work for its own, and carried into each
// task of a parallel region or thread that runs git for the request.
struct RequestBudgetScope {
  explicit RequestBudgetScope(std::shared_ptr<RequestBudget> budget);
  ~RequestBudgetScope();
  RequestBudgetScope(const RequestBudgetScope&) = delete;
  RequestBudgetScope& operator=(const RequestBudgetScope&) = delete;
  std::shared_ptr<RequestBudget> outer;
};

// Whether a line about `told` is still to be written: true once per request, and every time
// for a run made outside any request.
bool first_telling(RequestBudget* request, std::atomic<bool> RequestBudget::*told);

}  // namespace brackwen
