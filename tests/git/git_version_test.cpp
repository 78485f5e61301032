#include "git/git_version.hpp"

#include <gtest/gtest.h>

#include "git/stub_git.hpp"
#include "stores/stores.hpp"
#include "support/fresh_process.hpp"

namespace brackwen {
namespace {

struct Case {
  std::string output;
  std::optional<GitVersion> version;
};

class ParseGitVersion : public testing::TestWithParam<Case> {};

TEST_P(ParseGitVersion, Table) {
  EXPECT_EQ(parse_git_version(GetParam().output), GetParam().version);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseGitVersion,
    testing::Values(Case{"git version 2.39.2\n", GitVersion{2, 39, 2}},
                    Case{"git version 2.40\n", GitVersion{2, 40, 0}},
                    Case{"git version 2.39.2.1 (some vendor suffix)\n", GitVersion{2, 39, 2}},
                    Case{"git version 2.39.3 (Apple Git-145)\n", GitVersion{2, 39, 3}},
                    Case{"git version 2.45.windows.1\n", GitVersion{2, 45, 0}},
                    Case{"git version 2.", GitVersion{2, 0, 0}},
                    Case{"git version 4294967295.4294967296.1", GitVersion{4294967295u, 0, 1}},
                    Case{"git version 2.\u0664\u0660.1", GitVersion{2, 0, 1}},  // not ASCII digits
                    Case{"git version unknown\n", GitVersion{0, 0, 0}},
                    Case{"2.39.2\n", std::nullopt}, Case{"", std::nullopt}));

TEST(GitVersionStore, ZeroBeforeAnyLoad) {
  test::in_fresh_process([] { EXPECT_EQ(get_git_version(), (GitVersion{0, 0, 0})); });
}

TEST(GitVersionStore, LoadStoresAndUnreadableOutputKeepsTheValue) {
  {
    test::StubGit stub("echo 'git version 2.40'");
    load_git_version();
    EXPECT_EQ(get_git_version(), (GitVersion{2, 40, 0}));
  }
  {
    test::StubGit stub("echo '3.0.0'");
    load_git_version();
    EXPECT_EQ(get_git_version(), (GitVersion{2, 40, 0}));
  }
  {
    test::StubGit stub("echo 'git version 2.41.0' >&2");
    load_git_version();
    EXPECT_EQ(get_git_version(), (GitVersion{2, 40, 0}));
  }
  {
    test::StubGit stub("exit 1");
    ::unlink((stub.dir.path / "git").c_str());  // nothing named git on the first PATH entry
    set_environment("PATH", stub.dir.str());
    load_git_version();
    EXPECT_EQ(get_git_version(), (GitVersion{2, 40, 0}));
  }
  {
    test::StubGit stub("echo 'git version 2.39.2.1 (some vendor suffix)'; exit 1");
    load_git_version();
    EXPECT_EQ(get_git_version(), (GitVersion{2, 39, 2}));
  }
}

}  // namespace
}  // namespace brackwen
