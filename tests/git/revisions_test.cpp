// The guard between revision texts and git's command line, the git version it depends on, and
// the guards against a FIFO or a directory where a file should be.
#include "git/revisions.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "git/action_starters.hpp"
#include "git/commit_image.hpp"
#include "git/conflicts/api.hpp"
#include "git/git_version.hpp"
#include "git/queries/commits.hpp"
#include "git/queries/graph.hpp"
#include "git/queries/hunks/load_hunks.hpp"
#include "git/queries/merge_rebase.hpp"
#include "git/queries/relations.hpp"
#include "git/queries/wip/wip_diff.hpp"
#include "stores/stores.hpp"
#include "support/fresh_process.hpp"
#include "support/git_recorder.hpp"

namespace brackwen {
namespace {

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
  std::pair<const char*, std::function<bool()>> cases[] = {
      {"wip diff", [&] { return !load_wip_diff(dir, wip, x); }},
      {"image", [&] { return !load_commit_image(dir, x, "a.png", target); }},
      {"hunks", [&] { return !load_hunks(dir, bad_id, Patch{}); }},
      {"hunks of a parent", [&] { return !load_hunks(dir, bad_parent, Patch{}); }},
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
  test::in_fresh_process([] { EXPECT_EQ(get_git_version(), (GitVersion{0, 0, 0})); });
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

std::optional<std::vector<HunkLine>> wip_diff(const test::TempRepo& repo, const std::string& file,
                                              const std::string& head) {
  WipPatch patch;
  patch.old_file = patch.new_file = file;
  patch.patch_type = WipPatchType::A;
  return load_wip_diff(repo.str(), patch, head);
}

void special_files_are_refused() {
  alarm(20);
  test::use_plain_git_config();
  test::TempRepo repo;
  std::string head = repo.commit_file("a.png", "png", "add");
  std::string pipe = (repo.path / "pipe").string(), dir = (repo.path / "dir").string();
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  std::filesystem::create_directory(dir);
  test::TempDir linked;  // a linked worktree's markers, where a FIFO and a directory stand
  std::ofstream(linked.path / ".git") << "gitdir: " << repo.str() << "\n";
  ASSERT_EQ(::mkfifo((repo.path / "MERGE_HEAD").c_str(), 0600), 0);
  std::filesystem::create_directory(repo.path / ".git" / "MERGE_HEAD");
  std::pair<const char*, std::function<bool()>> cases[] = {
      {"wip diff of a FIFO", [&] { return !wip_diff(repo, "pipe", head); }},
      {"wip diff of a directory", [&] { return !wip_diff(repo, "dir", head); }},
      {"conflicts in a FIFO", [&] { return !load_conflicted_file(repo.str(), "pipe"); }},
      {"conflicts in a directory", [&] { return !load_conflicted_file(repo.str(), "."); }},
      {"conflicts outside the repository",
       [&] { return !load_conflicted_file("/", repo.str() + "/a.png"); }},
      {"conflicts past a NUL",
       [&] { return !load_conflicted_file(repo.str(), std::string("a.png\0x", 7)); }},
      {"conflicts below a NUL", [&] { return !load_conflicted_file(repo.str() + '\0', "a.png"); }},
      {"merge head a FIFO", [&] { return !merge_in_progress(linked.str()); }},
      {"merge head a directory", [&] { return !merge_in_progress(repo.str()); }},
      {"image into a FIFO", [&] { return !load_commit_image(repo.str(), head, "a.png", pipe); }},
      {"image into a directory",
       [&] { return !load_commit_image(repo.str(), head, "a.png", dir); }},
      {"image past a NUL",
       [&] { return !load_commit_image(repo.str(), head, "a.png", pipe + "2" + '\0'); }},
  };
  for (const auto& [name, refused] : cases) EXPECT_TRUE(refused()) << name;
  EXPECT_TRUE(load_conflicted_file(repo.str(), "a.png"));
}

TEST(SpecialFiles, AreRefusedWithoutBlocking) {
  test::in_fresh_process(special_files_are_refused);
}

}  // namespace
}  // namespace brackwen
