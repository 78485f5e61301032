// Faults around the server: no git on PATH, a front end that stops reading its pipes, a
// repository deleted under running actions, a full disk under the disk cache of changed files.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "robustness/reply_checks.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;
using test::body;
using test::repo_body;
using test::ServerProcess;
using test::TempDir;
using test::TempRepo;

std::string post(const ServerProcess& server, const std::string& endpoint,
                 const std::string& text) {
  auto reply = server.post("/f/" + endpoint, text);
  EXPECT_EQ(reply.status, 200) << endpoint << " " << text.substr(0, 200);
  return reply.body;
}

test::ActionEnd follow(const ServerProcess& server, const std::string& id) {
  auto client = server.client();
  return test::follow_action(*client, static_cast<uint32_t>(std::stoul(id)),
                             std::chrono::steady_clock::now() + std::chrono::seconds(20));
}

std::string search_results(const ServerProcess& server, const std::string& id) {
  std::string results = "never complete", done = R"("complete":true,"results":)";
  test::eventually([&] {
    std::string reply = post(server, "poll_diff_search", body({{"searchId", id}}));
    size_t at = reply.find(done);
    if (at != std::string::npos)
      results = reply.substr(at + done.size(), reply.size() - at - done.size() - 1);
    return at != std::string::npos;
  });
  return results;
}

std::string start_search(const ServerProcess& server, const fs::path& repo) {
  return post(server, "start_diff_search",
              body({{"repoPath", test::quoted(repo.string())},
                    {"searchText", "\"2\""},
                    {"numResults", "5"},
                    {"startCommitIndex", "0"}}));
}

TEST(Faults, GitMissingFromPath) {
  TempRepo repo;
  std::string first = repo.commit_file("a.txt", "1\n", "first", 1700000000);
  std::string head = repo.commit_file("a.txt", "1\n2\n", "second", 1700000100);
  repo.write("a.txt", "1\n2\n3\n");
  TempDir no_git, base;
  // Already holding "usr/local/bin", the PATH is left as it is at start.
  ServerProcess server({{"PATH", no_git.str() + ":/nonexistent/usr/local/bin"}});
  test::Bodies bodies{base.path, repo.path, server.home, first, head};
  // Every query answers as for a folder that is no repository; every action ends with an
  // error telling that git could not be run.
  for (const auto& shape : test::endpoint_shapes()) {
    std::string reply = post(server, shape.path, bodies.object(shape, bodies.defaults(shape)));
    if (shape.starts_action) {
      auto end = follow(server, reply);
      EXPECT_TRUE(end.done && end.error.starts_with(R"({"iO":)")) << shape.path << end.error;
    } else if (!shape.unusable_repo.empty() && !shape.path.starts_with("load_wip_hunk") &&
               shape.path != "load_conflicted_file") {  // these read the working copy alone
      EXPECT_EQ(reply, shape.unusable_repo) << shape.path;
    }
  }
  EXPECT_EQ(post(server, "git_version", repo_body(repo.path)), "null");
  EXPECT_FALSE(fs::exists(base.path / "image.out"));
  EXPECT_EQ(search_results(server, start_search(server, repo.path)), "null");
  EXPECT_EQ(server.post("/pi", "").body, "brackwen");
}

TEST(Faults, AFrontEndThatStopsReadingItsPipesBlocksNothing) {
  // Each "/f/load_full_config" reads 2 MB of a line without "=" and reports all of it as a
  // parse failure on standard error; each static file prints a 3 KB check line on standard
  // output: more than a pipe, or the server's backlog, holds.
  TempDir git, repo;
  std::ofstream(git.path / "git") << "#!/bin/sh\n"
                                  << "[ \"$1\" = --version ] && exec echo 'git version 2.41.3'\n"
                                  << "head -c 2000000 /dev/zero | tr '\\0' x\n";
  fs::permissions(git.path / "git", fs::perms::owner_all);
  ServerProcess server({{"PATH", git.str() + ":/usr/bin:/bin"}}, {.out = false, .err = false});
  std::string name;
  for (int i = 0; i < 15; ++i) name += std::string(200, static_cast<char>('a' + i)) + "/";
  server.write_static(name + "x.css", "p{}");
  auto client = server.client();
  client->set_read_timeout(std::chrono::seconds(10));
  [[maybe_unused]] size_t first = 0;
  for (int i = 0; i < 500; ++i) {
    auto file = client->Get("/r/" + name + "x.css");
    ASSERT_TRUE(file && file->body == "p{}") << i;
    if (i % 5) continue;
    auto reply = client->Post("/f/load_full_config", repo_body(repo.path), "text/plain");
    ASSERT_TRUE(reply && reply->body == "null") << i;
    if (i == 0) first = server.status_kib("VmRSS:");
  }
  // Nor does what waits for the pipes grow with it: a hundred 2 MB reports are not all kept.
  // AddressSanitizer holds freed memory in quarantine: resident size then says nothing.
#ifndef __SANITIZE_ADDRESS__
  EXPECT_LT(server.status_kib("VmRSS:"), first + 64 * 1024);
#endif
}

