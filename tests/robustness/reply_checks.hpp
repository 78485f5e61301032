// Checks shared by the robustness tests: whether a reply is well-formed JSON of an allowed
// kind, and following started actions to their end.
#pragma once
#include <httplib.h>
#include <simdjson.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "robustness/request_shapes.hpp"
#include "support/server_harness.hpp"

namespace brackwen::test {

inline HttpReply post_with(httplib::Client& client, const std::string& path,
                           const std::string& body) {
  auto result = client.Post(path, body, "text/plain");
  if (!result) return {};
  return {result->status, result->body, result->get_header_value("Content-Type")};
}

inline std::string first_object_key(simdjson::dom::element element) {
  for (auto field : simdjson::dom::object(element)) return std::string(field.key);
  return "";
}

// Empty when `body` is one JSON value of a kind in `kinds` (and, for an object, starting with one
// of the `|`-separated keys); otherwise what is wrong with it.
inline std::string reply_shape_error(const std::string& body, unsigned kinds,
                                     const std::string& first_keys) {
  simdjson::dom::parser parser;
  simdjson::dom::element element;
  if (parser.parse(body).get(element) != simdjson::SUCCESS) return "not JSON";
  unsigned kind = 0;
  switch (element.type()) {
    case simdjson::dom::element_type::NULL_VALUE:
      kind = kNull;
      break;
    case simdjson::dom::element_type::BOOL:
      kind = kBool;
      break;
    case simdjson::dom::element_type::INT64:
    case simdjson::dom::element_type::UINT64:
      kind = kNumber;
      break;
    case simdjson::dom::element_type::DOUBLE:
      return "a number that is not an integer";
    case simdjson::dom::element_type::STRING:
      kind = kString;
      break;
    case simdjson::dom::element_type::ARRAY:
      kind = kArray;
      break;
    case simdjson::dom::element_type::OBJECT:
      kind = kObject;
      break;
  }
  if (!(kind & kinds)) return "a JSON value of a kind this endpoint never answers";
  if (kind != kObject || first_keys.empty()) return "";
  std::string key = first_object_key(element);
  std::string alternatives = "|" + first_keys + "|";
  if (alternatives.find("|" + key + "|") == std::string::npos) {
    return "an object starting with \"" + key + "\"";
  }
  return "";
}

struct ActionEnd {
  bool done = false;
  bool failed = false;  // "error" was not null
  std::string error;    // its JSON text
  std::string stdout_json;
};

// Polls `id` until it reports done or `deadline` passes.
inline ActionEnd follow_action(httplib::Client& client, uint32_t id,
                               std::chrono::steady_clock::time_point deadline) {
  std::string body = "{\"actionId\":" + std::to_string(id) + "}";
  simdjson::dom::parser parser;
  while (std::chrono::steady_clock::now() < deadline) {
    HttpReply reply = post_with(client, "/f/poll_action2", body);
    simdjson::dom::element state;
    if (reply.status == 200 && parser.parse(reply.body).get(state) == simdjson::SUCCESS &&
        state.is_object()) {
      bool done = false;
      if (state["done"].get(done) == simdjson::SUCCESS && done) {
        return {true, !state["error"].is_null(), simdjson::minify(state["error"]),
                simdjson::minify(state["stdout"])};
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return {};
}

}  // namespace brackwen::test
