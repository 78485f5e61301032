// Temporary directories and real git repositories for tests, with fixed identities and dates.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace brackwen::test {

// The ids in order, for comparing sets that git or a hash map gives in no fixed order.
inline std::vector<std::string> sorted(std::vector<std::string> ids) {
  std::sort(ids.begin(), ids.end());
  return ids;
}

// The text without its trailing line ends, as git's one-line answers are compared.
inline std::string trimmed(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// The whole content of a file, byte for byte; empty when it cannot be read.
inline std::string read_file(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// How many descriptors this process holds open: a leak shows as a difference.
inline size_t open_descriptors() {
  return static_cast<size_t>(
      std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

// Whether the process is gone, or is a zombie nobody has reaped yet (a read of its stat line
// fails once it is reaped, which istream turns into an empty line).
inline bool process_ended(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(file, stat);
  size_t name_end = stat.rfind(')');
  return name_end == std::string::npos || stat.substr(name_end + 2, 1) == "Z";
}

// A fresh directory under the system's temporary directory, removed with its contents.
struct TempDir {
  TempDir() {
    std::string name = (std::filesystem::temp_directory_path() / "brackwen-test-XXXXXX").string();
    if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
    path = std::filesystem::canonical(name);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::filesystem::path path;
  std::string str() const { return path.string(); }
};

inline std::string shell_quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs `sh -c script` in `dir` under a fixed author, committer and date (GIT_AUTHOR_DATE and
// GIT_COMMITTER_DATE "1700000000 +0000" unless the script sets them) and no user or system
// configuration; fails the current test when it exits non-zero. Returns its standard output.
inline std::string sh(const std::filesystem::path& dir, const std::string& script) {
  std::string command =
      "cd " + shell_quoted(dir.string()) +
      " && export GIT_AUTHOR_NAME='Test User' GIT_AUTHOR_EMAIL=test@example.com "
      "GIT_COMMITTER_NAME='Test User' GIT_COMMITTER_EMAIL=test@example.com "
      "GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null; "
      ": ${GIT_AUTHOR_DATE:='1700000000 +0000'} ${GIT_COMMITTER_DATE:='1700000000 +0000'}; "
      "export GIT_AUTHOR_DATE GIT_COMMITTER_DATE; " +
      script;
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[65536];
  for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  int status = pipe ? pclose(pipe) : -1;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    ADD_FAILURE() << "command failed (" << status << "): " << script << "\n" << out;
  }
  return out;
}

// Runs git with `args` in `dir` as `sh` does.
inline std::string git(const std::filesystem::path& dir, const std::vector<std::string>& args) {
  std::string command = "git";
  for (const auto& arg : args) command += " " + shell_quoted(arg);
  return sh(dir, command);
}

// `text` with each {rev} replaced by the id `git rev-parse rev` gives in `repo`. A brace whose
// text holds a quote or another brace is left as it is: it belongs to JSON around the names.
inline std::string with_ids(const std::filesystem::path& repo, const std::string& text) {
  std::string out;
  size_t at = 0;
  for (size_t open; (open = text.find('{', at)) != std::string::npos;) {
    size_t close = text.find_first_of("{}\"", open + 1);
    if (close == std::string::npos || text[close] != '}' || close == open + 1) {
      out += text.substr(at, open + 1 - at);
      at = open + 1;
      continue;
    }
    out += text.substr(at, open - at);
    out += trimmed(git(repo, {"rev-parse", text.substr(open + 1, close - open - 1)}));
    at = close + 1;
  }
  return out + text.substr(at);
}

// Whether the git on PATH can fetch over HTTP: a git built without curl (as the older gits
// the suite is also run with may be) has no helper for it.
inline bool git_speaks_http() {
  return std::filesystem::exists(trimmed(git(".", {"--exec-path"})) + "/git-remote-http");
}

// A repository with `git init -b main`, user name "Test User", e-mail "test@example.com".
struct TempRepo : TempDir {
  TempRepo() {
    sh(path,
       "git init -q -b main && git config user.name 'Test User' && "
       "git config user.email test@example.com && git config commit.gpgsign false");
  }
  // Writes `content` to `file` (parents created), stages it and commits with `message`
  // at the given epoch seconds. Returns the new commit id.
  std::string commit_file(const std::string& file, const std::string& content,
                          const std::string& message, long seconds = 1700000000) {
    write(file, content);
    std::string date = shell_quoted(std::to_string(seconds) + " +0000");
    return trimmed(sh(path, "git add -- " + shell_quoted(file) + " && GIT_AUTHOR_DATE=" + date +
                                " GIT_COMMITTER_DATE=" + date + " git commit -q -m " +
                                shell_quoted(message) + " && git rev-parse HEAD"));
  }
  void write(const std::string& file, const std::string& content) {
    std::filesystem::create_directories((path / file).parent_path());
    std::ofstream(path / file, std::ios::binary) << content;
  }
};

}  // namespace brackwen::test
