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

bool first_telling(RequestBudget* request, std::atomic<bool> RequestBudget::*told) {
  return !request || !(request->*told).exchange(true);
}

}  // namespace brackwen
