// A machine whose kernel refuses socket diagnostics, for one server: a seccomp filter on the
// thread that starts it, which its children inherit, makes every NETLINK_SOCK_DIAG socket
// fail as on a kernel built without them. Nothing else in the process is touched.
#pragma once
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/netlink.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstddef>
#include <thread>

namespace brackwen::test {

#if defined(__x86_64__)
inline constexpr uint32_t NATIVE_AUDIT_ARCH = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
inline constexpr uint32_t NATIVE_AUDIT_ARCH = AUDIT_ARCH_AARCH64;
#endif

// True when the calling thread now refuses socket(AF_NETLINK, *, NETLINK_SOCK_DIAG).
inline bool refuse_sock_diag_on_this_thread() {
  constexpr uint32_t ALLOW = SECCOMP_RET_ALLOW;
  constexpr uint32_t REFUSE = SECCOMP_RET_ERRNO | EPROTONOSUPPORT;
  // The low words of the arguments: both are small integers.
  constexpr uint32_t FAMILY = offsetof(seccomp_data, args[0]);
  constexpr uint32_t PROTOCOL = offsetof(seccomp_data, args[2]);
  sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, NATIVE_AUDIT_ARCH, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_socket, 0, 5),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, FAMILY),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_NETLINK, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, PROTOCOL),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, NETLINK_SOCK_DIAG, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, REFUSE),
      BPF_STMT(BPF_RET | BPF_K, ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
  // Without root a filter needs no_new_privs; it too stays with this thread and its children.
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) == 0;
}

// Runs `start` (which starts the server) on a thread of its own that refuses socket
// diagnostics; false, without running it, when the filter cannot be set.
template <class Start>
bool start_without_sock_diag(Start start) {
  bool refused = false;
  std::thread([&] {
    refused = refuse_sock_diag_on_this_thread();
    if (refused) start();
  }).join();
  return refused;
}

}  // namespace brackwen::test
