// Files read and written without git, and the guards against a FIFO or a directory where a file
// should be.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "git/commit_image.hpp"
#include "git/conflicts/api.hpp"
#include "git/queries/merge_rebase.hpp"
#include "git/queries/wip/wip_diff.hpp"
#include "support/fresh_process.hpp"
#include "support/git_recorder.hpp"

namespace brackwen {
namespace {

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
