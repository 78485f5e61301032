// Writing diagnostics whole: a short write to a pipe is continued, a closed pipe ignored.
#include "diagnostics.hpp"

#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace brackwen {
namespace {

void write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a closed pipe loses the diagnostic, never the process
    text.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace

void write_stderr(std::string_view text) {
  static std::mutex lock;
  std::lock_guard guard(lock);
  write_all(STDERR_FILENO, text);
}

void write_stdout(std::string_view text) {
  static std::mutex lock;
  std::lock_guard guard(lock);
  write_all(STDOUT_FILENO, text);
}

}  // namespace brackwen
