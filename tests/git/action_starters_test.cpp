// Starters against real git: directories, clone, fetch, stashes and the changed flags.
#include "git/action_starters.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "stores/stores.hpp"
#include "support/actions.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::git;
using test::TempDir;
using test::TempRepo;
using test::trimmed;
using test::wait_for_action;

TEST(SubmoduleFlag, DependsOnEachVersionPartByItself) {
  struct Case {
    std::optional<GitVersion> version;
    std::string_view flag;
  };
  const Case cases[] = {
      {GitVersion{2, 13, 0}, "--recurse-submodules"},
      {GitVersion{2, 40, 1}, "--recurse-submodules"},
      {GitVersion{2, 12, 5}, "--recursive"},
      {GitVersion{3, 0, 0}, "--recursive"},
      {GitVersion{1, 9, 0}, "--recursive"},
      {GitVersion{0, 0, 0}, "--recursive"},
      {std::nullopt, "--recursive"},
  };
  for (const auto& c : cases) EXPECT_EQ(submodule_flag(c.version), c.flag);
}

TEST(CreateRepo, MakesMissingParentsThenRunsInit) {
  TempDir dir;
  auto target = dir.path / "a" / "b é" / "c";
  ActionState state = wait_for_action(create_repo(target.string()));
  EXPECT_EQ(state.error, std::nullopt);
  EXPECT_TRUE(std::filesystem::is_directory(target / ".git"));
  // An existing repository is initialised again, which git allows.
  EXPECT_EQ(wait_for_action(create_repo(target.string())).error, std::nullopt);
}

TEST(CreateRepo, StartsNothingWhereNoDirectoryCanBeMade) {
  TempDir dir;
  std::ofstream(dir.path / "file") << "x";
  auto last = get_counter(LAST_ACTION_ID());
  EXPECT_EQ(create_repo((dir.path / "file" / "repo").string()), 0u);
  EXPECT_EQ(clone_repo((dir.path / "file" / "repo").string(), "/nowhere"), 0u);
  // A NUL would otherwise cut the path short and make "cut".
  EXPECT_EQ(create_repo(dir.str() + "/cut" + std::string("\0/rest", 6)), 0u);
  EXPECT_FALSE(std::filesystem::exists(dir.path / "cut"));
  EXPECT_EQ(get_counter(LAST_ACTION_ID()), last);
}

struct Remote {
  TempRepo source;
  TempDir bare_dir;
  std::filesystem::path bare = bare_dir.path / "origin.git";
  Remote() {
    source.commit_file("readme.txt", "hello\n", "first");
    git(bare_dir.path, {"clone", "-q", "--bare", source.str(), bare.string()});
  }
};

TEST(CloneRepo, ClonesIntoANewNestedDirectory) {
  Remote remote;
  TempDir dir;
  auto target = dir.path / "x" / "y";
  ActionState state = wait_for_action(clone_repo(target.string(), remote.bare.string()));
  EXPECT_EQ(state.error, std::nullopt);
  EXPECT_EQ(test::read_file(target / "origin" / "readme.txt"), "hello\n");
  EXPECT_EQ(clone_repo(target.string(), "--upload-pack=touch /tmp/x"), 0u);
}

TEST(FetchAll, FetchesAndPrunes) {
  Remote remote;
  TempDir dir;
  git(dir.path, {"clone", "-q", remote.bare.string(), "clone"});
  auto clone = dir.path / "clone";
  git(remote.bare, {"branch", "extra", "main"});
  git(clone, {"fetch", "-q"});
  git(remote.bare, {"branch", "-D", "extra"});
  remote.source.commit_file("new.txt", "new\n", "second", 1700000100);
  git(remote.source.path, {"push", "-q", remote.bare.string(), "main"});

  ActionState state = wait_for_action(fetch_all(clone.string()));
  EXPECT_EQ(state.error, std::nullopt);
  EXPECT_EQ(trimmed(git(clone, {"rev-parse", "origin/main"})),
            trimmed(git(remote.source.path, {"rev-parse", "HEAD"})));
  EXPECT_EQ(git(clone, {"branch", "-r", "--list", "origin/extra"}), "");
}

TEST(StartCommand, MarksAWatchedRepositoryChangedEvenWhenTheCommandFails) {
  TempRepo repo;
  set_repo_changed({{repo.str(), false}, {"/other", false}});
  ActionState state = wait_for_action(start_command(repo.str(), {"rev-parse", "--verify", "nope"}));
  EXPECT_EQ(state.error, (ActionError{ActionError::Kind::Git, {}}));
  auto flags = get_repo_changed();
  EXPECT_EQ(flags, (std::unordered_map<std::string, bool>{{repo.str(), true}, {"/other", false}}));

  set_repo_changed({});
  wait_for_action(start_commands("/unwatched", {}));
  EXPECT_EQ(get_repo_changed(), (std::unordered_map<std::string, bool>{}));
}

