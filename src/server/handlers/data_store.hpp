// "/f/get_data_store" and "/f/set_data_store": the front end's settings file, whole.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "server/reply.hpp"

namespace brackwen {

// The body must be a ReqOptions, though its path is not used.
std::optional<Reply> handle_get_data_store(std::string_view body);
std::optional<Reply> handle_set_data_store(std::string_view body);

}  // namespace brackwen
