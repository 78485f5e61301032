// The one way a fuzz target reports a broken property: a line on standard output (libFuzzer
// runs with standard error closed, as the grammars report every parse failure there), then abort.
#pragma once
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "parser/diagnostics.hpp"

namespace brackwen {

inline void fuzz_require(bool holds, std::string_view property) {
  if (holds) return;
  write_stdout(std::string("broken property: ").append(property).append("\n"));
  flush_diagnostics(std::chrono::seconds(5));
  std::abort();
}

inline std::string_view fuzz_text(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace brackwen
