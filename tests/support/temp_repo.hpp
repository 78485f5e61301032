// Temporary directories and real git repositories for tests, with fixed identities and dates.
#pragma once
#include <algorithm>
#include <filesystem>
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

// A fresh directory under the system's temporary directory, removed with its contents.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::filesystem::path path;
  std::string str() const { return path.string(); }
};

// The whole content of a file, byte for byte; empty when it cannot be read.
std::string read_file(const std::filesystem::path& file);

// Runs `sh -c script` in `dir`; fails the current test when it exits non-zero.
// Returns what the script printed on standard output.
std::string sh(const std::filesystem::path& dir, const std::string& script);

// Runs git with `args` in `dir` under a fixed author, committer and date
// (GIT_AUTHOR_DATE / GIT_COMMITTER_DATE "1700000000 +0000" unless the caller's script sets them).
std::string git(const std::filesystem::path& dir, const std::vector<std::string>& args);

// A repository with `git init -b main`, user name "Test User", e-mail "test@example.com".
struct TempRepo : TempDir {
  TempRepo();
  // Writes `content` to `file` (parents created), stages it and commits with `message`
  // at the given epoch seconds. Returns the new commit id.
  std::string commit_file(const std::string& file, const std::string& content,
                          const std::string& message, long seconds = 1700000000);
  void write(const std::string& file, const std::string& content);
};

}  // namespace brackwen::test
