// Start-up: the environment every git child inherits, and the line that announces the port.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace brackwen {

// The PATH to set so that git installed under /usr/local/bin is found: the old value with
// ":/usr/local/bin" appended. Nothing (leave PATH alone) when PATH is unset, not UTF-8, or
// already mentions usr/local/bin anywhere.
std::optional<std::string> amended_path(const std::optional<std::string>& path);

// GIT_TERMINAL_PROMPT=0 (a git that needs credentials fails instead of asking a terminal
// nobody sees) and the amended PATH. Runs before any other thread exists.
void prepare_environment();

// "PORT:" and the port left-aligned in 12 characters, then a line feed: always 18 bytes.
std::string port_line(uint16_t port);

}  // namespace brackwen
