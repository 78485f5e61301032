// The HTTP server on 127.0.0.1 and the loop that answers its requests one at a time.
#include "server/server.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <thread>

#include "git/reading/request_budget.hpp"
#include "parser/diagnostics.hpp"
#include "server/connection.hpp"
#include "server/coverage_exit.hpp"
#include "server/endpoints.hpp"
#include "server/peer_uid.hpp"
#include "server/request_queue.hpp"
#include "server/router.hpp"
#include "server/startup.hpp"

namespace brackwen {
namespace {

namespace net = boost::asio;
using net::ip::tcp;

constexpr const char* LISTEN_HOST = "127.0.0.1";
constexpr int LISTEN_BACKLOG = 128;
// Check lines still waiting for the pipe are given this long before "/ex" ends the process,
// and the exit reply as long to leave.
constexpr std::chrono::milliseconds EXIT_FLUSH_LIMIT{200};
// After running out of descriptors or memory, accepting is tried again this much later
// instead of in a busy loop.
constexpr std::chrono::milliseconds ACCEPT_RETRY{100};

std::optional<Reply> answer(const IncomingRequest& request) {
  try {
    // Each request has one budget for the git it runs, wherever that runs (request_budget.hpp).
    RequestBudgetScope budget(std::make_shared<RequestBudget>(LOOP_READ_CAP));
    return route(request, endpoint_table());
  } catch (const std::exception& e) {
    write_stderr("Request " + request.target + " failed: " + e.what() + "\n");
  } catch (...) {
    write_stderr("Request " + request.target + " failed\n");
  }
  return std::nullopt;
}

[[noreturn]] void end_process() {
  flush_diagnostics(EXIT_FLUSH_LIMIT);
  write_coverage();
  // Detached threads (actions, searches, the watcher) are cut off, not waited for.
  ::_exit(EXIT_SUCCESS);
}

void serve(RequestQueue& queue) {
  while (std::shared_ptr<Job> job = queue.pop()) {
    std::optional<Reply> reply = answer(job->request);
    bool exit_after = reply && reply->exit_after_sending;
    job->deliver(std::move(reply));
    if (!exit_after) continue;
    job->written.wait_for(EXIT_FLUSH_LIMIT);
    end_process();
  }
}

// How the owner of a connection's peer is found: socket diagnostics when the kernel serves
// them, else /proc's socket tables.
struct PeerCheck {
  bool sock_diag_serves;
  ProcSocketTables tables;
};

// Any local account can connect to 127.0.0.1; only the user's own programs are served, and
// the others are closed before a byte of theirs is read.
void serve_if_own(tcp::socket socket, std::optional<uid_t> owner, ServerContext& context) {
  if (!owner || *owner != ::geteuid()) return;
  boost::system::error_code ignored;
  // A reply's header and body leave as separate writes, which Nagle's algorithm would hold
  // back for the client's delayed ACK.
  socket.set_option(tcp::no_delay(true), ignored);
  serve_connection(std::move(socket), context);
}

// Socket diagnostics answer at once, on this thread: a peer they do not find (one that
// connected and closed) is refused there. Only where the kernel refuses them does the
// connection wait for the next read of the tables, off this thread.
void admit(tcp::socket socket, PeerCheck& check, ServerContext& context) {
  int fd = socket.native_handle();
  if (check.sock_diag_serves) {
    SockDiagAnswer answer = peer_uid_by_sock_diag(fd);
    if (answer.answered) return serve_if_own(std::move(socket), answer.owner, context);
  }
  auto waiting = std::make_shared<tcp::socket>(std::move(socket));
  check.tables.ask(fd, [waiting, &context](std::optional<uid_t> owner) {
    net::post(waiting->get_executor(),
              [waiting, owner, &context] { serve_if_own(std::move(*waiting), owner, context); });
  });
}

bool is_transient(const boost::system::error_code& ec) {
  return ec == net::error::no_descriptors || ec == net::error::no_buffer_space ||
         ec == net::error::no_memory || ec == net::error::connection_aborted ||
         ec == net::error::interrupted || ec.value() == ENFILE;
}

void accept_next(tcp::acceptor& acceptor, net::steady_timer& retry, PeerCheck& check,
                 ServerContext& context) {
  acceptor.async_accept([&](boost::system::error_code ec, tcp::socket socket) {
    if (!ec) {
      admit(std::move(socket), check, context);
      return accept_next(acceptor, retry, check, context);
    }
    // Anything else ends accepting; the loop then ends once the open connections are done.
    if (!is_transient(ec)) return;
    retry.expires_after(ACCEPT_RETRY);
    retry.async_wait(
        [&](boost::system::error_code) { accept_next(acceptor, retry, check, context); });
  });
}

// A failure inside a connection's handler loses that connection, never the server.
void run_io(net::io_context& io) {
  for (;;) {
    try {
      io.run();
      return;
    } catch (const std::exception& e) {
      write_stderr(std::string("Connection failed: ") + e.what() + "\n");
    }
  }
}

tcp::acceptor listen_on_loopback(net::io_context& io) {
  tcp::endpoint endpoint(net::ip::make_address_v4(LISTEN_HOST), 0);
  tcp::acceptor acceptor(io, endpoint.protocol());
  ::fcntl(acceptor.native_handle(), F_SETFD, FD_CLOEXEC);
  acceptor.set_option(tcp::acceptor::reuse_address(true));
  acceptor.bind(endpoint);
  acceptor.listen(LISTEN_BACKLOG);
  return acceptor;
}

}  // namespace

int run_server() {
  net::io_context io(1);
  std::optional<tcp::acceptor> acceptor;
  try {
    acceptor.emplace(listen_on_loopback(io));
  } catch (const boost::system::system_error& e) {
    write_stderr(std::string("Started server failed: ") + e.what() + "\n");
    return EXIT_FAILURE;
  }
  uint16_t port = acceptor->local_endpoint().port();
  RequestQueue queue;
  ServerContext context{queue, port};
  net::steady_timer retry(io);
  PeerCheck check{sock_diag_finds(acceptor->native_handle()), {}};
  accept_next(*acceptor, retry, check, context);
  write_stdout(port_line(port));
  std::thread io_thread([&] {
    run_io(io);
    queue.close();
  });
  serve(queue);
  io_thread.join();
  return EXIT_SUCCESS;
}

}  // namespace brackwen
