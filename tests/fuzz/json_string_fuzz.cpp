// Fuzzes the reader of bare string bodies against simdjson's DOM parser: the same bodies accepted,
// the same text read, and the written form reading back to it.
#include <cstdint>
#include <string_view>

#include "api_types/json.hpp"
#include "fuzz_check.hpp"
#include "json_oracle.hpp"
#include "parser/utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brackwen;
  std::string_view body = fuzz_text(data, size);
  std::optional<std::string> read = read_body<std::string>(body);
  DomReading dom = read_with_dom(body);
  fuzz_require(read == dom.string, "the bare string differs from the DOM parser's reading");
  if (!read) return 0;
  fuzz_require(is_valid_utf8(*read), "a string read that is not UTF-8");
  std::string text = to_json(*read);
  fuzz_require(read_body<std::string>(text) == read, "written string reads differently");
  fuzz_require(read_with_dom(text).string == read, "written string is not the DOM's either");
  return 0;
}
