// Credentials in this process: where the ask-pass program lies, the variables behind it, and
// what children see while they change.
#include "git/credentials.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <thread>

#include "git/process.hpp"
#include "stores/environment.hpp"

namespace brackwen {
namespace {

TEST(AskPassPath, IsTwoLevelsAboveTheExecutable) {
  EXPECT_EQ(ask_pass_path("/A/B/C/core"), std::filesystem::path("/A/B/ask-pass/ask-pass"));
  EXPECT_EQ(ask_pass_path("/A/core"), std::filesystem::path("/ask-pass/ask-pass"));
  EXPECT_EQ(ask_pass_path("/core"), std::nullopt);
  EXPECT_EQ(ask_pass_path("core"), std::nullopt);
}

// The ask-pass program built beside the tests answers from the variables set_credentials sets.
TEST(Credentials, AskPassAnswersFromTheVariablesAndANulChangesNothing) {
  auto built = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() /
               "ask-pass" / "ask-pass";
  ASSERT_TRUE(set_credentials("tester", "s3cret"));
  EXPECT_EQ(get_environment("GIT_ASKPASS"), built.string());
  EXPECT_FALSE(set_credentials(std::string("a\0b", 3), "other"));
  EXPECT_FALSE(set_credentials("other", std::string("a\0b", 3)));
  auto ask = [&](const std::string& prompt) {
    auto out = run_process({built.string(), prompt}, "/");
    return out && out->status == 0 ? out->out : "<failed>";
  };
  EXPECT_EQ(ask("Username for 'http://127.0.0.1:1': "), "tester\n");
  EXPECT_EQ(ask("Password for 'http://tester@127.0.0.1:1': "), "s3cret\n");
  EXPECT_EQ(ask("Enter passphrase: "), "s3cret\n");
  {
    auto lock = environment_lock();
    unsetenv("BRACKWEN_USERNAME");
  }
  EXPECT_EQ(ask("Username for 'http://127.0.0.1:1': "), "<failed>");
}

// A git started while the credentials change gets the old pair or the new one, never the new
// user name with the old password.
TEST(Credentials, ChildrenNeverSeeHalfAPair) {
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

}  // namespace
}  // namespace brackwen
