#include "support/temp_repo.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace brackwen::test {
namespace {

std::string quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

constexpr const char* kGitEnv =
    "export GIT_AUTHOR_NAME='Test User' GIT_AUTHOR_EMAIL=test@example.com "
    "GIT_COMMITTER_NAME='Test User' GIT_COMMITTER_EMAIL=test@example.com "
    "GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null; "
    ": ${GIT_AUTHOR_DATE:='1700000000 +0000'} ${GIT_COMMITTER_DATE:='1700000000 +0000'}; "
    "export GIT_AUTHOR_DATE GIT_COMMITTER_DATE; ";

}  // namespace

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "brackwen-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path = std::filesystem::canonical(tmpl);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

std::string read_file(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string sh(const std::filesystem::path& dir, const std::string& script) {
  std::string cmd = "cd " + quote(dir.string()) + " && " + kGitEnv + script;
  FILE* pipe = popen(cmd.c_str(), "r");
  if (!pipe) {
    ADD_FAILURE() << "popen failed: " << script;
    return "";
  }
  std::string out;
  std::array<char, 65536> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
  int status = pclose(pipe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    ADD_FAILURE() << "command failed (" << status << "): " << script << "\n" << out;
  }
  return out;
}

std::string git(const std::filesystem::path& dir, const std::vector<std::string>& args) {
  std::string cmd = "git";
  for (const auto& a : args) cmd += " " + quote(a);
  return sh(dir, cmd);
}

TempRepo::TempRepo() {
  git(path, {"init", "-q", "-b", "main"});
  git(path, {"config", "user.name", "Test User"});
  git(path, {"config", "user.email", "test@example.com"});
  git(path, {"config", "commit.gpgsign", "false"});
}

void TempRepo::write(const std::string& file, const std::string& content) {
  auto p = path / file;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << content;
}

std::string TempRepo::commit_file(const std::string& file, const std::string& content,
                                  const std::string& message, long seconds) {
  write(file, content);
  git(path, {"add", "--", file});
  std::string date = std::to_string(seconds) + " +0000";
  sh(path, "GIT_AUTHOR_DATE=" + quote(date) + " GIT_COMMITTER_DATE=" + quote(date) +
               " git commit -q -m " + quote(message));
  std::string id = git(path, {"rev-parse", "HEAD"});
  while (!id.empty() && id.back() == '\n') id.pop_back();
  return id;
}

}  // namespace brackwen::test
