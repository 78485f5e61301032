// Who is on the other end of a loopback connection: the uid that owns the peer's socket, so
// that a connection from another local account can be refused before anything is read.
#pragma once
#include <netinet/in.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "git/process.hpp"

namespace brackwen {

// What the kernel's socket diagnostics say of the peer of an accepted IPv4 TCP connection.
struct SockDiagAnswer {
  // False when netlink refused the socket or the request, or did not answer: nothing is then
  // known of the peer.
  bool answered = false;
  // The owner of the peer's socket; absent when it has none any more (closed, or gone) or the
  // connection is not IPv4.
  std::optional<uid_t> owner;
};

SockDiagAnswer peer_uid_by_sock_diag(int connected_fd);

// Whether socket diagnostics find the listening socket itself. A kernel that lacks their TCP
// handler says "no such socket" of every socket, so their silence about a peer then proves
// nothing.
bool sock_diag_finds(int listening_fd);

// The owner of the peer's socket by its line in /proc/net/tcp (or tcp6, for a dual-stack
// client): one read of both tables.
std::optional<uid_t> peer_uid_by_proc_net_tcp(int connected_fd);

// The two ends of a connection, as the tables name them.
struct ConnectionEnds {
  sockaddr_in local;
  sockaddr_in peer;
};

// /proc/net/tcp and tcp6, each opened once and read from its start every time, so that a read
// needs no new descriptor when waiting connections have taken them all.
struct TableFiles {
  OwnedFd tables[2];
};

// The fall-back for when socket diagnostics are refused: /proc's socket tables, read on a
// thread of their own while connections wait for them, and at most once per refresh interval
// however many connections arrive. Reading them costs time in proportion to every socket of
// the host, which any local account can multiply.
struct ProcSocketTables {
  using Answer = std::function<void(std::optional<uid_t>)>;

  ProcSocketTables() = default;
  ~ProcSocketTables();
  ProcSocketTables(const ProcSocketTables&) = delete;
  ProcSocketTables& operator=(const ProcSocketTables&) = delete;

  // Returns at once. `answer` is called later on the reading thread, with the owner that the
  // first read of the tables begun after this call finds (a read begun earlier may predate
  // the connection); at once, with nobody, when the peer has closed without sending anything.
  // Never called once the tables are destroyed.
  void ask(int connected_fd, Answer answer);

 private:
  // The reader starts with the first question, so that where socket diagnostics answer there
  // is no thread. False when no thread can be had: the connection is then refused unchecked.
  bool reader_started();
  void read_when_asked();

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<ConnectionEnds, Answer>> waiting;
  bool stopping = false;
  TableFiles files;  // the reader's
  std::thread reader;
};

}  // namespace brackwen
