// Faults around the server: no git on PATH, a front end that stops reading standard error, a
// repository deleted under a running action, a full disk under the data store and the disk
// cache of changed files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <fstream>
#include <thread>

#include "api_types/json.hpp"
#include "robustness/json_view.hpp"
#include "robustness/reply_checks.hpp"
#include "server/changed_files.hpp"
#include "support/server_harness.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;
using test::ServerProcess;
using test::TempDir;
using test::TempRepo;
using Clock = std::chrono::steady_clock;

constexpr auto kPatience = std::chrono::seconds(20);

std::string q(const std::string& text) {
  return to_json(text);
}

std::string repo_body(const fs::path& repo) {
  return R"({"repoPath":)" + q(repo.string()) + "}";
}

std::string post(const ServerProcess& server, const std::string& endpoint,
                 const std::string& body) {
  auto reply = server.post("/f/" + endpoint, body);
  EXPECT_EQ(reply.status, 200) << endpoint << " " << body;
  return reply.body;
}

test::ActionEnd follow(const ServerProcess& server, const std::string& id) {
  auto client = server.client();
  return test::follow_action(*client, static_cast<uint32_t>(std::stoul(id)),
                             Clock::now() + kPatience);
}

// Polls a diff search until it is complete; its results.
std::string search_results(const ServerProcess& server, const std::string& id) {
  auto deadline = Clock::now() + kPatience;
  while (Clock::now() < deadline) {
    test::JsonDoc poll(post(server, "poll_diff_search", R"({"searchId":)" + id + "}"));
    if (poll.ok && bool(poll.root["complete"])) return simdjson::minify(poll.root["results"]);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "never complete";
}

std::string two_commits(TempRepo& repo) {
  repo.commit_file("a.txt", "1\n", "first", 1700000000);
  std::string head = repo.commit_file("a.txt", "1\n2\n", "second", 1700000100);
  repo.write("a.txt", "1\n2\n3\n");
  return head;
}

TEST(Faults, GitMissingFromPath) {
  TempRepo repo;
  std::string head = two_commits(repo);
  TempDir no_git;
  // Already holding "usr/local/bin", the PATH is left as it is at start.
  ServerProcess server({{"PATH", no_git.str() + ":/nonexistent/usr/local/bin"}});
  std::string r = q(repo.str());
  std::string commit = R"({"author":"A","email":"e","date":{"ms":0,"adjustment":0},"id":)" +
                       q(head) +
                       R"(,"index":0,"parentIds":[],"isMerge":false,"message":"m",)"
                       R"("stashId":null,"refs":[],"filtered":false,"numSkipped":0})";
  struct Query {
    std::string endpoint, body, reply;
  };
  std::vector<Query> queries = {
      {"git_version", repo_body(repo.path), "null"},
      {"load_commits_and_refs",
       R"({"repoPath":)" + r + R"(,"numCommits":9,"filters":[],"fast":false,"skipStashes":false})",
       "null"},
      {"load_head_commit", repo_body(repo.path), "null"},
      {"load_top_commit_for_branch", R"({"repoPath":)" + r + R"(,"branchName":"main"})", "null"},
      {"load_wip_patches", repo_body(repo.path), "null"},
      {"load_full_config", repo_body(repo.path), "null"},
      {"run", R"({"repoPath":)" + r + R"(,"args":["status"]})", "null"},
      {"load_commit_image",
       R"({"repoPath":)" + r + R"(,"commitId":)" + q(head) +
           R"(,"originalImagePath":"a.txt","tempImagePath":)" + q((repo.path / "out").string()) +
           "}",
       "false"},
      {"load_hunks",
       R"({"repoPath":)" + r + R"(,"commit":)" + commit + R"(,"patch":{"commitId":)" + q(head) +
           R"(,"oldFile":"a.txt","newFile":"a.txt","patchType":"M","id":"a","isImage":false}})",
       "null"},
      {"commit_ids_between_commits",
       R"({"repoPath":)" + r + R"(,"commitId1":"a","commitId2":)" + q(head) + "}", "null"},
      {"get_un_pushed_commits", repo_body(repo.path), R"({"thisBranch":[],"allBranches":[]})"},
      {"calc_head_info", repo_body(repo.path), "null"},
      {"search_commits", R"({"repoPath":)" + r + R"(,"searchText":"a","numResults":5})", "null"},
  };
  for (const auto& query : queries) {
    EXPECT_EQ(post(server, query.endpoint, query.body), query.reply) << query.endpoint;
  }
  EXPECT_FALSE(fs::exists(repo.path / "out"));

  // Every action ends, with an error telling that git could not be run.
  TempDir made;
  std::vector<std::pair<std::string, std::string>> starters = {
      {"command", R"({"repoPath":)" + r + R"(,"args":["status"]})"},
      {"commands", R"({"repoPath":)" + r + R"(,"commands":[["add","a.txt"],["status"]]})"},
      {"stash_changes", repo_body(repo.path)},
      {"fetch_all", repo_body(repo.path)},
      {"stash_staged", R"({"repoPath":)" + r + R"(,"headCommitId":)" + q(head) + "}"},
      {"create_repo", repo_body(made.path / "new")},
      {"clone_repo",
       R"({"repoPath":)" + q((made.path / "clone").string()) + R"(,"url":)" + r + "}"},
  };
  for (const auto& [endpoint, body] : starters) {
    std::string id = post(server, endpoint, body);
    ASSERT_NE(id, "0") << endpoint;
    auto end = follow(server, id);
    EXPECT_TRUE(end.done) << endpoint;
    EXPECT_TRUE(end.error.starts_with(R"({"iO":)")) << endpoint << ": " << end.error;
  }
  std::string search =
      post(server, "start_diff_search",
           R"({"repoPath":)" + r + R"(,"searchText":"2","numResults":5,"startCommitIndex":0})");
  EXPECT_EQ(search_results(server, search), "null");
  EXPECT_EQ(server.post("/pi", "").body, "brackwen");
}

TEST(Faults, AFrontEndThatStopsReadingStandardErrorBlocksNothing) {
  // Each "/f/load_full_config" reads 2 MB of a line without "=" and reports all of it as a
  // parse failure on standard error: more than the pipe, or the server's backlog, holds.
  TempDir git, repo;
  std::ofstream(git.path / "git") << "#!/bin/sh\n"
                                  << "[ \"$1\" = --version ] && exec echo 'git version 2.41.3'\n"
                                  << "head -c 2000000 /dev/zero | tr '\\0' x\n";
  fs::permissions(git.path / "git", fs::perms::owner_all);
  ServerProcess server({{"PATH", git.str() + ":/usr/bin:/bin"}}, {.err = false});
  auto client = server.client();
  client->set_read_timeout(std::chrono::seconds(10));
  for (int i = 0; i < 20; ++i) {
    auto reply = client->Post("/f/load_full_config", repo_body(repo.path), "text/plain");
    ASSERT_TRUE(reply) << i;
    ASSERT_EQ(reply->body, "null");
  }
  EXPECT_EQ(server.get("/pi").body, "brackwen");
}

TEST(Faults, RepositoryDeletedWhileAnActionRuns) {
  auto repo = std::make_unique<TempRepo>();
  std::string head = two_commits(*repo);
  fs::path path = repo->path;
  ServerProcess server;
  std::string r = q(path.string());
  // The second command pauses in the repository; the third finds it gone.
  std::string many = post(server, "commands",
                          R"({"repoPath":)" + r +
                              R"(,"commands":[["rev-parse","HEAD"],)"
                              R"(["-c","alias.pause=!sleep 1","pause"],["status"]]})");
  std::string one = post(
      server, "command",
      R"({"repoPath":)" + r + R"(,"args":["-c","alias.pause=!sleep 1 && git status","pause"]})");
  std::string search =
      post(server, "start_diff_search",
           R"({"repoPath":)" + r + R"(,"searchText":"2","numResults":5,"startCommitIndex":0})");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  repo.reset();
  ASSERT_FALSE(fs::exists(path));

  auto many_end = follow(server, many);
  EXPECT_TRUE(many_end.done);
  EXPECT_TRUE(many_end.failed);
  EXPECT_EQ(many_end.stdout_json, "[" + q(head) + "]");
  auto one_end = follow(server, one);
  EXPECT_TRUE(one_end.done);
  EXPECT_TRUE(one_end.failed);
  EXPECT_NE(search_results(server, search), "never complete");
  EXPECT_EQ(post(server, "load_wip_patches", repo_body(path)), "null");
  EXPECT_EQ(post(server, "load_head_commit", repo_body(path)), "null");
  EXPECT_EQ(server.post("/pi", "").body, "brackwen");
}

// A disk that fills up: a small tmpfs when this process may mount one, else a file-size
// limit on the server (the server and git then see EFBIG instead of ENOSPC).
struct SmallDisk {
  enum Kind { Tmpfs, FileSizeLimit };
  explicit SmallDisk(Kind kind) : kind(kind) {
    if (kind == Tmpfs) {
      mounted = ::mount("tmpfs", dir.path.c_str(), "tmpfs", 0, "size=256k") == 0;
    }
  }
  ~SmallDisk() {
    if (mounted) ::umount2(dir.path.c_str(), MNT_DETACH);
  }
  bool usable() const { return kind == FileSizeLimit || mounted; }

  std::unique_ptr<ServerProcess> start(const test::Environment& env) const {
    if (kind == Tmpfs) return std::make_unique<ServerProcess>(env);
    // Under a limit a write past it must fail, not end the process: ignored stays ignored
    // across exec.
    auto before = ::signal(SIGXFSZ, SIG_IGN);
    auto server = std::make_unique<ServerProcess>(env);
    ::signal(SIGXFSZ, before);
    if (full) limit(*server, kLimit);
    return server;
  }

  // Leaves about `free_bytes` free on the tmpfs, or limits `server`'s files.
  void fill(size_t free_bytes, const ServerProcess* server = nullptr) {
    full = true;
    if (kind == FileSizeLimit) {
      if (server) limit(*server, kLimit);
      return;
    }
    std::ofstream filler(dir.path / "filler", std::ios::binary);
    std::string block(4096, 'f');
    while (filler.write(block.data(), block.size()) && filler.flush()) {
    }
    filler.close();
    fs::resize_file(dir.path / "filler", fs::file_size(dir.path / "filler") - free_bytes);
  }

  void empty(const ServerProcess* server = nullptr) {
    full = false;
    if (kind == FileSizeLimit) {
      if (server) limit(*server, RLIM_INFINITY);
      return;
    }
    std::error_code ec;
    fs::remove(dir.path / "filler", ec);
  }

  static void limit(const ServerProcess& server, rlim_t bytes) {
    // Only the soft limit: lifting a hard limit again needs a privilege.
    rlimit limit{bytes, RLIM_INFINITY};
    ASSERT_EQ(::prlimit(server.pid, RLIMIT_FSIZE, &limit, nullptr), 0);
  }

  static constexpr rlim_t kLimit = 16 * 1024;
  Kind kind;
  TempDir dir;
  bool mounted = false;
  bool full = false;
};

class FullDisk : public testing::TestWithParam<SmallDisk::Kind> {};

TEST_P(FullDisk, DataStoreKeepsItsContentAndSaysWhy) {
  SmallDisk disk(GetParam());
  if (!disk.usable()) GTEST_SKIP() << "cannot mount a tmpfs here";
  fs::path data = disk.dir.path / "data";
  auto server = disk.start({{"XDG_DATA_HOME", data.string()}});
  EXPECT_EQ(post(*server, "set_data_store", R"({"data":{"keep":"me"}})"),
            R"({"success":true,"message":"Data store updated"})");
  disk.fill(2048, server.get());
  std::string big(100 * 1024, 'x');
  test::JsonDoc failed(post(*server, "set_data_store", R"({"data":{"big":")" + big + "\"}}"));
  ASSERT_TRUE(failed.ok);
  EXPECT_FALSE(bool(failed.root["success"]));
  std::string message = test::text_of(test::value_or_null(failed.root["message"]));
  EXPECT_TRUE(message.starts_with("Failed to write to config file: ") ||
              message.starts_with("Failed to open config file: "))
      << message;
  EXPECT_EQ(post(*server, "get_data_store", R"({"repoPath":""})"), R"({"config":{"keep":"me"}})");
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(data / "brackwen")) ++files;
  EXPECT_EQ(files, 1u) << "a temporary file was left behind";
  disk.empty(server.get());
  EXPECT_EQ(post(*server, "set_data_store", R"({"data":{"big":")" + big + "\"}}"),
            R"({"success":true,"message":"Data store updated"})");
}

