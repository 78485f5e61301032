// Finding the owner of the peer socket of a loopback connection, by an exact socket
// diagnostics lookup of the peer's end, or by its line in /proc/net/tcp or tcp6.
#include "server/peer_uid.hpp"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>

#include "git/file_io.hpp"
#include "parser/text.hpp"

namespace brackwen {
namespace {

// A line of /proc/net/tcp{,6}: slot, local address:port, remote address:port, state, queues,
// timer, retransmits, uid, timeout, inode.
constexpr const char* SOCKET_LINE = "%*u: %63s %63s %*X %*X:%*X %*X:%*X %*X %u %*u %lu";
constexpr int SOCKET_LINE_FIELDS = 4;
constexpr size_t ENDPOINT_TEXT_BYTES = 64;
// The kernel answers while the request is being sent; the wait only bounds a netlink that
// does not (an emulated one), so that a connection is never held up for long.
constexpr int REPLY_WAIT_MS = 100;
constexpr size_t REPLY_BYTES = 8192;
constexpr uint32_t REQUEST_SEQ = 1;

struct Ends {
  sockaddr_in local;
  sockaddr_in peer;
};

struct DiagRequest {
  nlmsghdr header;
  inet_diag_req_v2 body;
};

std::optional<Ends> ends_of(int fd) {
  Ends ends{};
  socklen_t local_size = sizeof ends.local;
  socklen_t peer_size = sizeof ends.peer;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ends.local), &local_size) != 0 ||
      ::getpeername(fd, reinterpret_cast<sockaddr*>(&ends.peer), &peer_size) != 0) {
    return std::nullopt;
  }
  if (ends.local.sin_family != AF_INET || ends.peer.sin_family != AF_INET) return std::nullopt;
  return ends;
}

// The peer's socket as the kernel names it: its source is our peer, its destination us.
DiagRequest request_for(const Ends& ends) {
  DiagRequest request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  request.header.nlmsg_flags = NLM_F_REQUEST;
  request.header.nlmsg_seq = REQUEST_SEQ;
  request.body.sdiag_family = AF_INET;
  request.body.sdiag_protocol = IPPROTO_TCP;
  request.body.idiag_states = ~0u;
  request.body.id.idiag_sport = ends.peer.sin_port;
  request.body.id.idiag_dport = ends.local.sin_port;
  request.body.id.idiag_src[0] = ends.peer.sin_addr.s_addr;
  request.body.id.idiag_dst[0] = ends.local.sin_addr.s_addr;
  request.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  request.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  return request;
}

// A client's dual-stack IPv6 socket that reached 127.0.0.1 is found as well, and named by
// IPv4-mapped addresses.
bool names_ipv4(const uint32_t (&address)[4], uint8_t family, in_addr_t ipv4) {
  if (family == AF_INET) return address[0] == ipv4;
  return family == AF_INET6 && address[0] == 0 && address[1] == 0 && address[2] == htonl(0xFFFF) &&
         address[3] == ipv4;
}

bool is_peer_socket(const inet_diag_msg& diag, const Ends& ends) {
  return diag.id.idiag_sport == ends.peer.sin_port && diag.id.idiag_dport == ends.local.sin_port &&
         names_ipv4(diag.id.idiag_src, diag.idiag_family, ends.peer.sin_addr.s_addr) &&
         names_ipv4(diag.id.idiag_dst, diag.idiag_family, ends.local.sin_addr.s_addr);
}

// A socket whose owner closed it has no inode any more, and one in time-wait reports uid 0
// (root): neither says who is connected.
std::optional<uid_t> owner(uid_t uid, unsigned long inode) {
  if (inode == 0) return std::nullopt;
  return uid;
}

struct ReplyReading {
  std::optional<uid_t> uid;
  bool finished = false;
};

ReplyReading read_reply(nlmsghdr* message, size_t size, const Ends& ends) {
  auto left = static_cast<int>(size);
  for (; NLMSG_OK(message, left); message = NLMSG_NEXT(message, left)) {
    if (message->nlmsg_seq != REQUEST_SEQ) continue;
    if (message->nlmsg_type == NLMSG_ERROR || message->nlmsg_type == NLMSG_DONE) return {{}, true};
    if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
        message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
      continue;
    }
    const auto* diag = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
    if (!is_peer_socket(*diag, ends)) continue;
    return {owner(diag->idiag_uid, diag->idiag_inode), true};
  }
  return {};
}

