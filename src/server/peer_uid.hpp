// Who is on the other end of a loopback connection: the uid that owns the peer's socket, so
// that a connection from another local account can be refused before anything is read.
#pragma once
#include <sys/types.h>

#include <optional>

namespace brackwen {

// The owner of the peer socket of `connected_fd`, an accepted IPv4 TCP connection from this
// host: asked of the kernel's socket diagnostics, or read from /proc/net/tcp (and tcp6, for a
// dual-stack client) where netlink is unavailable. Absent when neither answers, when the
// socket is not IPv4, or when the peer has already closed its socket.
std::optional<uid_t> peer_uid(int connected_fd);

// The two ways of asking, each alone.
std::optional<uid_t> peer_uid_by_sock_diag(int connected_fd);
std::optional<uid_t> peer_uid_by_proc_net_tcp(int connected_fd);

}  // namespace brackwen
