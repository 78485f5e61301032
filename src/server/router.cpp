// Routing one request by its raw target: static files, the probe, exit, the "/f/" endpoints.
#include "server/router.hpp"

#include <string_view>

#include "server/static_files.hpp"

namespace brackwen {

std::optional<Reply> route(const IncomingRequest& request, std::span<const Endpoint> endpoints) {
  std::string_view target = request.target;
  // Only the first three bytes choose the route: "/ping" is the probe, "/exit" ends.
  std::string_view prefix = target.substr(0, 3);
  if (prefix == "/r/") return serve_static_file(target);
  if (prefix == "/pi") return text_reply(PROBE_REPLY);
  if (prefix == "/ex") {
    Reply reply = text_reply(EXIT_REPLY);
    reply.exit_after_sending = true;
    return reply;
  }
  if (prefix != "/f/") return std::nullopt;
  Handler handler = find_endpoint(endpoints, target.substr(3));
  if (!handler) return std::nullopt;
  return handler(request.body);
}

}  // namespace brackwen
