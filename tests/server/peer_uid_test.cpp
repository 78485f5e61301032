// Who owns the other end of a loopback connection, by each way of asking: in process, since end
// to end a peer is only refused or not, whichever lookup answered.
#include "server/peer_uid.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "support/loopback.hpp"
#include "support/no_sock_diag.hpp"

namespace brackwen {
namespace {

std::optional<uid_t> answered_by_sock_diag(int fd) {
  SockDiagAnswer answer = peer_uid_by_sock_diag(fd);
  EXPECT_TRUE(answer.answered);  // a peer it does not know is an answer too
  return answer.owner;
}

constexpr std::pair<const char*, std::optional<uid_t> (*)(int)> LOOKUPS[] = {
    {"sock_diag", answered_by_sock_diag}, {"proc_net_tcp", peer_uid_by_proc_net_tcp}};

TEST(PeerUid, NamesTheOwnerOfAnOpenClientAndNobodyOnceItIsClosed) {
  for (int family : {AF_INET, AF_INET6}) {  // an IPv6 client reaches 127.0.0.1 mapped
    // A closed socket lingers, reported as owned by uid 0; one closed with a reset is gone.
    for (bool reset : {false, true}) {
      test::LoopbackPair pair(family);
      for (auto [name, owner_of] : LOOKUPS) EXPECT_EQ(owner_of(pair.accepted), ::getuid()) << name;
      linger abort{1, 0};
      if (reset) ::setsockopt(pair.client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
      ::close(pair.client);
      pair.client = -1;
      for (auto [name, owner_of] : LOOKUPS) {
        EXPECT_EQ(owner_of(pair.accepted), std::nullopt) << name << " " << reset;
      }
    }
  }
  if (::geteuid() != 0) GTEST_SKIP() << "only root can connect as another account";
  test::Listener listener;
  int connected[2];
  ASSERT_EQ(::pipe2(connected, O_CLOEXEC), 0);
  pid_t child = ::fork();
  if (child == 0) {
    int fd = ::setuid(65534) == 0 ? test::connect_to(listener.address) : -1;
    char byte = 'c';
    if (fd < 0 || ::write(connected[1], &byte, 1) != 1) ::_exit(1);
    ::_exit(static_cast<int>(::read(fd, &byte, 1)));  // holds the connection until closed
  }
  ::close(connected[1]);
  char byte = 0;
  ASSERT_EQ(::read(connected[0], &byte, 1), 1) << "no connection as another account";
  int accepted = ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
  for (auto [name, owner_of] : LOOKUPS) EXPECT_EQ(owner_of(accepted), 65534u) << name;
  ::close(accepted);
  ::close(connected[0]);
  ::waitpid(child, nullptr, 0);
}

// A kernel that refuses socket diagnostics is told apart from one that knows no such socket:
// only the first leaves the tables to be read.
TEST(PeerUid, SockDiagRefusedIsNoAnswer) {
  test::LoopbackPair pair;
  EXPECT_TRUE(sock_diag_finds(pair.listener.fd));
  auto refused = [&] {
    EXPECT_FALSE(peer_uid_by_sock_diag(pair.accepted).answered);
    EXPECT_FALSE(sock_diag_finds(pair.listener.fd));
  };
  if (!test::start_without_sock_diag(refused)) GTEST_SKIP() << "no seccomp filter here";
}

}  // namespace
}  // namespace brackwen
