// Start-up: the environment every git child inherits, and the line that announces the port.
#include "server/startup.hpp"

#include <cstdio>

#include "git/process.hpp"
#include "parser/utf8.hpp"
#include "stores/environment.hpp"

namespace brackwen {

std::optional<std::string> amended_path(const std::optional<std::string>& path) {
  if (!path || !is_valid_utf8(*path)) return std::nullopt;
  if (path->find("usr/local/bin") != std::string::npos) return std::nullopt;
  // An empty PATH followed by ":" would add an empty entry, which means the current
  // directory: git would then be looked up inside the repository being worked on.
  if (path->empty()) return "/usr/local/bin";
  return *path + ":/usr/local/bin";
}

void prepare_environment() {
  set_environment("GIT_TERMINAL_PROMPT", "0");
  if (std::optional<std::string> path = amended_path(get_environment("PATH"))) {
    set_environment("PATH", *path);
  }
}

std::string port_line(uint16_t port) {
  char line[32];
  int n = std::snprintf(line, sizeof line, "PORT:%-12u\n", static_cast<unsigned>(port));
  return std::string(line, static_cast<size_t>(n));
}

}  // namespace brackwen
