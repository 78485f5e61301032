// Finding the owner of the peer socket of a loopback connection, by an exact socket
// diagnostics lookup of the peer's end, or by its line in /proc/net/tcp or tcp6.
#include "server/peer_uid.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "git/process.hpp"
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
// Connections waiting for the tables are answered by one read of them per interval, however
// many there are. Reads start at least this long apart, so that a stream of connections never
// keeps the reader spinning, while a user's connection on a quiet machine waits no more than
// a tenth of a second and a read (a millisecond or so)...
constexpr std::chrono::milliseconds MIN_REFRESH{100};
// ...and this many times as long as the last read took: the tables list every socket of the
// host, time-wait ones included, so another account can make a read last a second (130,000
// lines). The reader then keeps at most half of one core busy, and a user's connection waits
// about two reads.
constexpr int REFRESH_PER_READ = 2;

using Ends = ConnectionEnds;
using Clock = std::chrono::steady_clock;

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
  SockDiagAnswer answer;
  bool finished = false;
};

// The kernel says ENOENT of a socket it does not know; any other error is a refusal.
ReplyReading read_error(const nlmsghdr& message) {
  if (message.nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) return {{}, true};
  const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(&message));
  return {{error->error == -ENOENT, std::nullopt}, true};
}

ReplyReading read_reply(nlmsghdr* message, size_t size, const Ends& ends) {
  auto left = static_cast<int>(size);
  for (; NLMSG_OK(message, left); message = NLMSG_NEXT(message, left)) {
    if (message->nlmsg_seq != REQUEST_SEQ) continue;
    if (message->nlmsg_type == NLMSG_ERROR) return read_error(*message);
    if (message->nlmsg_type == NLMSG_DONE) return {{true, std::nullopt}, true};
    if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
        message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
      continue;
    }
    const auto* diag = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
    if (!is_peer_socket(*diag, ends)) continue;
    return {{true, owner(diag->idiag_uid, diag->idiag_inode)}, true};
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

SockDiagAnswer receive_owner(int fd, const Ends& ends) {
  alignas(nlmsghdr) char buffer[REPLY_BYTES];
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    int polled = ::poll(&ready, 1, REPLY_WAIT_MS);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return {};
    // MSG_TRUNC returns the datagram's whole length, so that a cut one is seen as such.
    ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_TRUNC);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || static_cast<size_t>(got) > sizeof buffer) return {};
    ReplyReading reading =
        read_reply(reinterpret_cast<nlmsghdr*>(buffer), static_cast<size_t>(got), ends);
    if (reading.finished) return reading.answer;
  }
}

