// One client connection: its requests read under a deadline and checked before their bodies,
// then queued for the request loop, and the loop's replies written back in order.
#pragma once
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "server/request_queue.hpp"

namespace brackwen {

// A request's headers and body must arrive whole within this long of the connection's
// waiting for it, so a client that trickles bytes or sits idle gives its connection up.
inline constexpr std::chrono::seconds REQUEST_DEADLINE{30};
// The largest body a front end sends is a file it writes through "/f/write_file" or its data
// store, both JSON texts; a larger body is refused with 413 before it is read.
inline constexpr size_t MAX_BODY_BYTES = 64 << 20;
inline constexpr size_t MAX_HEADER_BYTES = 16 << 10;

struct ServerContext {
  RequestQueue& queue;
  uint16_t port;
};

// Serves the connection until it closes; the socket is already known to be the user's own.
void serve_connection(boost::asio::ip::tcp::socket socket, ServerContext& context);

}  // namespace brackwen