TEST(StartCommand, PassesArgumentsUnchanged) {
  TempRepo repo;
  ActionState state = wait_for_action(start_commands(
      repo.str(),
      {{"commit", "-q", "--allow-empty", "-m", "two words; $HOME"}, {"log", "--format=%s"}}));
  EXPECT_EQ(state.error, std::nullopt);
  EXPECT_EQ(state.stdout_lines, std::vector<std::string>{"two words; $HOME"});
  // No arguments at all: git prints its usage and fails.
  EXPECT_EQ(wait_for_action(start_command(repo.str(), {})).error,
            (ActionError{ActionError::Kind::Git, {}}));
}

// A repository with a staged change to a.txt, an unstaged one to b.txt and an untracked c.txt.
struct MixedChanges : TempRepo {
  std::string head;
  MixedChanges() {
    commit_file("a.txt", "a\n", "a");
    head = commit_file("b.txt", "b\n", "b");
    write("a.txt", "a staged\n");
    git(path, {"add", "a.txt"});
    write("b.txt", "b unstaged\n");
    write("c.txt", "c untracked\n");
  }
  std::string status() { return git(path, {"status", "--porcelain"}); }
  std::string stash_files(const std::string& stash) {
    return git(path, {"stash", "show", "--include-untracked", "--name-only", stash});
  }
  std::string stash_count() {
    return trimmed(git(path, {"rev-list", "--walk-reflogs", "--count", "refs/stash"}));
  }
};

TEST(StashChanges, StashesEverythingIncludingUntracked) {
  MixedChanges repo;
  ActionState state = wait_for_action(stash_changes(repo.str()));
  EXPECT_EQ(state.error, std::nullopt);
  EXPECT_EQ(repo.status(), "");
  EXPECT_EQ(repo.stash_files("stash@{0}"), "a.txt\nb.txt\nc.txt\n");
}

TEST(StashStaged, KeepsOnlyTheStagedChangesInTheNewStash) {
  MixedChanges repo;
  ActionState state = wait_for_action(stash_staged(repo.str(), repo.head));
  EXPECT_EQ(state.error, std::nullopt);
  EXPECT_EQ(repo.stash_count(), "1");
  EXPECT_EQ(repo.stash_files("stash@{0}"), "a.txt\n");
  EXPECT_EQ(repo.status(), " M b.txt\n?? c.txt\n");
  EXPECT_EQ(test::read_file(repo.path / "a.txt"), "a\n");
  EXPECT_EQ(test::read_file(repo.path / "b.txt"), "b unstaged\n");
  EXPECT_EQ(trimmed(git(repo.path, {"rev-parse", "HEAD"})), repo.head);
}

TEST(StashStaged, LeavesAnOlderStashAloneWhenOnlyStagedChangesExist) {
  TempRepo repo;
  repo.commit_file("a.txt", "a\n", "a");
  std::string head = repo.commit_file("b.txt", "b\n", "b");
  repo.write("b.txt", "older\n");
  git(repo.path, {"stash", "push", "-q"});
  repo.write("a.txt", "a staged\n");
  git(repo.path, {"add", "a.txt"});

  ActionState state = wait_for_action(stash_staged(repo.str(), head));
  EXPECT_EQ(state.error, std::nullopt);
  EXPECT_EQ(git(repo.path, {"status", "--porcelain"}), "");
  EXPECT_EQ(git(repo.path, {"stash", "show", "--name-only", "stash@{0}"}), "a.txt\n");
  EXPECT_EQ(git(repo.path, {"stash", "show", "--name-only", "stash@{1}"}), "b.txt\n");
  EXPECT_EQ(test::read_file(repo.path / "b.txt"), "b\n");
}

TEST(StashStaged, NothingStagedFailsAtTheCommitAndTouchesNothing) {
  TempRepo repo;
  std::string head = repo.commit_file("a.txt", "a\n", "a");
  repo.write("a.txt", "unstaged\n");
  ActionState state = wait_for_action(stash_staged(repo.str(), head));
  EXPECT_EQ(state.error, (ActionError{ActionError::Kind::Git, {}}));
  EXPECT_EQ(git(repo.path, {"status", "--porcelain"}), " M a.txt\n");
  EXPECT_EQ(git(repo.path, {"stash", "list"}), "");
  EXPECT_EQ(stash_staged(repo.str(), "--hard"), 0u);
}

}  // namespace
}  // namespace brackwen
