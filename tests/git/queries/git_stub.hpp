// Test helpers for the queries: a git config free of the user's settings, and a `git` first on
// PATH that records every argument list and then runs the real git (or prints a fixed reply).
#pragma once
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "git/process.hpp"
#include "git/stub_git.hpp"
#include "stores/environment.hpp"
#include "support/temp_repo.hpp"

namespace brackwen::test {

// The queries run git with the test process's environment; keep the user's config out.
inline void use_plain_git_config() {
  set_environment("GIT_CONFIG_GLOBAL", "/dev/null");
  set_environment("GIT_CONFIG_NOSYSTEM", "1");
}

inline std::string real_git_path() {
  TempDir here;
  std::string path = sh(here.path, "command -v git");
  while (!path.empty() && path.back() == '\n') path.pop_back();
  return path;
}

struct GitRecorder {
  // With `reply`, git is not run at all: every call prints exactly that text.
  explicit GitRecorder(const std::optional<std::string>& reply = std::nullopt)
      : log(files.path / "calls"), stub(script(reply)) {}

  // One entry per git run: its arguments joined by blanks.
  std::vector<std::string> calls() const {
    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  TempDir files;
  std::filesystem::path log;
  StubGit stub;

 private:
  std::string script(const std::optional<std::string>& reply) {
    use_plain_git_config();
    std::string body = "printf '%s\\n' \"$*\" >> '" + log.string() + "'\n";
    if (!reply) return body + "exec '" + real_git_path() + "' \"$@\"";
    std::ofstream(files.path / "reply", std::ios::binary) << *reply;
    return body + "cat '" + (files.path / "reply").string() + "'";
  }
};

}  // namespace brackwen::test
