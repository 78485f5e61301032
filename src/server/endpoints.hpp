// The table of "/f/" endpoints: the path after "/f/" and the handler that answers it.
#pragma once
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "server/reply.hpp"

namespace brackwen {

// The reply (JSON text), or nothing to drop the request (the HTTP layer then answers 500).
using Handler = std::optional<Reply> (*)(std::string_view body);

struct Endpoint {
  std::string_view path;  // after "/f/", compared byte for byte with the request target
  Handler handler;
};

std::span<const Endpoint> endpoint_table();

// The handler whose path equals `path` exactly (query string and letter case included).
Handler find_endpoint(std::span<const Endpoint> table, std::string_view path);

}  // namespace brackwen
