// The frame every "/f/" endpoint runs in: read the request record, run, write compact JSON.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "api_types/json.hpp"
#include "server/reply.hpp"

namespace brackwen {

// What an endpoint that answers null returns: written "null".
inline constexpr std::optional<bool> NULL_REPLY;

// Nothing (the request is dropped) when the body is not one R: malformed, mistyped, "null"
// or empty. The reason is never reported.
template <class R, class F>
std::optional<Reply> with_record(std::string_view body, F&& run) {
  std::optional<R> record = read_body<R>(body);
  if (!record) return std::nullopt;
  return text_reply(to_json(std::forward<F>(run)(std::move(*record))));
}

}  // namespace brackwen
