// Fuzzes the data-store file reader against simdjson's DOM parser: a file reads exactly when it
// is one JSON object of strings, to the same map, and a failure names a place in the file.
#include <simdjson.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>

#include "fuzz_check.hpp"
#include "parser/utf8.hpp"
#include "server/data_store_reader.hpp"

namespace brackwen {
namespace {

using Store = std::unordered_map<std::string, std::string>;

// The map an object of strings reads as, a repeated key keeping its later value.
std::optional<Store> store_by_dom(std::string_view text) {
  thread_local simdjson::dom::parser parser;
  simdjson::padded_string padded(text);
  simdjson::dom::object object;
  if (parser.parse(padded).get(object) != simdjson::SUCCESS) return std::nullopt;
  Store store;
  for (auto [key, value] : object) {
    std::string_view text_value;
    if (value.get_string().get(text_value) != simdjson::SUCCESS) return std::nullopt;
    store.insert_or_assign(std::string(key), std::string(text_value));
  }
  return store;
}

void check_place(std::string_view text, const std::string& error) {
  size_t at = error.rfind(" at line ");
  fuzz_require(at != std::string::npos, "a failure without a place");
  size_t line = 0, column = 0;
  fuzz_require(std::sscanf(error.c_str() + at, " at line %zu column %zu", &line, &column) == 2,
               "a failure place that does not read");
  size_t lines = 1;
  for (char c : text) lines += c == '\n';
  fuzz_require(line >= 1 && line <= lines, "a failure on a line the file does not have");
}

}  // namespace
}  // namespace brackwen

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brackwen;
  // The store's loader refuses a file that is not UTF-8 before reading it.
  std::string text = decode_utf8_lossy(fuzz_text(data, size));
  auto read = read_data_store_text(text);
  std::optional<Store> dom = store_by_dom(text);
  if (const auto* error = std::get_if<std::string>(&read)) {
    fuzz_require(!dom, "a valid store refused");
    check_place(text, *error);
    return 0;
  }
  fuzz_require(dom == std::get<Store>(read), "the store differs from the DOM parser's reading");
  return 0;
}
