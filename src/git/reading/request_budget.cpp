// The budget of the request a thread works for, and how its runs share the memory budget.
#include "git/reading/request_budget.hpp"

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <utility>

#include "parser/diagnostics.hpp"

namespace brackwen {
namespace {

thread_local std::shared_ptr<RequestBudget> CURRENT_REQUEST_BUDGET;
thread_local std::optional<uint64_t> CURRENT_AGE;

// How often a run that waits for room asks whether it was cancelled, and whether its request
// ran out of time.
constexpr std::chrono::milliseconds ROOM_CHECK_INTERVAL{50};

using Runs = std::map<uint64_t, RequestRun>;

// Ends the youngest runs under way that hold something until what the rest held fits. The
// oldest is never reached: what one run held at its sample never passes the budget (note_data
// ends such a run for good, and counts it no more). A run ended here stops counting at once:
// its memory goes with its group. Its child is still unreaped (end_start clears it first, under
// the same lock), so the kill cannot reach another group. The sampling run's own child is left
// to its own thread, which stops on the verdict.
void make_room(Runs& runs, uint64_t sampling_age, uint64_t budget) {
  uint64_t sum = 0;
  for (const auto& [age, run] : runs) sum += run.held;
  for (auto it = runs.rbegin(); sum > budget && it != runs.rend(); ++it) {
    RequestRun& run = it->second;
    if (run.held == 0) continue;
    run.verdict = run.can_restart ? RoomVerdict::EndedForRoom : RoomVerdict::OutOfMemory;
    sum -= run.held;
    run.held = 0;
    if (it->first != sampling_age) ::kill(-run.child, SIGKILL);
  }
}

// Whether the run of `age` may start again: no older run is left, or the most that the runs
// under way held leaves room for the most it held.
bool has_room(const Runs& runs, uint64_t age, uint64_t budget) {
  if (runs.begin()->first == age) return true;
  uint64_t taken = runs.at(age).peak;
  for (const auto& [other, run] : runs) {
    if (run.under_way) taken += run.peak;
  }
  return taken <= budget;
}

}  // namespace

RequestBudget::RequestBudget(std::chrono::seconds read_cap)
    : cap(read_cap), deadline(std::chrono::steady_clock::now() + read_cap) {}

bool out_of_time(RequestBudget& request) {
  if (request.out_of_time != TimeLimit::None) return true;
  if (std::chrono::steady_clock::now() < request.deadline) return false;
  TimeLimit none = TimeLimit::None;
  request.out_of_time.compare_exchange_strong(none, TimeLimit::Cap);
  return true;
}

void stall_request(RequestBudget& request) {
  TimeLimit none = TimeLimit::None;
  request.out_of_time.compare_exchange_strong(none, TimeLimit::Stall);
}

RunPlace::RunPlace(RequestBudget* budget, bool can_restart) : request(budget) {
  if (!request) return;
  std::lock_guard lock(request->runs_mutex);
  // A reserved age is its scope's one run at a time; a run started within another's callback
  // takes its own.
  bool reserved = CURRENT_AGE && !request->runs.contains(*CURRENT_AGE);
  age = reserved ? *CURRENT_AGE : request->next_age++;
  request->runs[age].can_restart = can_restart;
}

RunPlace::~RunPlace() {
  if (!request) return;
  {
    std::lock_guard lock(request->runs_mutex);
    request->runs.erase(age);
  }
  request->run_ended.notify_all();
}

RoomVerdict note_data(RunPlace& place, pid_t child, uint64_t bytes, uint64_t budget) {
  std::lock_guard lock(place.request->runs_mutex);
  Runs& runs = place.request->runs;
  RequestRun& run = runs.at(place.age);
  if (run.verdict != RoomVerdict::Fits) return run.verdict;
  run.peak = std::max(run.peak, bytes);
  if (bytes > budget) {
    run.held = 0;
    return run.verdict = RoomVerdict::OutOfMemory;
  }
  run.child = child;
  run.held = bytes;
  make_room(runs, place.age, budget);
  return run.verdict;
}

void end_start(RunPlace& place) {
  {
    std::lock_guard lock(place.request->runs_mutex);
    RequestRun& run = place.request->runs.at(place.age);
    place.verdict = std::exchange(run.verdict, RoomVerdict::Fits);
    run.under_way = false;
    run.child = 0;
    run.held = 0;
  }
  place.request->run_ended.notify_all();
}

bool wait_for_room(RunPlace& place, uint64_t budget, const std::function<bool()>& cancelled) {
  RequestBudget& request = *place.request;
  std::unique_lock lock(request.runs_mutex);
  while (!has_room(request.runs, place.age, budget)) {
    if (out_of_time(request)) {
      errno = ETIMEDOUT;
      return false;
    }
    request.run_ended.wait_for(lock, ROOM_CHECK_INTERVAL);
    if (!cancelled) continue;
    lock.unlock();
    bool stop = cancelled();
    lock.lock();
    if (stop) {
      errno = ECANCELED;
      return false;
    }
  }
  request.runs.at(place.age).under_way = true;
  return true;
}

std::shared_ptr<RequestBudget> current_request_budget() {
  return CURRENT_REQUEST_BUDGET;
}

uint64_t reserve_age(RequestBudget& request) {
  std::lock_guard lock(request.runs_mutex);
  return request.next_age++;
}

RequestBudgetScope::RequestBudgetScope(std::shared_ptr<RequestBudget> budget,
                                       std::optional<uint64_t> age)
    : outer(std::exchange(CURRENT_REQUEST_BUDGET, std::move(budget))),
      outer_age(std::exchange(CURRENT_AGE, age)) {}

RequestBudgetScope::~RequestBudgetScope() {
  CURRENT_REQUEST_BUDGET = std::move(outer);
  CURRENT_AGE = outer_age;
}

HeldBytes::HeldBytes(std::string read_name)
    : request(current_request_budget()), read(std::move(read_name)) {}

HeldBytes::~HeldBytes() {
  set(0);
}

HeldBytes::HeldBytes(HeldBytes&& other) noexcept
    : request(std::move(other.request)),
      read(std::move(other.read)),
      charged(std::exchange(other.charged, 0)) {}

HeldBytes& HeldBytes::operator=(HeldBytes&& other) noexcept {
  if (this == &other) return *this;
  set(0);
  request = std::move(other.request);
  read = std::move(other.read);
  charged = std::exchange(other.charged, 0);
  return *this;
}

bool HeldBytes::set(uint64_t bytes) {
  if (!request) return true;
  if (bytes <= charged) {
    request->held -= charged - bytes;
    charged = bytes;
    return !request->holds_too_much;
  }
  if (request->holds_too_much) return false;
  uint64_t all = request->held += bytes - charged;
  charged = bytes;
  if (all <= MAX_REPLY_BYTES + request->room) return true;
  request->holds_too_much = true;
  if (first_telling(*request, &RequestBudget::told_held)) {
    write_stderr(read + " stopped: the request holds more than a reply may (" +
                 std::to_string(MAX_REPLY_BYTES >> 20) + " MiB)\n");
  }
  return false;
}

void widen_room(uint64_t bytes) {
  std::shared_ptr<RequestBudget> request = current_request_budget();
  if (request) request->room += bytes;
}

bool holds_too_much() {
  std::shared_ptr<RequestBudget> request = current_request_budget();
  return request && request->holds_too_much;
}

uint64_t heap_bytes(const std::string& text) {
  return text.capacity() > std::string().capacity() ? text.capacity() + 1 : 0;
}

bool first_telling(RequestBudget& request, std::atomic<bool> RequestBudget::*told) {
  return !(request.*told).exchange(true);
}

}  // namespace brackwen
