// A second opinion on a JSON body for the reader's fuzz targets: simdjson's DOM parser, which
// validates the whole document in its own code path, unlike the On-Demand reader under test.
#pragma once
#include <simdjson.h>

#include <optional>
#include <string>
#include <string_view>

namespace brackwen {

enum class DomVerdict { Valid, Invalid, Unsure };

struct DomReading {
  DomVerdict verdict = DomVerdict::Invalid;
  std::optional<std::string> string;  // the body's value when it is a bare string
};

inline DomReading read_with_dom(std::string_view body) {
  thread_local simdjson::dom::parser parser;
  simdjson::padded_string padded(body);
  simdjson::dom::element element;
  auto error = parser.parse(padded).get(element);
  switch (error) {
    case simdjson::SUCCESS:
      break;
    // Numbers beyond a double, and nesting past the DOM's own limit, are refused there but
    // are plain JSON: the reader may accept them.
    case simdjson::NUMBER_ERROR:
    case simdjson::NUMBER_OUT_OF_RANGE:
    case simdjson::DEPTH_ERROR:
      return {DomVerdict::Unsure, std::nullopt};
    default:
      return {DomVerdict::Invalid, std::nullopt};
  }
  DomReading reading{DomVerdict::Valid, std::nullopt};
  std::string_view text;
  if (element.get_string().get(text) == simdjson::SUCCESS) reading.string = std::string(text);
  return reading;
}

}  // namespace brackwen
