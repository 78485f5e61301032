#include "git/queries/diff_search.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

#include "git/queries/git_stub.hpp"
#include "git/queries/refs/remote_repo.hpp"
#include "stores/diff_searches.hpp"

namespace brackwen {
namespace {

using namespace std::chrono_literals;
using test::git;
using test::RemoteRepo;

HunkLine line(HunkLineStatus status, std::string text) {
  HunkLine l;
  l.status = status;
  l.text = std::move(text);
  return l;
}

TEST(FilterPatchesByText, KeepsChangedLinesHoldingTheText) {
  Hunk first;
  first.lines = {line(HunkLineStatus::Unchanged, "a needle"), line(HunkLineStatus::Plus, "needle+"),
                 line(HunkLineStatus::Minus, "-needle"), line(HunkLineStatus::Plus, "Needle")};
  Hunk second;
  second.lines = {line(HunkLineStatus::Plus, "no"), line(HunkLineStatus::Minus, "xneedlex")};
  const struct {
    std::string text;
    std::vector<std::string> kept;
  } cases[] = {
      {"needle", {"needle+", "-needle", "xneedlex"}},
      {"Needle", {"Needle"}},
      {"", {"needle+", "-needle", "Needle", "no", "xneedlex"}},
      {"absent", {}},
      {"needle+\n-needle", {}},  // no line holds a line end
  };
  for (const auto& c : cases) {
    std::vector<std::string> kept;
    for (const HunkLine& l : filter_patches_by_text({first, second}, c.text))
      kept.push_back(l.text);
    EXPECT_EQ(kept, c.kept) << c.text;
  }
}

TEST(DiffSearchArgs, TheTextIsOneArgumentOfItsOwn) {
  EXPECT_EQ(
      diff_search_args("-a b", 30, 60),
      (std::vector<std::string>{"log", "--skip=60", "-S", "-a b", "--name-status", "--branches",
                                "--remotes", "--pretty=format:%H,", "-n30", "-z"}));
}

DiffSearch wait_until_complete(uint32_t id) {
  auto deadline = std::chrono::steady_clock::now() + 60s;
  while (std::chrono::steady_clock::now() < deadline) {
    auto all = get_diff_searches();
    if (all && all->contains(id) && all->at(id).complete) return all->at(id);
    std::this_thread::sleep_for(5ms);
  }
  ADD_FAILURE() << "search " << id << " did not complete";
  return {};
}

std::vector<std::string> texts(const std::vector<HunkLine>& lines) {
  std::vector<std::string> out;
  for (const HunkLine& l : lines) out.push_back(l.text);
  return out;
}

class DiffSearchRepo : public testing::Test {
 protected:
  void SetUp() override {
    r.repo.write("b.txt", "unrelated --flag\n");
    r.repo.write("ünï cödé.txt", "one needle\nctx\n");
    git(r.repo.path, {"add", "."});
    c1 = r.repo.commit_file("a.txt", "first\n", "c1", 1700000000);
    r.repo.commit_file("ünï cödé.txt", "one needle\nctx changed\n", "c2", 1700000100);
    r.repo.write("ünï cödé.txt", "ctx changed\n");
    git(r.repo.path, {"add", "."});
    c3 = r.repo.commit_file("c.txt", "needle and needle\nx\ny\n", "c3", 1700000200);
  }
  RemoteRepo r;
  std::string c1, c3;
};

TEST_F(DiffSearchRepo, FindsTheCommitsAndTheirMatchingLines) {
  ASSERT_TRUE(r.load());
  uint32_t id = start_diff_search(r.repo.str(), "needle", 50, 0);
  DiffSearch done = wait_until_complete(id);
  ASSERT_TRUE(done.results);
  const SearchResults& results = *done.results;
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].first, c3);
  ASSERT_EQ(results[0].second.size(), 2u);  // only the files whose count of the text changed
  EXPECT_EQ(results[0].second[0].patch.new_file, "c.txt");
  EXPECT_EQ(texts(results[0].second[0].lines), std::vector<std::string>{"needle and needle"});
  EXPECT_EQ(results[0].second[1].patch.new_file, "ünï cödé.txt");
  EXPECT_EQ(results[0].second[1].lines.at(0).status, HunkLineStatus::Minus);
  EXPECT_EQ(texts(results[0].second[1].lines), std::vector<std::string>{"one needle"});
  EXPECT_EQ(results[1].first, c1);
  ASSERT_EQ(results[1].second.size(), 1u);
  EXPECT_EQ(results[1].second[0].patch.commit_id, c1);
}