SockDiagAnswer ask_sock_diag(const Ends& ends) {
  int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (fd < 0) return {};
  SockDiagAnswer answer = send_request(fd, ends) ? receive_owner(fd, ends) : SockDiagAnswer{};
  ::close(fd);
  return answer;
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

std::optional<std::string> read_table(const SocketTable& table, OwnedFd& file) {
  if (file.fd < 0) file = OwnedFd(::open(table.path, O_RDONLY | O_CLOEXEC));
  if (file.fd < 0) return std::nullopt;
  return read_whole_file(file.fd);
}

// Each table is read once for every connection asked about: its lines are matched against all
// of their ends at once.
std::vector<std::optional<uid_t>> owners_in_tables(const std::vector<Ends>& asked,
                                                   TableFiles& files) {
  std::vector<std::optional<uid_t>> owners(asked.size());
  for (size_t t = 0; t < std::size(SOCKET_TABLES); ++t) {
    const SocketTable& table = SOCKET_TABLES[t];
    std::unordered_map<std::string, size_t> wanted;  // "peer-end local-end" to its asker
    std::vector<std::string> local_ends;             // the server's: one, as a rule
    for (size_t i = 0; i < asked.size(); ++i) {
      if (owners[i]) continue;
      std::string local_end = endpoint_text(asked[i].local, table);
      wanted.emplace(endpoint_text(asked[i].peer, table) + " " + local_end, i);
      if (std::ranges::find(local_ends, local_end) == local_ends.end()) {
        local_ends.push_back(std::move(local_end));
      }
    }
    std::optional<std::string> text =
        wanted.empty() ? std::nullopt : read_table(table, files.tables[t]);
    if (!text) continue;
    for_each_line(*text, [&](std::string_view line) {
      // Most lines are other sockets of the host: skipped before they are taken apart.
      if (std::ranges::none_of(local_ends, [&](const std::string& end) {
            return line.find(end) != std::string_view::npos;
          })) {
        return;
      }
      char local[ENDPOINT_TEXT_BYTES], remote[ENDPOINT_TEXT_BYTES];
      unsigned uid = 0;
      unsigned long inode = 0;
      if (std::sscanf(std::string(line).c_str(), SOCKET_LINE, local, remote, &uid, &inode) !=
          SOCKET_LINE_FIELDS) {
        return;
      }
      auto found = wanted.find(std::string(local) + " " + remote);
      if (found != wanted.end()) owners[found->second] = owner(uid, inode);
    });
  }
  return owners;
}

// A peer that closed without sending anything has nothing to be answered, whoever it is: what
// a flood of connections closed at once leaves.
bool closed_without_request(int fd) {
  char byte;
  ssize_t got = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

}  // namespace

SockDiagAnswer peer_uid_by_sock_diag(int connected_fd) {
  std::optional<Ends> ends = ends_of(connected_fd);
  if (!ends) return {true, std::nullopt};
  return ask_sock_diag(*ends);
}

// The listening socket is named by its own address as source and no destination.
bool sock_diag_finds(int listening_fd) {
  Ends ends{};
  socklen_t size = sizeof ends.peer;
  if (::getsockname(listening_fd, reinterpret_cast<sockaddr*>(&ends.peer), &size) != 0 ||
      ends.peer.sin_family != AF_INET) {
    return false;
  }
  ends.local.sin_family = AF_INET;
  return ask_sock_diag(ends).owner.has_value();
}

std::optional<uid_t> peer_uid_by_proc_net_tcp(int connected_fd) {
  std::optional<Ends> ends = ends_of(connected_fd);
  if (!ends) return std::nullopt;
  TableFiles files;
  return owners_in_tables({*ends}, files)[0];
}

ProcSocketTables::~ProcSocketTables() {
  {
    std::lock_guard lock(mutex);
    stopping = true;
  }
  changed.notify_all();
  if (reader.joinable()) reader.join();
}

void ProcSocketTables::ask(int connected_fd, Answer answer) {
  std::optional<Ends> ends = ends_of(connected_fd);
  if (!ends || closed_without_request(connected_fd)) return answer(std::nullopt);
  std::unique_lock lock(mutex);
  if (!reader_started()) {
    lock.unlock();
    return answer(std::nullopt);
  }
  waiting.emplace_back(*ends, std::move(answer));
  lock.unlock();
  changed.notify_all();
}

bool ProcSocketTables::reader_started() {
  if (reader.joinable()) return true;
  try {
    reader = std::thread([this] { read_when_asked(); });
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void ProcSocketTables::read_when_asked() {
  std::unique_lock lock(mutex);
  Clock::time_point next_read{};
  for (;;) {
    changed.wait(lock, [&] { return stopping || !waiting.empty(); });
    if (changed.wait_until(lock, next_read, [&] { return stopping; })) return;
    auto asked = std::exchange(waiting, {});
    lock.unlock();
    std::vector<Ends> ends;
    for (const auto& [end, answer] : asked) ends.push_back(end);
    Clock::time_point start = Clock::now();
    std::vector<std::optional<uid_t>> owners = owners_in_tables(ends, files);
    next_read =
        start + std::max<Clock::duration>(MIN_REFRESH, REFRESH_PER_READ * (Clock::now() - start));
    for (size_t i = 0; i < asked.size(); ++i) asked[i].second(owners[i]);
    lock.lock();
  }
}

}  // namespace brackwen
