#include "server/coverage_exit.hpp"

#ifdef BRACKWEN_COVERAGE
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <thread>

extern "C" void __gcov_dump();
#endif

namespace brackwen {

#ifdef BRACKWEN_COVERAGE

// Tests lower the server's file-size and address-space limits to provoke failures; counts
// written under them would be cut off, and a cut file spoils every later run's merge into it.
void write_coverage() {
  for (auto resource : {RLIMIT_FSIZE, RLIMIT_AS}) {
    rlimit limit;
    if (::getrlimit(resource, &limit) != 0) continue;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(resource, &limit);
  }
  __gcov_dump();
}

// The counts are written from a thread of its own rather than a signal handler: writing them
// allocates and locks, which a handler interrupting malloc could deadlock on.
void write_coverage_on_sigterm() {
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &term, nullptr);
  std::thread([term] {
    int taken = 0;
    sigwait(&term, &taken);
    write_coverage();
    ::_exit(128 + SIGTERM);
  }).detach();
}

#else

void write_coverage() {}
void write_coverage_on_sigterm() {}

#endif

}  // namespace brackwen