TEST_F(DiffSearchRepo, PagingAndTheCachedWindow) {
  ASSERT_TRUE(r.load(1));  // only c3 is cached: c1's hit is skipped
  DiffSearch done = wait_until_complete(start_diff_search(r.repo.str(), "needle", 50, 0));
  ASSERT_TRUE(done.results);
  ASSERT_EQ(done.results->size(), 1u);
  EXPECT_EQ(done.results->at(0).first, c3);

  done = wait_until_complete(start_diff_search(r.repo.str(), "needle", 50, 100));
  EXPECT_EQ(done.results, SearchResults{});  // past the end: git prints nothing, no failure
  ASSERT_TRUE(r.load());
  done = wait_until_complete(start_diff_search(r.repo.str(), "--flag", 50, 0));
  ASSERT_TRUE(done.results);
  ASSERT_EQ(done.results->size(), 1u);
  EXPECT_EQ(done.results->at(0).first, c1);
}

std::optional<pid_t> read_pid(const std::filesystem::path& file) {
  auto deadline = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(file);
    pid_t pid = 0;
    if (in >> pid && pid > 0) return pid;
    std::this_thread::sleep_for(5ms);
  }
  return std::nullopt;
}

// The first `git log` records its pid and hangs for ten minutes, which the test would wait for
// unless it is killed; every other git call runs the real git.
struct HangingFirstLog {
  explicit HangingFirstLog(const test::TempDir& files)
      : pid_file(files.path / "pid"),
        stub("if [ \"$1\" = log ] && [ ! -e '" + (files.path / "hung").string() +
             "' ]; then : > '" + (files.path / "hung").string() + "'; echo $$ > '" +
             pid_file.string() + ".tmp'; mv '" + pid_file.string() + ".tmp' '" + pid_file.string() +
             "'; exec sleep 600; fi\nexec '" + test::real_git_path() + "' \"$@\"") {}
  std::filesystem::path pid_file;
  test::StubGit stub;
};

TEST_F(DiffSearchRepo, ANewerSearchKillsAndReapsTheOlderGit) {
  ASSERT_TRUE(r.load());
  test::TempDir files;
  HangingFirstLog hanging(files);
  uint32_t older = start_diff_search(r.repo.str(), "needle", 50, 0);
  std::optional<pid_t> pid = read_pid(hanging.pid_file);
  ASSERT_TRUE(pid);
  ASSERT_FALSE(get_diff_searches()->at(older).complete);

  uint32_t newer = start_diff_search(r.repo.str(), "needle", 50, 0);
  EXPECT_EQ(newer, older + 1);
  EXPECT_FALSE(wait_until_complete(older).results);
  // Gone, not a zombie: a zombie still answers signal 0.
  EXPECT_EQ(::kill(*pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  DiffSearch finished = wait_until_complete(newer);
  ASSERT_TRUE(finished.results);
  EXPECT_EQ(finished.results->size(), 2u);
}

// A root commit of thousands of long paths that all hold the text, then one cached commit:
// git prints well over a MiB before it ends, which it can only do while it is being read.
// Built with fast-import and never checked out, which would cost more than the search.
TEST(DiffSearchOutput, MoreThanAMebibyteOfGitOutput) {
  RemoteRepo r;
  std::string stream = "blob\nmark :1\ndata 7\nneedle\n";
  stream += "blob\nmark :2\ndata 14\na needle here\n";
  stream += "commit refs/heads/main\nmark :3\ncommitter T <t@e> 1700000000 +0000\ndata 3\nbig";
  std::string long_dir = "\nM 100644 :1 " + std::string(200, 'd') + "/file-";
  for (int i = 0; i < 5000; ++i) stream += long_dir + std::to_string(i);
  stream += "\n\ncommit refs/heads/main\nmark :4\ncommitter T <t@e> 1700000100 +0000\ndata 3\ntop";
  stream += "\nfrom :3\nM 100644 :2 top.txt\n\n";
  std::ofstream(r.remotes.path / "stream") << stream;
  test::sh(r.repo.path, "git fast-import --quiet < '" + (r.remotes.path / "stream").string() + "'");
  std::string top = r.rev("main");
  ASSERT_TRUE(r.load(1));

  std::string log = git(r.repo.path, diff_search_args("needle", 50, 0));
  ASSERT_GT(log.size(), size_t{1} << 20);
  DiffSearch done = wait_until_complete(start_diff_search(r.repo.str(), "needle", 50, 0));
  ASSERT_TRUE(done.results);
  ASSERT_EQ(done.results->size(), 1u);
  EXPECT_EQ(done.results->at(0).first, top);
  EXPECT_EQ(texts(done.results->at(0).second.at(0).lines),
            std::vector<std::string>{"a needle here"});
}

}  // namespace
}  // namespace brackwen
