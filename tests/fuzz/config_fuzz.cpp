// Fuzzes the `git config --list` grammar: entries written back as "key=value" lines read the
// same again, and every remote comes from a remote.<name>.url key of the entries.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "git/queries/config.hpp"

namespace brackwen {
namespace {

// A value can end with a CR only at the very end of the text, where no LF follows it.
std::string written(const TextMap& entries) {
  std::string out, last;
  for (const auto& [key, value] : entries) {
    fuzz_require(key.find('=') == std::string::npos, "a key holds '='");
    fuzz_require(value.find('\n') == std::string::npos, "a value holds a line feed");
    std::string line = key + "=" + value;
    if (value.ends_with('\r')) {
      fuzz_require(last.empty(), "two values end with a carriage return");
      last = std::move(line);
      continue;
    }
    out += line + "\n";
  }
  return out + last;
}

void check_remotes(const RepoConfig& config) {
  for (const auto& [name, url] : config.remotes) {
    fuzz_require(name.find('.') == std::string::npos, "a remote name holds '.'");
    bool found = false;
    for (const auto& [key, value] : config.entries) {
      found = found || (key.starts_with("remote." + name + ".url") && value == url);
    }
    fuzz_require(found, "a remote without its url entry");
  }
}

}  // namespace
}  // namespace brackwen

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brackwen;
  auto config = read_full_config(fuzz_text(data, size));
  if (!config) return 0;
  check_remotes(*config);
  auto again = read_full_config(written(config->entries));
  fuzz_require(again && again->entries == config->entries, "written entries read differently");
  return 0;
}
