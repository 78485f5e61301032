#include "git/run_git.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "git/stub_git.hpp"

namespace brackwen {
namespace {

using test::StubGit;
using test::TempDir;

TEST(RunGit, OutputOnlyOnStandardErrorIsAbsent) {
  StubGit stub("echo 'fatal: not a git repository' >&2; exit 128");
  TempDir dir;
  EXPECT_EQ(run_git(dir.str(), {"status"}), std::nullopt);
}

TEST(RunGit, OutputOfAFailingCommandIsKept) {
  StubGit stub("echo partial; echo oops >&2; exit 1");
  TempDir dir;
  EXPECT_EQ(run_git(dir.str(), {"log"}), "partial\n");
}

TEST(RunGit, InvalidUtf8BecomesReplacementCharacters) {
  StubGit stub(R"(printf 'caf\303\251 \377 \342\202 end')");
  TempDir dir;
  EXPECT_EQ(run_git(dir.str(), {"log"}), "café \uFFFD \uFFFD end");
}

TEST(RunGit, ArgumentsAndInputArePassedAsIsInTheRepositoryDirectory) {
  StubGit stub(R"(pwd; printf '[%s]\n' "$@"; cat)");
  TempDir dir;
  auto sub = dir.path / "dír with space";
  std::filesystem::create_directory(sub);
  std::vector<std::string> args{"log", "a b", "$(touch x)", "-", "*", "", "it's"};
  std::string echoed = sub.string() + "\n[log]\n[a b]\n[$(touch x)]\n[-]\n[*]\n[]\n[it's]\n";
  EXPECT_EQ(run_git(sub.string(), args), echoed);
  EXPECT_EQ(run_git_with_input(sub.string(), args, {"'$1' \\n", "`x`"}),
            echoed + "'$1' \\n\n`x`\n");
  EXPECT_FALSE(std::filesystem::exists(sub / "x"));
}

TEST(RunGit, MegabytesOnBothStreamsAtOnceDoNotHang) {
  // stderr is filled first: a reader that waits for stdout's end would block forever.
  StubGit stub(
      "head -c 2097152 /dev/zero | tr '\\0' e >&2; head -c 2097152 /dev/zero | tr '\\0' o");
  TempDir dir;
  auto out = run_git(dir.str(), {"log"});
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, std::string(2097152, 'o'));
}

TEST(RunGit, MissingDirectoryStartsNoGit) {
  TempDir dir;
  auto marker = dir.path / "ran";
  StubGit stub("touch '" + marker.string() + "'; echo out");
  EXPECT_EQ(run_git((dir.path / "missing").string(), {"status"}), std::nullopt);
  EXPECT_EQ(run_git((dir.path / "ran").string(), {"status"}), std::nullopt);  // not yet a dir
  EXPECT_FALSE(std::filesystem::exists(marker));
  EXPECT_EQ(run_git(dir.str(), {"status"}), "out\n");
  EXPECT_TRUE(std::filesystem::exists(marker));
}

TEST(RunGit, NulInAnArgumentOrTheDirectoryStartsNoGit) {
  TempDir dir;
  auto marker = dir.path / "ran";
  StubGit stub("touch '" + marker.string() + "'; echo out");
  EXPECT_EQ(run_git(dir.str(), {"show", std::string("HEAD\0--output=x", 15)}), std::nullopt);
  EXPECT_EQ(run_git(dir.str() + std::string("\0/sub", 5), {"status"}), std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST(RunGit, NoGitOnPathIsAbsent) {
  TempDir empty;
  auto old_path = get_environment("PATH");
  set_environment("PATH", empty.str());
  auto out = run_git(empty.str(), {"--version"});
  set_environment("PATH", old_path.value_or(""));
  EXPECT_EQ(out, std::nullopt);
}

TEST(RunGit, RealGitInARepository) {
  test::TempRepo repo;
  std::string id = repo.commit_file("naïve.txt", "x\n", "first");
  EXPECT_EQ(run_git(repo.str(), {"rev-parse", "HEAD"}), id + "\n");
  EXPECT_EQ(run_git(repo.str(), {"rev-parse", "--verify", "-q", "nope"}), std::nullopt);
}

}  // namespace
}  // namespace brackwen
