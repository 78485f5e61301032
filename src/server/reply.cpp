// Closing the files that replies stream.
#include "server/reply.hpp"

#include <unistd.h>

namespace brackwen {

OpenFile::~OpenFile() {
  if (fd >= 0) ::close(fd);
}

}  // namespace brackwen
