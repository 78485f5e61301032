// Placeholder until the socket-diagnostics lookup lands.
#pragma once
#include <sys/types.h>

#include <optional>

namespace brackwen {

std::optional<uid_t> peer_uid(int connected_fd);

}  // namespace brackwen