TEST(Faults, RepositoryDeletedWhileActionsRun) {
  auto repo = std::make_unique<TempRepo>();
  std::string head = repo->commit_file("a.txt", "1\n", "first");
  fs::path path = repo->path;
  TempDir flags;
  ServerProcess server;
  // Each action says it has reached its pause (git hands the alias its name as $1), and waits
  // there until "go" exists.
  auto args = [&](const char* name, const char* then) {
    std::string pause = "alias.pause=!touch " + flags.str() + "/$1; until [ -e " + flags.str() +
                        "/go ]; do sleep 0.01; done " + then + " #";
    return "[\"-c\"," + test::quoted(pause) + ",\"pause\"," + test::quoted(name) + "]";
  };
  std::string r = test::quoted(path.string());
  std::string many = post(
      server, "commands",
      body({{"repoPath", r},
            {"commands", R"([["rev-parse","HEAD"],)" + args("many", "") + R"(,["status"]])"}}));
  std::string one =
      post(server, "command", body({{"repoPath", r}, {"args", args("one", "&& git status")}}));
  std::string search = start_search(server, path);
  ASSERT_TRUE(test::eventually(
      [&] { return fs::exists(flags.path / "many") && fs::exists(flags.path / "one"); }));
  repo.reset();
  std::ofstream(flags.path / "go");

  auto many_end = follow(server, many);
  EXPECT_TRUE(many_end.done && many_end.failed);
  EXPECT_EQ(many_end.stdout_json, "[" + test::quoted(head) + "]");
  auto one_end = follow(server, one);
  EXPECT_TRUE(one_end.done && one_end.failed);
  EXPECT_NE(search_results(server, search), "never complete");
  EXPECT_EQ(post(server, "load_wip_patches", repo_body(path)), "null");
  EXPECT_EQ(post(server, "load_head_commit", repo_body(path)), "null");
}

// Under an address-space limit with room to read a 48 MiB value but not to store it, that
// request is answered 500 and the next ones as usual.
TEST(Faults, RunningOutOfMemoryIsAnswered500) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizer's own allocations do not fit an address-space limit";
#endif
  ServerProcess server;
  rlim_t room = (server.status_kib("VmSize:") << 10) + (100ul << 20);
  rlimit limit{room, room};
  ASSERT_EQ(::prlimit(server.pid, RLIMIT_AS, &limit, nullptr), 0);
  auto save = [&](const std::string& value) {
    return server.post("/f/set_data_store", body({{"data", body({{"k", value}})}}));
  };
  test::HttpReply huge = save(test::quoted(std::string(48 << 20, 'x')));
  EXPECT_EQ(std::to_string(huge.status) + huge.body, "500");
  std::string said = server.stderr_so_far();
  EXPECT_TRUE(said.starts_with("Request /f/set_data_store failed: std::bad_alloc")) << said;
  EXPECT_EQ(save("\"v\"").body, R"({"success":true,"message":"Data store updated"})");
}

// A full disk as the server sees it: its writes past a file-size limit fail (EFBIG).
std::unique_ptr<ServerProcess> start(const test::Environment& env, bool limited) {
  // Ignored stays ignored across exec: a write past the limit fails instead of ending it.
  auto before = ::signal(SIGXFSZ, SIG_IGN);
  auto server = std::make_unique<ServerProcess>(env);
  ::signal(SIGXFSZ, before);
  rlimit limit{limited ? 16 * 1024 : RLIM_INFINITY, RLIM_INFINITY};
  EXPECT_EQ(::prlimit(server->pid, RLIMIT_FSIZE, &limit, nullptr), 0);
  return server;
}

TEST(FullDisk, DiskCacheOfChangedFilesNeverServesATruncatedFile) {
  TempRepo repo;
  TempDir dir;
  // Enough commits and names that the cache file is far larger than the room left.
  test::sh(repo.path,
           "for i in $(seq 40); do printf 'commit refs/heads/main\\ncommitter T <t@e> %d +0000\\n"
           "data 1\\nc\\n' $((1700000000+i)); for f in $(seq 20); do printf 'M 100644 inline "
           "dir%d/a-rather-long-file-name-%d.txt\\ndata %d\\n%d\\n' $f $f ${#i} $i; done; done"
           " | git fast-import --quiet && git reset -q --hard main");
  std::string head = test::trimmed(test::git(repo.path, {"rev-parse", "HEAD"}));
  fs::path cache = dir.path / "cache";
  std::string load = body({{"repoPath", test::quoted(repo.str())},
                           {"numCommits", "100"},
                           {"filters", "[]"},
                           {"fast", "false"},
                           {"skipStashes", "false"}});
  std::string patches =
      body({{"repoPath", test::quoted(repo.str())}, {"commitId", test::quoted(head)}});
  fs::path objects = repo.path / ".git/objects", hidden = repo.path / ".git/hidden";
  fs::path folder = cache / "brackwen" / "patches";
  std::string expected;
  // Rounds 0 and 1 under the limit; 2 writes the file whole (after the reply, and the search
  // waits for it); 3 can only read it back, the objects hidden from git; 4 finds it corrupt and
  // does the work again.
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    if (round == 4) {
      fs::rename(hidden, objects);
      std::ofstream(fs::directory_iterator(folder)->path()) << "{\"" << head << "\":[";
    }
    // A fresh server has only the disk file to go by.
    auto server = start({{"XDG_CACHE_HOME", cache.string()}}, round < 2);
    ASSERT_NE(post(*server, "load_commits_and_refs", load), "null");
    if (round == 3) fs::rename(objects, hidden);
    std::string listed = post(*server, "load_patches_for_commit", patches);
    post(*server, "search_commits", test::whole_history_body(repo.path));
    if (round == 0) {  // a file written past the limit is a failed write
      expected = listed;
      std::string big = test::quoted(std::string(64 << 10, 'x'));
      std::string write = body({{"filePath", test::quoted(dir.str() + "/big")}, {"content", big}});
      EXPECT_EQ(post(*server, "write_file", write), "null");
    }
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), '{'), 20);
  }
}

}  // namespace
}  // namespace brackwen