TEST_P(FullDisk, DiskCacheOfChangedFilesNeverServesATruncatedFile) {
  SmallDisk disk(GetParam());
  if (!disk.usable()) GTEST_SKIP() << "cannot mount a tmpfs here";
  TempRepo repo;
  // Enough commits and names that the cache file is far larger than the room left.
  std::string stream;
  for (int i = 1; i <= 40; ++i) {
    stream += "commit refs/heads/main\ncommitter T <t@e> " + std::to_string(1700000000 + i) +
              " +0000\ndata 1\nc\n";
    for (int f = 0; f < 20; ++f) {
      stream += "M 100644 inline dir" + std::to_string(f) + "/a-rather-long-file-name-" +
                std::to_string(f) + ".txt\ndata " + std::to_string(std::to_string(i).size()) +
                "\n" + std::to_string(i) + "\n";
    }
  }
  repo.write(".git/stream", stream);
  test::sh(repo.path, "git fast-import --quiet < .git/stream && git reset -q --hard main");
  std::string head = test::git(repo.path, {"rev-parse", "HEAD"}).substr(0, 40);
  fs::path cache = disk.dir.path / "cache";
  std::string load = R"({"repoPath":)" + q(repo.str()) +
                     R"(,"numCommits":100,"filters":[],"fast":false,"skipStashes":false})";
  std::string patches = R"({"repoPath":)" + q(repo.str()) + R"(,"commitId":)" + q(head) + "}";
  disk.fill(4096);

  std::string expected;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    // A fresh server has only the disk file to go by.
    auto server = disk.start({{"XDG_CACHE_HOME", cache.string()}});
    ASSERT_NE(post(*server, "load_commits_and_refs", load), "null");
    std::string listed = post(*server, "load_patches_for_commit", patches);
    test::JsonDoc doc(listed);
    ASSERT_TRUE(doc.ok);
    EXPECT_EQ(test::size_of(doc.root), 20u);
    if (round == 0) expected = listed;
    EXPECT_EQ(listed, expected);
    if (round == 1) disk.empty();
  }
  fs::path file = cache / "brackwen" / "patches" / patches_cache_file_name(repo.str());
  test::JsonDoc written(test::read_file(file));
  ASSERT_TRUE(written.ok) << "the cache file was not written whole once there was room";
  simdjson::dom::object by_commit;
  ASSERT_EQ(written.root.get(by_commit), simdjson::SUCCESS);
  EXPECT_EQ(by_commit.size(), 40u);
  auto server = disk.start({{"XDG_CACHE_HOME", cache.string()}});
  EXPECT_EQ(post(*server, "clear_all_caches", repo_body(repo.path)), "null");
  EXPECT_FALSE(fs::exists(cache / "brackwen" / "patches"));
}

INSTANTIATE_TEST_SUITE_P(Disks, FullDisk,
                         testing::Values(SmallDisk::Tmpfs, SmallDisk::FileSizeLimit),
                         [](const testing::TestParamInfo<SmallDisk::Kind>& info) {
                           return info.param == SmallDisk::Tmpfs ? "Tmpfs" : "FileSizeLimit";
                         });

}  // namespace
}  // namespace brackwen
