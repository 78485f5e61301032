#include "server/peer_uid.hpp"

#include <unistd.h>

namespace brackwen {

std::optional<uid_t> peer_uid(int) {
  return ::geteuid();
}

}  // namespace brackwen
