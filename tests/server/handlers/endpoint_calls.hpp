// Calls of the running server for the handler tests: JSON bodies from texts, the commit cache
// filled through "/f/load_commits_and_refs", and polling until a condition holds.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/server_harness.hpp"

namespace brackwen::test {

// A JSON string; the paths and ids of these tests need no escapes beyond these two.
inline std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

inline std::string repo_body(const std::string& repo_path) {
  return "{\"repoPath\":" + quoted(repo_path) + "}";
}

inline void load_commits(const ServerProcess& server, const std::string& repo_path) {
  HttpReply reply = server.post("/f/load_commits_and_refs",
                                "{\"repoPath\":" + quoted(repo_path) +
                                    ",\"numCommits\":500,\"filters\":[],\"fast\":false,"
                                    "\"skipStashes\":false}");
  ASSERT_EQ(reply.status, 200);
  ASSERT_NE(reply.body, "null");
}

// Posts until the reply body holds `text` (up to 30 s); returns the last reply body.
inline std::string post_until(const ServerProcess& server, const std::string& path,
                              const std::string& body, const std::string& text) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::string last;
  while (std::chrono::steady_clock::now() < deadline) {
    last = server.post(path, body).body;
    if (last.find(text) != std::string::npos) return last;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << path << " never answered with " << text << "; last: " << last;
  return last;
}

}  // namespace brackwen::test
