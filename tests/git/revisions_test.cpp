// The guard between revision texts and git's command line, and the git version it depends on.
#include "git/revisions.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "git/action_starters.hpp"
#include "git/commit_image.hpp"
#include "git/git_version.hpp"
#include "git/queries/commits.hpp"
#include "git/queries/graph.hpp"
#include "git/queries/hunks/load_hunks.hpp"
#include "git/queries/relations.hpp"
#include "git/queries/wip/wip_diff.hpp"
#include "stores/stores.hpp"
#include "support/git_recorder.hpp"

namespace brackwen {
namespace {

// Runs a check in a fresh copy of the test program (gtest's threadsafe death-test style
// re-executes the binary), where no process-wide store has been touched yet.
void in_fresh_process(void (*check)()) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        check();
        std::exit(testing::Test::HasFailure() ? 1 : 0);
      },
      testing::ExitedWithCode(0), "");
}

std::string joined(const std::optional<GitArgs>& args) {
  if (!args) return "refused";
  std::string all;
  for (const auto& a : *args) all += (all.empty() ? "" : " ") + a;
  return all;
}

TEST(Revisions, Table) {
  const std::string id(40, 'a');
  for (const std::string& text : {id, std::string(64, '0'), "0123456789abcdef" + id.substr(16)}) {
    EXPECT_TRUE(is_object_id(text)) << text;
  }
  for (const std::string& text : {id.substr(1), id + "a", std::string(40, 'A'), id + "g", {}}) {
    EXPECT_FALSE(is_object_id(text)) << text;
  }
  EXPECT_EQ(revision_range("a", "..", "b"), "a..b");
  EXPECT_EQ(revision_range("a", "...", "-b"), std::nullopt);
  EXPECT_EQ(revision_range("--output=x", "..", "b"), std::nullopt);
  EXPECT_EQ(revision_range("", "..", "b"), std::nullopt);

  // Before 2.24 git would take "--end-of-options" for a revision; a version not read is new.
  const GitVersion new_git{2, 24, 0}, old_git{2, 23, 9};
  const auto taken = EndOfOptions::Taken, refused = EndOfOptions::Refused;
  struct Case {
    GitVersion version;
    std::vector<std::string> revisions;
    std::optional<Paths> paths;
    EndOfOptions end;
    std::string args;
  } cases[] = {
      {new_git, {"a", "b^{}"}, {}, taken, "log --end-of-options a b^{}"},
      {{3, 0, 0}, {"a"}, Paths{"-n", "*"}, taken, "log --end-of-options a -- -n *"},
      {{0, 0, 0}, {}, Paths{}, taken, "log --end-of-options --"},
      {old_git, {"a"}, {}, taken, "log a"},
      {{1, 99, 0}, {"a"}, {}, taken, "log a"},
      {new_git, {"a"}, Paths{}, refused, "log a --"},
      {new_git, {"a", "-p"}, {}, taken, "refused"},
      {old_git, {"--output=x"}, {}, refused, "refused"},
      {new_git, {""}, {}, taken, "refused"},
  };
  for (const Case& c : cases) {
    GIT_VERSION().set(c.version);
    EXPECT_EQ(joined(revision_args({"log"}, c.revisions, c.paths, c.end)), c.args);
  }
  EXPECT_EQ(literal_pathspec("[ab]*"), ":(literal)[ab]*");
}

// Every query and starter refuses a revision or URL that reads as an option before git starts.
TEST(Revisions, OptionLikeTextsNeverReachGit) {
  test::TempRepo repo;
  test::GitRecorder git(test::printing("3"));  // a count, were it asked
  const std::string x = "--output=x", dir = repo.str(), target = dir + "/t";
  Commit bad_id, bad_parent;
  bad_id.id = x;
  bad_parent.id = "c";
  bad_parent.parent_ids = {"-p"};
  WipPatch wip;
  wip.old_file = wip.new_file = "f";
  wip.patch_type = WipPatchType::D;  // no working file to read first
  std::pair<const char*, std::function<bool()>> cases[] = {
      {"wip diff", [&] { return !load_wip_diff(dir, wip, x, WipShown::Hunks); }},
      {"image", [&] { return !load_commit_image(dir, x, "a.png", target); }},
      {"hunks", [&] { return !load_file_diff(dir, bad_id, Patch{}); }},
      {"hunks of a parent", [&] { return !load_file_diff(dir, bad_parent, Patch{}); }},
      {"top commit", [&] { return !load_top_commit_for_branch(dir, x); }},
      {"count", [&] { return count_commits_in_range(dir, x, "b") == 0; }},
      {"between", [&] { return !commit_ids_between_commits(dir, "-n1", "c"); }},
      {"stash staged", [&] { return stash_staged(dir, "--hard") == 0; }},
      {"clone", [&] { return clone_repo(dir + "/c", "--upload-pack=touch x") == 0; }},
  };
  for (const auto& [name, refused] : cases) EXPECT_TRUE(refused()) << name;
  EXPECT_EQ(git.calls(), std::vector<std::string>{});
}

TEST(SubmoduleFlag, DependsOnEachVersionPartByItself) {
  // clang-format off
  std::pair<std::optional<GitVersion>, bool> cases[] = {{GitVersion{2, 13, 0}, true},
      {GitVersion{2, 40, 1}, true}, {GitVersion{2, 12, 5}, false}, {GitVersion{3, 0, 0}, false},
      {std::nullopt, false}};
  // clang-format on
  for (const auto& [version, recurse] : cases) {
    EXPECT_EQ(submodule_flag(version), recurse ? "--recurse-submodules" : "--recursive");
  }
}

TEST(GitVersionStore, ZeroBeforeAnyLoad) {
  in_fresh_process([] { EXPECT_EQ(get_git_version(), (GitVersion{0, 0, 0})); });
}

// Output that does not read as a version keeps the value loaded before.
TEST(GitVersionStore, LoadKeepsTheLastReadableVersion) {
  std::pair<std::string, GitVersion> cases[] = {
      {"echo 'git version 2.40'", {2, 40, 0}},
      {"echo '3.0.0'", {2, 40, 0}},
      {"echo 'git version 2.41.0' >&2", {2, 40, 0}},
      {"echo 'git version 2.39.2.1 (some vendor suffix)'; exit 1", {2, 39, 2}},
      {"exec /nonexistent", {2, 39, 2}},
  };
  for (const auto& [body, version] : cases) {
    test::GitRecorder git(body);
    load_git_version();
    EXPECT_EQ(get_git_version(), version) << body;
  }
}

}  // namespace
}  // namespace brackwen
