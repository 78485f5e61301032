// Routing one request by its raw target: static files, the probe, exit, the "/f/" endpoints.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "server/endpoints.hpp"
#include "server/reply.hpp"

namespace brackwen {

// A request as the loop sees it; nothing in it is decoded.
struct IncomingRequest {
  std::string target;                // the request target exactly as sent, query included
  std::string body;                  // empty when the library read none (a GET)
  std::vector<std::string> hosts;    // every Host header value
  std::vector<std::string> origins;  // every Origin header value
};

inline constexpr const char* PROBE_REPLY = "brackwen";
inline constexpr const char* EXIT_REPLY = "Brackwen core exiting...";

// The reply, or nothing to drop the request. `port` is the one the server listens on.
std::optional<Reply> route(const IncomingRequest& request, uint16_t port,
                           std::span<const Endpoint> endpoints);

}  // namespace brackwen
