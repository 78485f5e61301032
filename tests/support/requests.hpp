// Request bodies and waiting, shared by every test that talks to the server or polls state.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <thread>

namespace brackwen::test {

// `text` as a JSON string, control characters escaped, other bytes as they are.
inline std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
    out += c == '"' || c == '\\' ? std::string{'\\', char(c)}
           : c < 0x20            ? escaped
                                 : std::string(1, char(c));
  }
  return out + "\"";
}

// A JSON object from keys and values that are JSON already: body({{"repoPath", quoted(p)}}).
inline std::string body(std::initializer_list<std::pair<std::string, std::string>> fields) {
  std::string out = "{";
  for (const auto& [key, value] : fields) {
    if (out.size() > 1) out += ',';
    out += quoted(key) + ":" + value;
  }
  return out + "}";
}

inline std::string repo_body(const std::filesystem::path& repo) {
  return body({{"repoPath", quoted(repo.string())}});
}

// The body of a commit search that waits for the changed files of the repository's whole
// loaded history, which a commit's reply leaves to load after it, and finds nothing.
inline std::string whole_history_body(const std::filesystem::path& repo) {
  return body({{"repoPath", quoted(repo.string())},
               {"searchText", quoted("no commit says this")},
               {"numResults", "0"}});
}

// Polls `condition` every few milliseconds until it holds or `limit` passes; a test that
// waits never guesses how long something takes, and a hang fails instead of stalling.
template <typename Condition>
bool eventually(Condition condition, std::chrono::seconds limit = std::chrono::seconds(30)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace brackwen::test
