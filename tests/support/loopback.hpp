// TCP connections over 127.0.0.1 inside one process, for looking up who owns each end.
#pragma once
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace brackwen::test {

// A socket listening on 127.0.0.1 at a port the system picks, and its address.
struct Listener {
  Listener() {
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(fd, SOMAXCONN);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  }
  ~Listener() { ::close(fd); }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
};

// A client connected to `to`: an IPv4 socket, or for AF_INET6 a dual-stack one that reaches
// it by the IPv4-mapped address. -1 on failure.
inline int connect_to(const sockaddr_in& to, int family = AF_INET) {
  sockaddr_in6 mapped{};
  mapped.sin6_family = AF_INET6;
  mapped.sin6_port = to.sin_port;
  ::inet_pton(AF_INET6, "::ffff:127.0.0.1", &mapped.sin6_addr);
  bool v4 = family == AF_INET;
  int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const auto* address =
      v4 ? reinterpret_cast<const sockaddr*>(&to) : reinterpret_cast<const sockaddr*>(&mapped);
  if (::connect(fd, address, v4 ? sizeof to : sizeof mapped) == 0) return fd;
  ::close(fd);
  return -1;
}

// Both ends of one connection; -1 for each when connecting failed.
struct LoopbackPair {
  explicit LoopbackPair(int client_family = AF_INET)
      : client(connect_to(listener.address, client_family)),
        accepted(client < 0 ? -1 : ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC)) {}
  ~LoopbackPair() {
    ::close(accepted);
    ::close(client);
  }
  Listener listener;
  int client;
  int accepted;
};

}  // namespace brackwen::test
