// Work run apart from the request that asked for it: the one place background threads are
// started, and the one report of what such work throws, since no exception may cross a thread
// boundary or end the process unseen.
#pragma once
#include <exception>
#include <functional>
#include <memory>
#include <string_view>

namespace brackwen {

// Writes "<what> failed: <error>" on standard error.
void report_failure(std::string_view what, std::string_view error);

// Runs `body` here; what it throws is reported (report_failure) and not passed on. False when
// it threw.
template <class F>
bool run_reported(std::string_view what, F&& body) {
  try {
    body();
    return true;
  } catch (const std::exception& e) {
    report_failure(what, e.what());
  } catch (...) {
    report_failure(what, "unknown exception");
  }
  return false;
}

// Runs `body` on a detached thread, through run_reported. False when no thread could be
// started: errno tells why, and `body` never runs. That is not reported here, since reporting
// takes a thread too (diagnostics.hpp); the caller ends the work it meant to start.
bool start_background_thread(std::string_view what, std::function<void()> body);

// Gives the pages of freed memory back to the system: glibc keeps them for later allocations
// otherwise, so that each long load would leave the process larger.
void return_free_memory();

// Lets go of `value` on a background thread, then returns the freed memory to the system: a
// replaced history is tens of megabytes, and freeing it costs the request that replaced it
// nothing. Here, when no thread can be started.
template <class T>
void release_in_background(std::shared_ptr<T> value) {
  auto held = std::make_shared<std::shared_ptr<T>>(std::move(value));
  bool started = start_background_thread("Freeing memory", [held] {
    held->reset();
    return_free_memory();
  });
  if (!started) held->reset();
}

// Runs `side` on a thread of its own, through run_reported, while `main` runs on this one, and
// returns once both have ended (what `main` throws passes on after that). When no thread can
// be started, `side` runs here first.
void run_alongside(std::string_view what, const std::function<void()>& side,
                   const std::function<void()>& main);

}  // namespace brackwen
