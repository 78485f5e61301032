// The watching, auto-complete, workspace-scan and cache-reset endpoints, end to end.
#include "server/handlers/watching.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "api_types/json.hpp"
#include "support/server_harness.hpp"

namespace brackwen {
namespace {

using test::ServerProcess;
namespace fs = std::filesystem;

std::string repo_body(const std::string& path) {
  return "{\"repoPath\":" + to_json(path) + "}";
}

std::string watch_body(const std::vector<std::string>& repos, const std::string& root,
                       bool start_changed) {
  return "{\"repoPaths\":" + to_json(repos) + ",\"rootRepo\":" + to_json(root) +
         ",\"startChanged\":" + (start_changed ? "true" : "false") + "}";
}

std::string has_changed(const ServerProcess& server, const std::string& repo) {
  auto reply = server.post("/f/repo_has_changed", repo_body(repo));
  EXPECT_EQ(reply.status, 200);
  return reply.body;
}

bool eventually_changed(const ServerProcess& server, const std::string& repo,
                        const fs::path& file) {
  for (int i = 0; i < 500; ++i) {
    std::ofstream(file, std::ios::app) << "x";
    if (has_changed(server, repo) == "true") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(WatchingEndpoints, FlagsFollowWatchClearAndStop) {
  ServerProcess server;
  test::TempDir ws;
  std::string a = (ws.path / "a").string();
  std::string b = (ws.path / "b").string();
  fs::create_directories(a);
  fs::create_directories(b);
  EXPECT_EQ(has_changed(server, a), "null");  // before any watch

  auto reply = server.post("/f/watch_repo", watch_body({a, b}, ws.str(), false));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "null");
  EXPECT_EQ(has_changed(server, a), "false");
  EXPECT_EQ(has_changed(server, a + "/"), "null");  // another text

  server.post("/f/watch_repo", watch_body({a, b}, ws.str(), true));
  EXPECT_EQ(has_changed(server, a), "true");
  EXPECT_EQ(server.post("/f/clear_repo_changed_status", repo_body(a)).body, "null");
  EXPECT_EQ(has_changed(server, a), "false");
  EXPECT_EQ(has_changed(server, b), "true");
  EXPECT_TRUE(eventually_changed(server, a, ws.path / "a" / "file.txt"));

  EXPECT_EQ(server.post("/f/stop_watching_repo", repo_body("")).body, "null");
  EXPECT_EQ(has_changed(server, a), "null");
  server.post("/f/clear_repo_changed_status", repo_body(a));
  EXPECT_EQ(has_changed(server, a), "null");
}

// The server runs in a user namespace limited to 40 inotify watches, 12 of them held by another
// program (tail following files): the large tree gets its share of 20, which leaves 8 beside it.
TEST(WatchingEndpoints, LargeTreeIsWatchedInPartAndLetsGoForTheNextWatch) {
  std::string set_limit = "echo 40 > /proc/sys/user/max_inotify_watches || exit 1; ";
  bool usable = std::system(("unshare -U -r sh -c '" + set_limit + "' 2>/dev/null").c_str()) == 0;
  if (!usable) GTEST_SKIP() << "user namespaces are not available";
  test::TempDir ws;
  for (int i = 0; i < 12; ++i) std::ofstream(ws.path / ("held" + std::to_string(i)));
  ServerProcess server({}, {},
                       {"unshare", "-U", "-r", "sh", "-c",
                        set_limit + "tail -f --pid=$$ '" + ws.str() + "'/held* >/dev/null 2>&1 & " +
                            "until [ $(cat /proc/$!/fdinfo/* | grep -c '^inotify wd') = 12 ]; " +
                            "do sleep 0.01; done; exec \"$0\""});
  std::string large = (ws.path / "large").string();
  for (int i = 0; i < 24; ++i) fs::create_directories(ws.path / "large" / std::to_string(i));
  server.post("/f/watch_repo", watch_body({large}, large, false));
  EXPECT_TRUE(server.wait_for_stdout("Partial watch: some folders under " + large + " are"));
  EXPECT_TRUE(eventually_changed(server, large, ws.path / "large" / "file"));

  // Ten nested directories: all watched only once the large tree's watches are let go.
  std::string small = (ws.path / "small").string();
  fs::create_directories(ws.path / "small/1/2/3/4/5/6/7/8/9");
  server.post("/f/watch_repo", watch_body({small}, small, false));
  EXPECT_TRUE(eventually_changed(server, small, ws.path / "small/1/2/3/4/5/6/7/8/9/file"));
}

TEST(WatchingEndpoints, MalformedBodiesAreDropped) {
  ServerProcess server;
  const std::pair<const char*, const char*> cases[] = {
      {"/f/stop_watching_repo", "{}"},
      {"/f/clear_all_caches", "{}"},
      {"/f/repo_has_changed", "null"},
      {"/f/watch_repo", "{\"repoPaths\":[],\"rootRepo\":\"/tmp\"}"},
      {"/f/auto_complete", "[\"w\",\"/r\",5,\"CommitMessage\"]"},
      {"/f/auto_complete", "[\"w\",\"/r\",-1,\"commitMessage\"]"},
      {"/f/auto_complete", "[\"w\",\"/r\",1.5,\"commitMessage\"]"},
      {"/f/auto_complete", "{\"currentWord\":\"w\",\"repoPath\":\"/r\",\"maxNum\":1}"},
      {"/f/scan_workspace", "{\"repoPath\":\"/tmp\"}"},
  };
  for (const auto& [path, body] : cases) {
    auto reply = server.post(path, body);
    EXPECT_EQ(reply.status, 500) << path << " " << body;
    EXPECT_EQ(reply.body, "") << path << " " << body;
  }
}

TEST(WatchingEndpoints, AutoCompleteWithoutHistory) {
  ServerProcess server;
  const std::pair<const char*, const char*> cases[] = {
      {"[\"wor\",\"/never/loaded\",5,\"commitMessage\"]", "null"},
      {"{\"currentWord\":\"\",\"repoPath\":\"/r\",\"maxNum\":5,\"kind\":\"commitMessage\"}",
       "null"},
      {"{\"currentWord\":\"\",\"repoPath\":\"/r\",\"maxNum\":5,\"kind\":{\"createBranch\":null}}",
       "null"},
      {"[\"w\",\"/r\",18446744073709551615,\"createBranch\"]", "null"},
  };
  for (const auto& [body, expected] : cases) {
    auto reply = server.post("/f/auto_complete", body);
    EXPECT_EQ(reply.status, 200) << body;
    EXPECT_EQ(reply.body, expected) << body;
  }
}

TEST(WatchingEndpoints, AutoCompleteAfterTheHistoryIsLoaded) {
  ServerProcess server;
  test::TempRepo repo;
  repo.commit_file("src/reader.cpp", "x", "Introduce reader for configuration\n");
  test::git(repo.path, {"branch", "feature/reader"});
  test::git(repo.path, {"tag", "v1.0"});
  auto load = server.post("/f/load_commits_and_refs",
                          "{\"repoPath\":" + to_json(repo.str()) +
                              ",\"numCommits\":100,\"filters\":[],\"fast\":false,"
                              "\"skipStashes\":false}");
  ASSERT_EQ(load.status, 200);
  auto complete = [&](const std::string& word, int max, const std::string& kind) {
    return server
        .post("/f/auto_complete", "[" + to_json(word) + "," + to_json(repo.str()) + "," +
                                      std::to_string(max) + "," + to_json(kind) + "]")
        .body;
  };
  EXPECT_EQ(complete("", 10, "createBranch"), R"(["feature/reader","main","v1.0"])");
  EXPECT_EQ(complete("", 2, "createBranch"), R"(["feature/reader","main"])");
  EXPECT_EQ(complete("config", 10, "commitMessage"), R"(["configuration"])");
  EXPECT_EQ(complete("src/", 10, "commitMessage"), R"(["src/reader.cpp"])");
  EXPECT_EQ(complete("config", 0, "commitMessage"), "[]");
  EXPECT_EQ(complete("zzz", 10, "commitMessage"), "[]");
}

TEST(WatchingEndpoints, ScanWorkspace) {
  ServerProcess server;
  test::TempDir ws;
  fs::create_directories(ws.path / ".git");
  fs::create_directories(ws.path / "inner/.git");
  auto scan = [&](const std::string& path, bool descend) {
    return server.post("/f/scan_workspace",
                       "{\"repoPath\":" + to_json(path) +
                           ",\"workspacesEnabled\":" + (descend ? "true" : "false") + "}");
  };
  EXPECT_EQ(scan(ws.str(), false).body, to_json(std::vector<std::string>{ws.str()}));
  EXPECT_EQ(scan(ws.str(), true).body,
            to_json(std::vector<std::string>{ws.str(), ws.str() + "/inner"}));
  EXPECT_EQ(scan(ws.str() + "/missing", true).body, "[]");
  EXPECT_EQ(scan(ws.str() + "/inner", false).body,
            to_json(std::vector<std::string>{ws.str() + "/inner"}));
}

TEST(WatchingEndpoints, ClearAllCachesDeletesTheChangedFilesCache) {
  ServerProcess server;
  fs::path patches = server.home / ".cache" / "brackwen" / "patches";
  fs::create_directories(patches);
  std::ofstream(patches / "workapp.json") << "{}";
  auto reply = server.post("/f/clear_all_caches", repo_body("/anything"));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "null");
  EXPECT_FALSE(fs::exists(patches));
  EXPECT_EQ(server.post("/f/clear_all_caches", repo_body("/anything")).body, "null");
}

}  // namespace
}  // namespace brackwen
