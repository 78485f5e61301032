// The budget of the request a thread works for.
#include "git/request_budget.hpp"

#include <utility>

namespace brackwen {
namespace {

thread_local std::shared_ptr<RequestBudget> CURRENT_REQUEST_BUDGET;

}  // namespace

std::shared_ptr<RequestBudget> current_request_budget() {
  return CURRENT_REQUEST_BUDGET;
}

RequestBudgetScope::RequestBudgetScope(std::shared_ptr<RequestBudget> budget)
    : outer(std::exchange(CURRENT_REQUEST_BUDGET, std::move(budget))) {}

RequestBudgetScope::~RequestBudgetScope() {
  CURRENT_REQUEST_BUDGET = std::move(outer);
}

uint64_t request_data(RequestBudget& request, pid_t child, uint64_t bytes) {
  std::lock_guard lock(request.data_mutex);
  if (bytes == 0) {
    request.run_data.erase(child);
  } else {
    request.run_data[child] = bytes;
  }
  uint64_t sum = 0;
  for (const auto& [other, held] : request.run_data) sum += held;
  return sum;
}

bool first_telling(RequestBudget* request, std::atomic<bool> RequestBudget::*told) {
  return !request || !(request->*told).exchange(true);
}

}  // namespace brackwen
