// Credentials end to end: a loopback HTTP server that demands Basic authentication, git's
// ask-pass program, and the environment variables behind them.
#include "git/credentials.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "git/action_starters.hpp"
#include "git/process.hpp"
#include "stores/environment.hpp"
#include "support/actions.hpp"
#include "support/auth_http_repo.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::AuthenticatedRepoServer;
using test::TempDir;
using test::wait_for_action;

constexpr const char* kUser = AuthenticatedRepoServer::user;
constexpr const char* kPassword = AuthenticatedRepoServer::password;

std::string env(const char* name) {
  return get_environment(name).value_or("<unset>");
}

std::string joined(const std::vector<std::string>& parts) {
  std::string all;
  for (const auto& p : parts) all += p;
  return all;
}

void unset_environment(const char* name) {
  auto lock = environment_lock();
  unsetenv(name);
}

std::filesystem::path built_ask_pass() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "ask-pass" /
         "ask-pass";
}

// Only the variables under test decide what git does: no user or system configuration (and
// so no credential helper), no terminal prompt, no ask-pass left over from another test.
struct CredentialsTest : testing::Test {
  void SetUp() override {
    set_environment("GIT_TERMINAL_PROMPT", "0");
    set_environment("GIT_CONFIG_NOSYSTEM", "1");
    set_environment("GIT_CONFIG_GLOBAL", "/dev/null");
    for (auto name : {"GIT_ASKPASS", "SSH_ASKPASS", "BRACKWEN_USERNAME", "BRACKWEN_PASSWORD"}) {
      unset_environment(name);
    }
  }
};

TEST(AskPassPath, IsTwoLevelsAboveTheExecutable) {
  EXPECT_EQ(ask_pass_path("/A/B/C/core"), std::filesystem::path("/A/B/ask-pass/ask-pass"));
  EXPECT_EQ(ask_pass_path("/A/core"), std::filesystem::path("/ask-pass/ask-pass"));
  EXPECT_EQ(ask_pass_path("/core"), std::nullopt);
  EXPECT_EQ(ask_pass_path("core"), std::nullopt);
}

TEST_F(CredentialsTest, SetsTheThreeVariables) {
  EXPECT_TRUE(set_credentials(kUser, kPassword));
  EXPECT_EQ(env("BRACKWEN_USERNAME"), kUser);
  EXPECT_EQ(env("BRACKWEN_PASSWORD"), kPassword);
  EXPECT_EQ(env("GIT_ASKPASS"), built_ask_pass().string());

  EXPECT_FALSE(set_credentials(std::string("a\0b", 3), "other"));
  EXPECT_FALSE(set_credentials("other", std::string("a\0b", 3)));
  EXPECT_EQ(env("BRACKWEN_USERNAME"), kUser);
  EXPECT_EQ(env("BRACKWEN_PASSWORD"), kPassword);
}

// A git started while the credentials change gets the old pair or the new one, never the new
// user name with the old password.
TEST_F(CredentialsTest, ChildrenNeverSeeHalfAPair) {
  std::atomic<int> spawned = 0;
  std::vector<std::string> seen;
  set_credentials("two", "two");  // the first child may start before the loop below
  std::thread spawner([&] {
    for (; spawned < 400; ++spawned) {
      auto out = run_process({"sh", "-c", "echo \"$BRACKWEN_USERNAME $BRACKWEN_PASSWORD\""}, "/");
      if (out) seen.push_back(out->out);
    }
  });
  for (int i = 0; spawned < 400; ++i) set_credentials(i % 2 ? "one" : "two", i % 2 ? "one" : "two");
  spawner.join();
  for (const auto& line : seen) EXPECT_TRUE(line == "one one\n" || line == "two two\n") << line;
}

TEST_F(CredentialsTest, AskPassAnswersUserNameAndPasswordPrompts) {
  set_credentials(kUser, kPassword);
  auto ask = [](const std::string& prompt) {
    auto out = run_process({built_ask_pass().string(), prompt}, "/");
    return out && out->status == 0 ? out->out : "<failed>";
  };
  EXPECT_EQ(ask("Username for 'http://127.0.0.1:1': "), std::string(kUser) + "\n");
  EXPECT_EQ(ask("Password for 'http://tester@127.0.0.1:1': "), std::string(kPassword) + "\n");
  EXPECT_EQ(ask("Enter passphrase: "), std::string(kPassword) + "\n");
  unset_environment("BRACKWEN_USERNAME");
  EXPECT_EQ(ask("Username for 'http://127.0.0.1:1': "), "<failed>");
}

TEST_F(CredentialsTest, CloneWithAWrongPasswordFailsAsCredential) {
  AuthenticatedRepoServer server;
  TempDir target;
  set_credentials(kUser, "wrong");
  ActionState state = wait_for_action(clone_repo(target.str(), server.url()));
  EXPECT_EQ(state.error, (ActionError{ActionError::Kind::Credential, {}}));
  EXPECT_NE(joined(state.stderr_lines).find("Authentication failed for"), std::string::npos);
}

TEST_F(CredentialsTest, OverrideGitHomeReachesGit) {
  TempDir home;
  std::ofstream(home.path / ".gitconfig") << "[brackwen]\n\tprobe = from-home\n";
  unset_environment("GIT_CONFIG_GLOBAL");
  std::string old_home = env("HOME");
  EXPECT_TRUE(override_git_home(home.str()));
  auto out = run_process({"git", "config", "--global", "brackwen.probe"}, "/");
  ASSERT_TRUE(out);
  EXPECT_EQ(out->out, "from-home\n");
  EXPECT_FALSE(override_git_home(std::string("/tmp\0x", 6)));
  EXPECT_EQ(env("HOME"), home.str());
  set_environment("HOME", old_home);
}

}  // namespace
}  // namespace brackwen
