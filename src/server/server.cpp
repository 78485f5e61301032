// The HTTP server on 127.0.0.1 and the loop that answers its requests one at a time.
#include "server/server.hpp"

#include <fcntl.h>
#include <httplib.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "diagnostics.hpp"
#include "server/endpoints.hpp"
#include "server/request_queue.hpp"
#include "server/router.hpp"
#include "server/startup.hpp"
#include "stdout_queue.hpp"

namespace brackwen {
namespace {

constexpr const char* LISTEN_HOST = "127.0.0.1";
constexpr int LISTEN_BACKLOG = 128;
// Each open connection holds one of these threads until it closes; browsers keep about six
// per host, and the rest wait in the library's queue.
constexpr size_t CONNECTION_THREADS = 32;
// The library matches route patterns with std::regex, which recurses once per byte of the
// decoded path (up to 8 KiB, longer targets get 414): about 4 MiB of stack. Threads get
// only 2 MiB when the stack limit is unlimited.
constexpr const char* ANY_PATH = "[\\s\\S]*";
constexpr size_t THREAD_STACK_BYTES = 16 << 20;
constexpr size_t FILE_CHUNK_BYTES = 64 << 10;
// Check lines still waiting for the pipe are given this long before "/ex" ends the process.
constexpr std::chrono::milliseconds EXIT_FLUSH_LIMIT{200};

// Releases the loop once the library lets go of the reply: the content provider holding it
// lives in the library's Response, which is destroyed only after the body was written (or
// writing failed), and a dropped request lets go at once.
struct Delivery {
  std::promise<void> done;
  ~Delivery() { done.set_value(); }
};

void use_large_thread_stacks() {
  pthread_attr_t attr;
  if (pthread_getattr_default_np(&attr) != 0) return;
  pthread_attr_setstacksize(&attr, THREAD_STACK_BYTES);
  pthread_setattr_default_np(&attr);
  pthread_attr_destroy(&attr);
}

std::vector<std::string> header_values(const httplib::Request& req, const char* name) {
  std::vector<std::string> values;
  size_t count = req.get_header_value_count(name);
  for (size_t i = 0; i < count; ++i) values.push_back(req.get_header_value(name, i));
  return values;
}

ssize_t read_at(int fd, char* buffer, size_t size, size_t offset) {
  for (;;) {
    ssize_t n = ::pread(fd, buffer, size, static_cast<off_t>(offset));
    if (n >= 0 || errno != EINTR) return n;
  }
}

void set_body(httplib::Response& res, Reply reply, std::shared_ptr<Delivery> delivery) {
  if (auto* text = std::get_if<std::string>(&reply.body)) {
    auto body = std::make_shared<const std::string>(std::move(*text));
    res.set_content_provider(
        body->size(), reply.content_type,
        [body, delivery](size_t offset, size_t length, httplib::DataSink& sink) {
          return sink.write(body->data() + offset, length);
        });
    return;
  }
  auto file = std::get<std::shared_ptr<const OpenFile>>(reply.body);
  res.set_content_provider(file->size, reply.content_type,
                           [file, delivery](size_t offset, size_t length, httplib::DataSink& sink) {
                             std::string chunk(std::min(length, FILE_CHUNK_BYTES), '\0');
                             ssize_t n = read_at(file->fd, chunk.data(), chunk.size(), offset);
                             // A file that shrank or cannot be read cuts the reply short; the
                             // client sees a body shorter than its length.
                             if (n <= 0) return false;
                             return sink.write(chunk.data(), static_cast<size_t>(n));
                           });
}

// Runs on the library's connection threads: queue the request, wait for the loop's answer.
void answer_from_loop(RequestQueue& queue, const httplib::Request& req, httplib::Response& res) {
  try {
    auto delivery = std::make_shared<Delivery>();
    auto job = std::make_shared<Job>();
    job->request = {req.target, req.body, header_values(req, "Host"), header_values(req, "Origin")};
    job->delivered = delivery->done.get_future();
    std::future<std::optional<Reply>> answer = job->reply.get_future();
    res.status = 500;
    if (!queue.push(std::move(job))) return;
    std::optional<Reply> reply = answer.get();
    if (!reply) return;
    res.status = -1;  // the library picks 200 (or 206 for a range request)
    set_body(res, std::move(*reply), std::move(delivery));
  } catch (...) {
    res.status = 500;
  }
}

std::optional<Reply> answer(const IncomingRequest& request, uint16_t port) {
  try {
    return route(request, port, endpoint_table());
  } catch (const std::exception& e) {
    write_stderr("Request " + request.target + " failed: " + e.what() + "\n");
  } catch (...) {
    write_stderr("Request " + request.target + " failed\n");
  }
  return std::nullopt;
}

[[noreturn]] void end_process() {
  flush_stdout_queue(EXIT_FLUSH_LIMIT);
  // Detached threads (actions, searches, the watcher) are cut off, not waited for.
  ::_exit(EXIT_SUCCESS);
}

void serve(RequestQueue& queue, uint16_t port) {
  while (std::shared_ptr<Job> job = queue.pop()) {
    std::optional<Reply> reply = answer(job->request, port);
    bool exit_after = reply && reply->exit_after_sending;
    job->reply.set_value(std::move(reply));
    job->delivered.wait();
    if (exit_after) end_process();
  }
}

}  // namespace

int run_server() {
  use_large_thread_stacks();
  httplib::Server server;
  RequestQueue queue;
  int listen_fd = -1;
  server.new_task_queue = [] { return new httplib::ThreadPool(CONNECTION_THREADS); };
  server.set_socket_options([&listen_fd](socket_t fd) {
    int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    // Inherited by accepted connections: a reply's header and body leave as separate
    // writes, which Nagle's algorithm would hold back for the client's delayed ACK.
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    listen_fd = fd;
  });
  auto handler = [&queue](const httplib::Request& req, httplib::Response& res) {
    answer_from_loop(queue, req, res);
  };
  server.Get(ANY_PATH, handler)
      .Post(ANY_PATH, handler)
      .Put(ANY_PATH, handler)
      .Patch(ANY_PATH, handler)
      .Delete(ANY_PATH, handler)
      .Options(ANY_PATH, handler);
  int port = server.bind_to_any_port(LISTEN_HOST);
  if (port <= 0) {
    write_stderr(std::string("Started server failed: ") + std::strerror(errno) + "\n");
    return EXIT_FAILURE;
  }
  // The library listens with a backlog of 5; listening again only raises it.
  ::listen(listen_fd, LISTEN_BACKLOG);
  write_stdout(port_line(static_cast<uint16_t>(port)));
  std::thread library([&] {
    try {
      server.listen_after_bind();
    } catch (...) {
    }
    queue.close();
  });
  serve(queue, static_cast<uint16_t>(port));
  library.join();
  return EXIT_SUCCESS;
}

}  // namespace brackwen