bool send_request(int fd, const Ends& ends) {
  DiagRequest request = request_for(ends);
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  for (;;) {
    ssize_t sent = ::sendto(fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                            sizeof kernel);
    if (sent < 0 && errno == EINTR) continue;
    return sent == static_cast<ssize_t>(sizeof request);
  }
}

std::optional<uid_t> receive_owner(int fd, const Ends& ends) {
  alignas(nlmsghdr) char buffer[REPLY_BYTES];
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    int polled = ::poll(&ready, 1, REPLY_WAIT_MS);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return std::nullopt;
    // MSG_TRUNC returns the datagram's whole length, so that a cut one is seen as such.
    ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_TRUNC);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || static_cast<size_t>(got) > sizeof buffer) return std::nullopt;
    ReplyReading reading =
        read_reply(reinterpret_cast<nlmsghdr*>(buffer), static_cast<size_t>(got), ends);
    if (reading.finished) return reading.uid;
  }
}

std::optional<uid_t> ask_sock_diag(const Ends& ends) {
  int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (fd < 0) return std::nullopt;
  std::optional<uid_t> uid = send_request(fd, ends) ? receive_owner(fd, ends) : std::nullopt;
  ::close(fd);
  return uid;
}

// An address as the tables print it: each 32-bit word of it as the hex of its raw value.
std::string hex_words(std::initializer_list<uint32_t> words) {
  std::string text;
  char word[9];
  for (uint32_t w : words) {
    std::snprintf(word, sizeof word, "%08X", w);
    text += word;
  }
  return text;
}

std::string ipv4_text(in_addr_t address) {
  return hex_words({address});
}

// A dual-stack IPv6 socket connected to 127.0.0.1 is listed in tcp6, IPv4-mapped.
std::string ipv4_mapped_text(in_addr_t address) {
  return hex_words({0, 0, htonl(0xFFFF), address});
}

struct SocketTable {
  const char* path;
  std::string (*address_text)(in_addr_t);
};

constexpr SocketTable SOCKET_TABLES[] = {{"/proc/net/tcp", ipv4_text},
                                         {"/proc/net/tcp6", ipv4_mapped_text}};

std::string endpoint_text(const sockaddr_in& end, const SocketTable& table) {
  char port[5];
  std::snprintf(port, sizeof port, "%04X", ntohs(end.sin_port));
  return table.address_text(end.sin_addr.s_addr) + ":" + port;
}

std::optional<uid_t> owner_in_line(const std::string& line, const std::string& peer_end,
                                   const std::string& local_end) {
  char local[ENDPOINT_TEXT_BYTES], remote[ENDPOINT_TEXT_BYTES];
  unsigned uid = 0;
  unsigned long inode = 0;
  if (std::sscanf(line.c_str(), SOCKET_LINE, local, remote, &uid, &inode) != SOCKET_LINE_FIELDS ||
      local != peer_end || remote != local_end) {
    return std::nullopt;
  }
  return owner(uid, inode);
}

std::optional<uid_t> owner_in_table(const SocketTable& table, const Ends& ends) {
  std::optional<std::string> text = read_regular_file(table.path);
  if (!text) return std::nullopt;
  std::string peer_end = endpoint_text(ends.peer, table);
  std::string local_end = endpoint_text(ends.local, table);
  std::optional<uid_t> owner;
  for_each_line(*text, [&](std::string_view line) {
    if (!owner) owner = owner_in_line(std::string(line), peer_end, local_end);
  });
  return owner;
}

std::optional<uid_t> ask_proc_net_tcp(const Ends& ends) {
  for (const SocketTable& table : SOCKET_TABLES) {
    if (auto uid = owner_in_table(table, ends)) return uid;
  }
  return std::nullopt;
}

}  // namespace

std::optional<uid_t> peer_uid_by_sock_diag(int connected_fd) {
  std::optional<Ends> ends = ends_of(connected_fd);
  if (!ends) return std::nullopt;
  return ask_sock_diag(*ends);
}

std::optional<uid_t> peer_uid_by_proc_net_tcp(int connected_fd) {
  std::optional<Ends> ends = ends_of(connected_fd);
  if (!ends) return std::nullopt;
  return ask_proc_net_tcp(*ends);
}

std::optional<uid_t> peer_uid(int connected_fd) {
  std::optional<Ends> ends = ends_of(connected_fd);
  if (!ends) return std::nullopt;
  if (auto uid = ask_sock_diag(*ends)) return uid;
  return ask_proc_net_tcp(*ends);
}

}  // namespace brackwen
