// The program's entry: the orphans it adopts, the environment git inherits, the git version,
// then the server.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <exception>

#include "git/git_version.hpp"
#include "git/reading/orphans.hpp"
#include "parser/diagnostics.hpp"
#include "server/coverage_exit.hpp"
#include "server/server.hpp"
#include "server/startup.hpp"
#include "stores/threads.hpp"

namespace {

// Lines still waiting for the pipes are given this long before the process ends.
constexpr std::chrono::milliseconds EXIT_FLUSH_LIMIT{200};

int start() {
  try {
    brackwen::prepare_environment();
    // After PATH is amended, so that the git asked is the one every query will run. Its
    // outcome does not matter: "/f/git_version" asks again while no version is known.
    brackwen::run_reported("Asking git's version", brackwen::load_git_version);
    return brackwen::run_server();
  } catch (const std::exception& e) {
    brackwen::write_stderr(std::string("Started server failed: ") + e.what() + "\n");
  } catch (...) {
    brackwen::write_stderr("Started server failed\n");
  }
  return EXIT_FAILURE;
}

}  // namespace

// jemalloc (linked into the server) reads its settings from this: freed pages go back to the
// system at once rather than after ten seconds, so that the memory a long load freed is not
// counted against the process while the front end works on.
extern "C" const char* malloc_conf;
const char* malloc_conf = "dirty_decay_ms:0,muzzy_decay_ms:0";

int main() {
  // Before any thread starts, so that every thread keeps SIGCHLD blocked for the reaper's own.
  brackwen::adopt_orphans();
  // A client or front end that goes away must cost a failed write, not the process.
  std::signal(SIGPIPE, SIG_IGN);
  brackwen::write_coverage_on_sigterm();
  int status = start();
  brackwen::flush_diagnostics(EXIT_FLUSH_LIMIT);
  return status;
}
