// Routing one request by its raw target: static files, the probe, exit, the "/f/" endpoints.
#pragma once
#include <optional>
#include <span>
#include <string>

#include "server/endpoints.hpp"
#include "server/reply.hpp"

namespace brackwen {

// A request as the loop sees it, after the HTTP layer found it came from the server's own
// pages; nothing in it is decoded.
struct IncomingRequest {
  std::string target;  // the request target exactly as sent, query included
  std::string body;    // empty when the request has none
};

inline constexpr const char* PROBE_REPLY = "brackwen";
inline constexpr const char* EXIT_REPLY = "Brackwen core exiting...";

// The reply, or nothing to drop the request.
std::optional<Reply> route(const IncomingRequest& request, std::span<const Endpoint> endpoints);

}  // namespace brackwen
