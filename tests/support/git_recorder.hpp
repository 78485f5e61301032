// A script named git first on PATH for the life of the object: it logs the arguments of every
// call, then runs a body of the test's choosing, by default the real git. PATH is process-wide
// and is restored on exit.
#pragma once
#include <sys/stat.h>

#include <cstdio>
#include <optional>
#include <string_view>

#include "stores/environment.hpp"
#include "support/temp_repo.hpp"

namespace brackwen::test {

// The queries run git with the test process's environment; keep the user's config out.
inline void use_plain_git_config() {
  set_environment("GIT_CONFIG_GLOBAL", "/dev/null");
  set_environment("GIT_CONFIG_NOSYSTEM", "1");
}

// A body that prints exactly `out`, byte for byte, and exits with `status`.
inline std::string printing(std::string_view out, int status = 0) {
  std::string body = "printf '";
  for (unsigned char c : out) {
    char octal[8];
    std::snprintf(octal, sizeof octal, "\\%03o", c);
    body += octal;
  }
  return body + "'; exit " + std::to_string(status);
}

struct GitRecorder {
  // `body` is shell text; "$REAL_GIT" names the git that was first on PATH before.
  explicit GitRecorder(const std::string& body = "exec \"$REAL_GIT\" \"$@\"") {
    use_plain_git_config();
    std::string real = trimmed(sh(dir.path, "command -v git"));
    std::ofstream(dir.path / "git") << "#!/bin/sh\nREAL_GIT='" << real
                                    << "'\nprintf '%s\\n' \"$*\" >> '" << log.string() << "'\n"
                                    << body << "\n";
    ::chmod((dir.path / "git").c_str(), 0755);
    old_path = get_environment("PATH");
    set_environment("PATH", dir.str() + ":" + old_path.value_or("/usr/bin:/bin"));
  }
  ~GitRecorder() {
    if (old_path) set_environment("PATH", *old_path);
  }

  // One entry per call: its arguments joined by blanks.
  std::vector<std::string> calls() const {
    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  TempDir dir;
  std::filesystem::path log = dir.path / "calls";
  std::optional<std::string> old_path;
};

}  // namespace brackwen::test
