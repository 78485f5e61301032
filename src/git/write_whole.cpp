// Writing a whole buffer to a descriptor.
#include "git/write_whole.hpp"

#include <unistd.h>

#include <cerrno>

namespace brackwen {

bool write_whole(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace brackwen
