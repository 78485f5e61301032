// Starting background threads and reporting what their work throws.
#include "stores/threads.hpp"

#include <malloc.h>

#include <cerrno>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "parser/diagnostics.hpp"

namespace brackwen {
namespace {

// Runs `start`; the reason when it could not start its thread. std::thread throws system_error
// with the reason as its code, and the copies of `what` and `body` may find no memory.
template <class Start>
std::optional<int> start_failure(Start&& start) {
  try {
    start();
    return std::nullopt;
  } catch (const std::system_error& e) {
    return e.code().value();
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
}

}  // namespace

void report_failure(std::string_view what, std::string_view error) {
  std::string line(what);
  line += " failed: ";
  line += error;
  line += '\n';
  write_stderr(std::move(line));
}

bool start_background_thread(std::string_view what, std::function<void()> body) {
  std::optional<int> error = start_failure([&] {
    std::thread([what = std::string(what), body = std::move(body)] {
      run_reported(what, body);
    }).detach();
  });
  if (!error) return true;
  errno = *error;  // callers name the reason in their messages
  return false;
}

void run_alongside(std::string_view what, const std::function<void()>& side,
                   const std::function<void()>& main) {
  std::jthread thread;  // joined on every way out, so `side` never outlives this call
  std::optional<int> error =
      start_failure([&] { thread = std::jthread([&] { run_reported(what, side); }); });
  if (error) run_reported(what, side);
  main();
}

void return_free_memory() {
  ::malloc_trim(0);
}

}  // namespace brackwen
