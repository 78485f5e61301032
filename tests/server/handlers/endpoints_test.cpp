// Every "/f/" endpoint asked of the built server over the fixture repositories, and the few
// behaviours that take more than one request.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <numeric>
#include <random>
#include <thread>

#include "server/handlers/endpoint_table.hpp"
#include "support/git_recorder.hpp"
#include "support/server_harness.hpp"

namespace brackwen::test {
namespace {

namespace fs = std::filesystem;

// A bare repository served over git's dumb HTTP protocol on 127.0.0.1, every request behind
// Basic authentication, for tests of credentials.
struct AuthenticatedRepoServer {
  static constexpr const char* user = "tester";
  static constexpr const char* password = "s3cret p\xc3\xa4ssword";
  static constexpr const char* readme = "behind a login\n";

  // The repository holds one commit with readme.txt; it is cloned as "repo".
  AuthenticatedRepoServer() {
    source.commit_file("readme.txt", readme, "first");
    sh(dir.path,
       "git clone -q --bare '" + source.str() + "' repo.git && git -C repo.git update-server-info");
    server.Get(R"(/repo\.git/(.*))", [this](const httplib::Request& req, httplib::Response& res) {
      auto expected = httplib::make_basic_authentication_header(user, password).second;
      auto file = dir.path / "repo.git" / req.matches[1].str();
      if (req.get_header_value("Authorization") != expected) {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"test\"");
      } else if (!std::filesystem::is_regular_file(file)) {
        res.status = 404;
      } else {
        res.set_content(read_file(file), "text/plain");
      }
    });
    port = server.bind_to_any_port("127.0.0.1");
    thread = std::thread([this] { server.listen_after_bind(); });
  }
  ~AuthenticatedRepoServer() {
    server.stop();
    thread.join();
  }

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/repo.git"; }

  TempRepo source;
  TempDir dir;
  httplib::Server server;
  std::thread thread;
  int port = -1;
};

// Asks each row and compares its reply; BRACKWEN_PRINT_ROWS=1 prints the replies instead,
// with the fixture's ids and paths as placeholders, for writing new rows.
void ask(const ServerProcess& server, const std::vector<Row>& rows) {
  const Fixture& fixture = Fixture::get();
  bool print = std::getenv("BRACKWEN_PRINT_ROWS") != nullptr;
  for (const Row& row : rows) {
    std::string body = fixture.body(row);
    HttpReply reply = server.post("/f/" + row.endpoint, body);
    std::string got = reply.status == 500 && reply.body.empty() ? kDropped
                      : reply.status == 200                     ? reply.body
                                            : "status " + std::to_string(reply.status);
    if (print) {
      std::cout << "ROW " << row.endpoint << " " << row.repo << " | " << fixture.placeholders(got)
                << "\n";
      continue;
    }
    EXPECT_TRUE(matches(got, fixture.fill(row.reply)))
        << row.endpoint << " " << body << "\n got: " << got.substr(0, 2000)
        << "\nwant: " << fixture.fill(row.reply).substr(0, 2000);
  }
}

ServerProcess table_server() {
  const Fixture& fixture = Fixture::get();
  return ServerProcess(Environment{{"TMPDIR", fixture.fill("{root}/tmp \"y\"/")}});
}

// Posts until the reply holds `text`; the last reply.
std::string poll_until(const ServerProcess& server, const std::string& path,
                       const std::string& body, const std::string& text) {
  std::string last;
  bool seen = eventually([&] {
    last = server.post(path, body).body;
    return last.find(text) != std::string::npos;
  });
  EXPECT_TRUE(seen) << path << " never answered with " << text << "; last: " << last;
  return last;
}

std::string poll_action(const ServerProcess& server, const std::string& id) {
  return poll_until(server, "/f/poll_action2", "{\"actionId\":" + id + "}", "\"done\":true");
}

TEST(Endpoints, Table) {
  const Fixture& fixture = Fixture::get();
  ServerProcess server = table_server();
  ask(server, cold_rows());
  ask(server, rows());
  auto file = [&](const std::string& name) { return read_file(fixture.fill("{root}/" + name)); };
  // What the rows wrote, and what they must not have.
  EXPECT_FALSE(fs::exists(fixture.fill("{root}/planted")));
  EXPECT_EQ(file("out/names"), "x\ny\n");
  EXPECT_EQ(file("out/old.png"),
            sh(fixture.fill("{image}"), fixture.fill("git show {i1}:img/\u00fc.png")));
  EXPECT_EQ(file("out/keep.png"), "keep");
  EXPECT_EQ(file("out/\u00fcn\u00ef \"c\u00f6d\u00e9\".txt"), "");
  EXPECT_TRUE(fs::exists(fixture.fill("{root}/out/\u00fcn\u00ef \"c\u00f6d\u00e9\".txt")));
  EXPECT_EQ(file("files/long"), "a\nb");
  EXPECT_EQ(file("out/array"), "\u00fc");
  EXPECT_FALSE(fs::exists(fixture.fill("{root}/out/no")));
  EXPECT_FALSE(fs::exists(fixture.fill("{root}/out/cut")));
  EXPECT_FALSE(fs::exists(fixture.fill("{root}/out/nul")));
  EXPECT_EQ(read_file(server.home / ".local/share/brackwen/data_store.json"),
            "{\n  \"k\": \"line\\nbreak\"\n}");
  // None of the refused or failed requests started an action.
  EXPECT_EQ(server.post("/f/fetch_all", repo_body(fixture.fill("{main}"))).body, "2");
}

// Settings a user may well have in ~/.gitconfig, each changing a format some query reads when
// git takes it from there.
constexpr const char* ODD_USER_SETTINGS = R"([color]
	ui = always
	diff = always
	status = always
	decorate = always
[diff]
	external = /bin/true
	noprefix = true
	mnemonicPrefix = true
	relative = true
	renames = copies
	renameLimit = 1
	algorithm = patience
	indentHeuristic = false
	context = 1
	interHunkContext = 9
	suppressBlankEmpty = true
	orderFile = ~/order
	ignoreSubmodules = all
	submodule = log
[log]
	showSignature = true
	decorate = short
	abbrevCommit = true
	showRoot = false
	excludeDecoration = refs/tags/*
	initialDecorationSet = all
	date = iso
	follow = true
[format]
	pretty = oneline
[status]
	short = true
	branch = true
	renames = false
	showUntrackedFiles = no
	showStash = true
	submoduleSummary = true
[core]
	quotePath = false
	abbrev = 12
	commentChar = ";"
	bigFileThreshold = 1
[i18n]
	logOutputEncoding = ISO-8859-1
[submodule]
	recurse = true
)";

// The user's own settings never change what a reply reads: every row that only reads gives the
// same reply with them. The configuration is the user's to see (any object will do), and
// "/f/run" is git as the user would run it.
TEST(Endpoints, UserSettingsChangeNoReply) {
  ServerProcess server = table_server();
  std::ofstream(server.home / ".gitconfig") << ODD_USER_SETTINGS;
  std::ofstream(server.home / "order") << "z*\nsrc/*\n";
  auto reads = [](std::vector<Row> rows) {
    std::erase_if(rows, [](const Row& row) { return row.endpoint == "run"; });
    for (Row& row : rows) {
      if (row.endpoint == "load_full_config" && row.reply.starts_with("{")) row.reply = "{\u2026}";
    }
    return rows;
  };
  ask(server, reads(cold_rows()));
  ask(server, reads(rows()));
}

TEST(Endpoints, ActionsAreNumberedAndReportedOnce) {
  ServerProcess server;
  TempRepo repo;
  repo.commit_file("a.txt", "a\n", "first \"line\"");
  EXPECT_EQ(server.post("/f/stash_changes", repo_body(repo.path)).body, "2");
  EXPECT_EQ(server.post("/f/command", R"({"repoPath":"/r","args":[]})").body, "3");
  std::string id = server
                       .post("/f/command", body({{"repoPath", test::quoted(repo.str())},
                                                 {"args", R"(["log","--format=%s"])"}}))
                       .body;
  EXPECT_EQ(poll_action(server, id),
            R"({"stdout":["first \"line\""],"stderr":[],"done":true,"error":null})");
  EXPECT_EQ(server.post("/f/poll_action2", "{\"actionId\":" + id + "}").body, "null");
  EXPECT_EQ(server.post("/f/poll_action2", "{\"actionId\":0}").body, "null");
  EXPECT_TRUE(eventually([&] {
    return server.stderr_text().find("poll_action2: Requested action id of 0\n") !=
           std::string::npos;
  }));

  TempRepo fresh;
  id = server
           .post("/f/commands",
                 body({{"repoPath", test::quoted(fresh.str())},
                       {"commands", R"([["rev-parse","--git-dir"],["rev-parse","--verify","-q",)"
                                    R"("nope"],["commit","--allow-empty","-m","never"]])"}}))
           .body;
  EXPECT_EQ(poll_action(server, id),
            R"({"stdout":[".git"],"stderr":[],"done":true,"error":"git"})");
  EXPECT_EQ(git(fresh.path, {"rev-list", "--all"}), "");
  id = server.post("/f/fetch_all", repo_body("/nonexistent/dir")).body;
  // The front end shows the system's own words for a git that cannot start.
  EXPECT_EQ(poll_action(server, id),
            R"({"stdout":[],"stderr":[],"done":true,"error":{"iO":"No such file or directory"}})");
}

// The ids of commit `id`'s refs in a reply that lists commits, as the JSON writes them.
std::string refs_of(const std::string& reply, const std::string& id) {
  size_t commit = reply.find("\"id\":\"" + id + "\"");
  size_t refs = reply.find("\"refs\":[", commit);
  if (commit == std::string::npos || refs == std::string::npos) return "absent";
  size_t start = refs + 8;
  return reply.substr(start, reply.find(']', start) - start);
}

// The ids of the refs a reply marks as the head.
std::string head_refs(const std::string& reply) {
  std::string ids;
  for (size_t at = reply.find("\"head\":true"); at != std::string::npos;
       at = reply.find("\"head\":true", at + 1)) {
    size_t start = reply.rfind("{\"id\":\"", at) + 7;
    ids += reply.substr(start, reply.find('"', start) - start) + " ";
  }
  return ids;
}

// HEAD decorates the commit it names as git's own log shows it, whatever git is on PATH, and a
// repository's refs named like it decorate nothing.
TEST(Endpoints, HeadDecoratesItsCommitInEveryStateItCanBeIn) {
  struct Case {
    std::string state, setup, c1_refs, c2_refs, heads;
  };
  const std::string origin = R"("refs/remotes/origin/main")";
  const std::string main = R"("refs/heads/main")", tag = R"("refs/tags/v1")";
  const Case cases[] = {
      {"on a branch", "true", origin, main + "," + tag, "refs/heads/main "},
      {"on a link to a branch",
       "git symbolic-ref refs/heads/link refs/heads/main && git symbolic-ref HEAD refs/heads/link",
       origin, main + "," + tag + R"(,"refs/heads/link")", "refs/heads/main "},
      {"detached", "git checkout -q --detach", origin, R"("HEAD",)" + tag + "," + main, ""},
      {"on a remote-tracking ref", "git symbolic-ref HEAD refs/remotes/origin/main",
       R"("HEAD",)" + origin, tag + "," + main, ""},
      {"on a ref that decorates nothing",
       "git update-ref refs/other/x HEAD~ && git symbolic-ref HEAD refs/other/x",
       R"("HEAD",)" + origin, tag + "," + main, ""},
      {"unborn, beside refs named HEAD",
       "git update-ref refs/heads/HEAD HEAD~ && git update-ref refs/HEAD HEAD~ && "
       "git symbolic-ref HEAD refs/heads/none",
       origin + R"(,"refs/heads/HEAD")", tag + "," + main, ""},
  };
  ServerProcess server;
  for (const Case& c : cases) {
    TempRepo repo;
    std::string c1 = repo.commit_file("a.txt", "1\n", "c1", 1700000000);
    sh(repo.path, "git update-ref refs/remotes/origin/main HEAD");
    std::string c2 = repo.commit_file("a.txt", "2\n", "c2", 1700000100);
    sh(repo.path, "git tag v1 && " + c.setup);
    std::string reply =
        server
            .post("/f/load_commits_and_refs", body({{"repoPath", quoted(repo.str())},
                                                    {"numCommits", "10"},
                                                    {"filters", "[]"},
                                                    {"fast", "false"},
                                                    {"skipStashes", "true"}}))
            .body;
    EXPECT_EQ(refs_of(reply, c1), c.c1_refs) << c.state;
    EXPECT_EQ(refs_of(reply, c2), c.c2_refs) << c.state;
    EXPECT_EQ(head_refs(reply), c.heads) << c.state;
    std::string head = server.post("/f/load_head_commit", repo_body(repo.path)).body;
    EXPECT_EQ(head_refs(head), c.heads) << c.state;
  }
}

TEST(Endpoints, CredentialsReachGitThroughTheAskPassProgram) {
  if (!test::git_speaks_http()) GTEST_SKIP() << "this git was built without HTTP";
  AuthenticatedRepoServer remote;
  ServerProcess server(Environment{{"GIT_CONFIG_GLOBAL", "/dev/null"}});
  // Where the server looks for it: beside the directory of its executable.
  auto built = fs::path(BRACKWEN_BINARY).parent_path().parent_path() / "ask-pass/ask-pass";
  fs::create_directories(server.root / "a/ask-pass");
  fs::copy_file(built, server.root / "a/ask-pass/ask-pass");
  TempDir target;
  std::string clone =
      body({{"repoPath", test::quoted(target.str())}, {"url", test::quoted(remote.url())}});
  EXPECT_NE(poll_action(server, server.post("/f/clone_repo", clone).body)
                .find("\"error\":\"credential\""),
            std::string::npos);
  EXPECT_EQ(server
                .post("/f/set_credentials", body({{"username", test::quoted(remote.user)},
                                                  {"password", test::quoted(remote.password)}}))
                .body,
            "null");
  EXPECT_NE(poll_action(server, server.post("/f/clone_repo", clone).body).find("\"error\":null"),
            std::string::npos);
  EXPECT_EQ(read_file(target.path / "repo/readme.txt"), remote.readme);
}

TEST(Endpoints, OverrideGitHomeReachesLaterGitProcesses) {
  ServerProcess server;
  TempDir home;
  std::ofstream(home.path / ".gitconfig") << "[brackwen]\n\tprobe = from-home\n";
  EXPECT_EQ(server.post("/f/override_git_home", repo_body(home.path)).body, "null");
  std::string id =
      server.post("/f/command", R"({"repoPath":"/","args":["config","--global","brackwen.probe"]})")
          .body;
  EXPECT_EQ(poll_action(server, id),
            R"({"stdout":["from-home"],"stderr":[],"done":true,"error":null})");
}

TEST(Endpoints, DiffSearchIsStartedPolledAndCleared) {
  const Fixture& fixture = Fixture::get();
  ServerProcess server;
  std::string start = fixture.fill(
      R"({"repoPath":"{main}","searchText":"three","numResults":10,"startCommitIndex":0})");
  auto poll = [](int id) { return "{\"searchId\":" + std::to_string(id) + "}"; };
  // Never loaded: the search ends without results.
  EXPECT_EQ(server.post("/f/start_diff_search", start).body, "1");
  EXPECT_EQ(poll_until(server, "/f/poll_diff_search", poll(1), "true"),
            R"({"searchId":1,"complete":true,"results":null})");
  server.post("/f/load_commits_and_refs",
              fixture.body({"load_commits_and_refs", "main", {{"numCommits", "500"}}, ""}));
  EXPECT_EQ(server.post("/f/start_diff_search", fixture.fill(R"(["{main}","three",10,0])")).body,
            "2");
  std::string done = poll_until(server, "/f/poll_diff_search", poll(2), "true");
  EXPECT_EQ(
      fixture.placeholders(done),
      R"({"searchId":2,"complete":true,"results":[["{c3}",[)"
      R"({"patch":{"commitId":"{c3}","oldFile":"crlf.txt","newFile":"crlf.txt","patchType":"A",)"
      R"("id":"crlf.txt-A","isImage":false},"lines":[{"status":"+","oldNum":null,"newNum":3,)"
      R"("hunkIndex":0,"text":"three","index":2,"lineEnding":"\n"}]},)"
      R"({"patch":{"commitId":"{c3}","oldFile":"lf.txt","newFile":"lf.txt","patchType":"A",)"
      R"("id":"lf.txt-A","isImage":false},"lines":[{"status":"+","oldNum":null,"newNum":3,)"
      R"("hunkIndex":0,"text":"three","index":2,"lineEnding":"\n"}]}]]]})");
  EXPECT_EQ(server.post("/f/poll_diff_search", poll(2)).body, done);
  EXPECT_EQ(server.post("/f/clear_cache", repo_body(fixture.fill("{main}"))).body, "null");
  EXPECT_EQ(server.post("/f/poll_diff_search", poll(2)).body,
            R"({"searchId":2,"complete":false,"results":null})");
}

// The changed files are those of the commits loaded now: after a reload of fewer commits the
// older ones have none, and no file name of theirs is suggested.
TEST(Endpoints, ChangedFilesAreThoseOfTheLoadedCommits) {
  ServerProcess server;
  TempRepo repo;
  std::vector<std::string> ids;
  for (int i = 0; i < 5; ++i) {
    std::string file = "f" + std::to_string(i) + ".txt";
    ids.push_back(repo.commit_file(file, "x\n", "commit " + file, 1700000000 + i));
  }
  auto load = [&](const std::string& count) {
    server.post(
        "/f/load_commits_and_refs",
        Fixture::get().body({"load_commits_and_refs",
                             "",
                             {{"repoPath", test::quoted(repo.str())}, {"numCommits", count}},
                             ""}));
  };
  std::string oldest =
      body({{"repoPath", test::quoted(repo.str())}, {"commitId", test::quoted(ids.front())}});
  load("100");
  EXPECT_EQ(server.post("/f/load_patches_for_commit", oldest).body,
            R"([{"commitId":")" + ids.front() +
                R"(","oldFile":"f0.txt","newFile":"f0.txt","patchType":"A","id":"f0.txt-A",)"
                R"("isImage":false}])");
  load("1");
  EXPECT_EQ(server.post("/f/load_patches_for_commit", oldest).body, "null");
  EXPECT_EQ(
      server
          .post("/f/auto_complete", "[\"f\"," + test::quoted(repo.str()) + ",10,\"commitMessage\"]")
          .body,
      R"(["f4.txt"])");
}

TEST(Endpoints, WatchedRepositoriesAreFlaggedUntilCleared) {
  ServerProcess server;
  TempDir ws;
  std::string a = (ws.path / "a").string(), b = (ws.path / "b").string();
  fs::create_directories(a);
  fs::create_directories(b);
  auto changed = [&](const std::string& repo) {
    return server.post("/f/repo_has_changed", repo_body(repo)).body;
  };
  auto watch = [&](const std::string& start) {
    return server.post("/f/watch_repo",
                       body({{"repoPaths", "[" + test::quoted(a) + "," + test::quoted(b) + "]"},
                             {"rootRepo", test::quoted(ws.str())},
                             {"startChanged", start}}));
  };
  EXPECT_EQ(watch("false").body, "null");
  EXPECT_EQ(changed(a), "false");
  EXPECT_EQ(changed(a + "/"), "null");  // another text
  watch("true");
  EXPECT_EQ(changed(a), "true");
  EXPECT_EQ(server.post("/f/clear_repo_changed_status", repo_body(a)).body, "null");
  EXPECT_EQ(changed(a), "false");
  EXPECT_EQ(changed(b), "true");
  EXPECT_TRUE(eventually([&] {
    std::ofstream(ws.path / "a/file.txt", std::ios::app) << "x";
    return changed(a) == "true";
  }));
  EXPECT_EQ(server.post("/f/stop_watching_repo", repo_body("")).body, "null");
  EXPECT_EQ(changed(a), "null");
  server.post("/f/clear_repo_changed_status", repo_body(a));
  EXPECT_EQ(changed(a), "null");
}

// The server runs in a user namespace limited to 40 inotify watches, 12 of them held by another
// program (tail following files): the large tree gets its share of 20, which leaves 8 beside it.
TEST(Endpoints, LargeTreeIsWatchedInPartAndLetsGoForTheNextWatch) {
  std::string limit = "echo 40 > /proc/sys/user/max_inotify_watches || exit 1; ";
  if (std::system(("unshare -U -r sh -c '" + limit + "' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "user namespaces are not available";
  }
  TempDir ws;
  for (int i = 0; i < 12; ++i) std::ofstream(ws.path / ("held" + std::to_string(i)));
  ServerProcess server({}, {},
                       {"unshare", "-U", "-r", "sh", "-c",
                        limit + "tail -f --pid=$$ '" + ws.str() + "'/held* >/dev/null 2>&1 & " +
                            "until [ $(cat /proc/$!/fdinfo/* | grep -c '^inotify wd') = 12 ]; " +
                            "do sleep 0.01; done; exec \"$0\""});
  auto watched = [&](const std::string& dir, const fs::path& file) {
    server.post("/f/watch_repo", body({{"repoPaths", "[" + test::quoted(dir) + "]"},
                                       {"rootRepo", test::quoted(dir)},
                                       {"startChanged", "false"}}));
    return eventually([&] {
      std::ofstream(file, std::ios::app) << "x";
      return server.post("/f/repo_has_changed", repo_body(dir)).body == "true";
    });
  };
  std::string large = (ws.path / "large").string();
  for (int i = 0; i < 24; ++i) fs::create_directories(ws.path / "large" / std::to_string(i));
  EXPECT_TRUE(watched(large, ws.path / "large/file"));
  EXPECT_TRUE(server.wait_for_stdout("Partial watch: some folders under " + large + " are"));
  // Ten nested directories: all watched only once the large tree's watches are let go.
  fs::create_directories(ws.path / "small/1/2/3/4/5/6/7/8/9");
  EXPECT_TRUE(watched((ws.path / "small").string(), ws.path / "small/1/2/3/4/5/6/7/8/9/file"));
}

TEST(Endpoints, DataStoreIsWrittenWholeAndPrinted) {
  ServerProcess server;
  fs::path dir = server.home / ".local/share/brackwen";
  server.post("/f/get_data_store", R"({"repoPath":""})");
  EXPECT_TRUE(fs::is_directory(dir));
  EXPECT_EQ(server.stdout_text().find("config_"), std::string::npos);  // a get prints nothing
  EXPECT_EQ(server.post("/f/set_data_store", R"({"data":{}})").body,
            R"({"success":true,"message":"Data store updated"})");
  EXPECT_EQ(read_file(dir / "data_store.json"), "{}");
  EXPECT_EQ(server.post("/f/get_data_store", R"([""])").body, R"({"config":{}})");
  server.post("/f/set_data_store", R"([{"k":"first","k":"line\nbreak"}])");
  std::string text = "{\n  \"k\": \"line\\nbreak\"\n}";
  EXPECT_EQ(read_file(dir / "data_store.json"), text);
  EXPECT_TRUE(server.wait_for_stdout("config_file_path: \"" + (dir / "data_store.json").string() +
                                     "\"\nconfig_text: " + text + "\n"));
}

// A data-store file as a user may have edited it: any layout and escape reads, and anything
// else is described with its line and column (columns in bytes from 0).
TEST(Endpoints, DataStoreFileIsReadOrDescribed) {
  ServerProcess server;
  fs::path file = server.home / ".local/share/brackwen/data_store.json";
  fs::create_directories(file.parent_path());
  auto config = [](const std::string& key, const std::string& value) {
    return "{\"config\":{" + quoted(key) + ":" + quoted(value) + "}}";
  };
  auto error = [](const std::string& message) {
    return "{\"error\":" + quoted("Failed to parse config file: " + message) + "}";
  };
  const std::pair<std::string, std::string> cases[] = {
      {" \t\r\n{ } \n", R"({"config":{}})"},
      {"{\n\t\"a\" :\t\"1\" ,\r\n\t\"a\":\"x\"\n}", config("a", "x")},
      {R"({"e":"\"\\\/\b\f\n\r\t\u00fc\u20AC\ud83d\ude00"})", R"({"config":{"e":"\"\\/\b\f\n\r\t)"
                                                              "\u00fc\u20ac\U0001f600"
                                                              R"("}})"},
      {"{\"\u00fc\":\"\u65e5\u672c\"}", config("\u00fc", "\u65e5\u672c")},
      {"", error("EOF while parsing a value at line 1 column 0")},
      {"  \n ", error("EOF while parsing a value at line 2 column 1")},
      {R"({"a":"1"}x)", error("trailing characters at line 1 column 10")},
      {"{}\n\n  {}", error("trailing characters at line 3 column 3")},
      {"{\n  \"a\": 1\n}",
       error("invalid type: integer `1`, expected a string at line 2 column 8")},
      {R"({"a":-12})", error("invalid type: integer `-12`, expected a string at line 1 column 8")},
      {R"({"a":1.5})",
       error("invalid type: floating point `1.5`, expected a string at line 1 column 8")},
      {R"({"a":1e2})",
       error("invalid type: floating point `100.0`, expected a string at line 1 column 8")},
      {R"({"a":1e400})", error("number out of range at line 1 column 10")},
      {R"({"a":true})",
       error("invalid type: boolean `true`, expected a string at line 1 column 9")},
      {R"({"a":false})",
       error("invalid type: boolean `false`, expected a string at line 1 column 10")},
      {R"({"a":null})", error("invalid type: null, expected a string at line 1 column 9")},
      {R"({"a":[]})", error("invalid type: sequence, expected a string at line 1 column 5")},
      {R"({"a":{}})", error("invalid type: map, expected a string at line 1 column 5")},
      {"[]", error("invalid type: sequence, expected a map at line 1 column 0")},
      {R"("x")", error("invalid type: string \"x\", expected a map at line 1 column 3")},
      {R"("a\rb")", error("invalid type: string \"a\\rb\", expected a map at line 1 column 6")},
      {"{", error("EOF while parsing an object at line 1 column 1")},
      {R"({"a")", error("EOF while parsing an object at line 1 column 4")},
      {R"({"a":)", error("EOF while parsing a value at line 1 column 5")},
      {R"({"a":"1")", error("EOF while parsing an object at line 1 column 8")},
      {R"({"a":"1)", error("EOF while parsing a string at line 1 column 7")},
      {R"({"a" "1"})", error("expected `:` at line 1 column 6")},
      {R"({"a":"1" "b":"2"})", error("expected `,` or `}` at line 1 column 10")},
      {R"({"a":"1",})", error("trailing comma at line 1 column 10")},
      {R"({a:"1"})", error("key must be a string at line 1 column 2")},
      {R"({"a":x})", error("expected value at line 1 column 6")},
      {R"({"a":nul})", error("expected ident at line 1 column 9")},
      {"{\"a\":\"\t\"}",
       error(
           "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 7")},
      {R"({"a":"\q"})", error("invalid escape at line 1 column 8")},
      {R"({"a":"\u12G4"})", error("invalid escape at line 1 column 11")},
      {R"({"a":"\u12)", error("EOF while parsing a string at line 1 column 10")},
      {R"({"a":"\udc00"})", error("lone leading surrogate in hex escape at line 1 column 12")},
      {R"({"a":"\ud800x"})", error("unexpected end of hex escape at line 1 column 13")},
      {R"({"a":"\ud800\u0041"})",
       error("lone leading surrogate in hex escape at line 1 column 18")},
      {R"({"a":01})", error("invalid number at line 1 column 7")},
  };
  for (const auto& [text, reply] : cases) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    EXPECT_EQ(server.post("/f/get_data_store", R"({"repoPath":""})").body, reply) << text;
  }
}

// A save the file system refuses halfway must not cost the user the settings they had.
TEST(Endpoints, FailedSaveKeepsTheOldStore) {
  signal(SIGXFSZ, SIG_IGN);  // inherited by the server
  ServerProcess server;
  rlimit low{64 * 1024, RLIM_INFINITY};  // once started: the harness may copy the binary
  ASSERT_EQ(prlimit(server.pid, RLIMIT_FSIZE, &low, nullptr), 0);
  server.post("/f/set_data_store", R"({"data":{"keep":"me"}})");
  EXPECT_EQ(
      server.post("/f/set_data_store", R"({"data":{"big":")" + std::string(200000, 'x') + "\"}}")
          .body,
      R"j({"success":false,"message":"Failed to write to config file: File too large (os error 27)"})j");
  fs::path dir = server.home / ".local/share/brackwen";
  EXPECT_EQ(read_file(dir / "data_store.json"), "{\n  \"keep\": \"me\"\n}");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST(Endpoints, ClearAllCachesDeletesTheChangedFilesCache) {
  ServerProcess server;
  fs::path patches = server.home / ".cache/brackwen/patches";
  fs::create_directories(patches);
  std::ofstream(patches / "workapp.json") << "{}";
  EXPECT_EQ(server.post("/f/clear_all_caches", repo_body("/anything")).body, "null");
  EXPECT_FALSE(fs::exists(patches));
  EXPECT_EQ(server.post("/f/clear_all_caches", repo_body("/anything")).body, "null");
}

TEST(Endpoints, TempDirIsTmpWhenUnsetAndTakenAsSetOtherwise) {
  unsetenv("TMPDIR");
  EXPECT_EQ(ServerProcess().post("/f/temp_dir", "\"\"").body, "\"/tmp\"");
  EXPECT_EQ(ServerProcess(Environment{{"TMPDIR", ""}}).post("/f/temp_dir", "\"\"").body, "\"\"");
}

// Every line of a 160,000-line file reordered: an exact diff's cost grows with the square of
// the line count and held the one request loop past the client's timeout.
TEST(Endpoints, ShuffledLargeFile) {
  constexpr size_t kLines = 160000;
  std::vector<std::string> lines;
  for (size_t i = 0; i < kLines; ++i) lines.push_back("line " + std::to_string(i) + "\n");
  auto joined = [&] { return std::accumulate(lines.begin(), lines.end(), std::string()); };
  TempRepo repo;
  std::string head = repo.commit_file("big.txt", joined(), "big");
  std::shuffle(lines.begin(), lines.end(), std::mt19937(1));
  repo.write("big.txt", joined());
  ServerProcess server;
  std::string reply =
      server
          .post("/f/load_wip_hunk_lines", body({{"repoPath", test::quoted(repo.str())},
                                                {"patch", wip_json("big.txt", " ", "M", "M")},
                                                {"headCommit", commit_json(head, "")}}))
          .body;
  std::map<std::string, size_t> tally;
  for (const char* status : {" ", "-", "+"}) {
    std::string key = "\"status\":\"" + std::string(status) + "\"";
    for (size_t at = reply.find(key); at != std::string::npos; at = reply.find(key, at + 1)) {
      ++tally[status];
    }
  }
  // Each old line once as " " or "-", each new line once as " " or "+".
  EXPECT_EQ(tally[" "] + tally["-"], kLines);
  EXPECT_EQ(tally[" "] + tally["+"], kLines);
  EXPECT_EQ(server.get("/pi").status, 200);
}

// A file of 1.4 million short lines, added in one commit: its reply would pass 256 MiB. Git is
// stopped, the reply is null with one line saying why, and the server answers at once.
TEST(Endpoints, DiffOverTheCapIsNullAndHoldsNothing) {
  TempRepo repo;
  std::string lines;
  for (int i = 0; i < 1400000; ++i) lines += "x\n";
  std::string id = repo.commit_file("big.txt", lines, "big");
  ServerProcess server;
  HttpReply reply = server.post("/f/load_hunks", body({{"repoPath", test::quoted(repo.str())},
                                                       {"commit", commit_json(id, "")},
                                                       {"patch", patch_json(id, "big.txt", "A")}}));
  EXPECT_EQ(reply.body.substr(0, 64), "null");
  std::string line = "Diff of " + id + " stopped: its reply would pass 256 MiB\n";
  EXPECT_EQ(server.stderr_so_far(), line);
  EXPECT_EQ(server.get("/pi").body, "brackwen");
  EXPECT_LT(server.status_kib("VmHWM:"), 128u << 10);
}

// A git that dies after part of its diff leaves a diff that still reads: here one cut inside
// its second hunk. No part of a diff is shown as the whole.
TEST(Endpoints, DiffOfAGitThatDiesMidwayIsNull) {
  TempRepo repo;
  std::string lines;
  for (int i = 1; i <= 20; ++i) lines += std::to_string(i) + "\n";
  std::string first = repo.commit_file("f.txt", lines, "first");
  std::string second =
      repo.commit_file("f.txt", "a" + lines.substr(1, 44) + "b" + lines.substr(46), "second");
  GitRecorder stub(
      "case \"$*\" in *\" diff \"*) \"$REAL_GIT\" \"$@\" > \"$0.out\"; head -n 13 \"$0.out\"; "
      "kill -9 $$;; esac; exec \"$REAL_GIT\" \"$@\"");
  std::string reply =
      ServerProcess()
          .post("/f/load_hunks", body({{"repoPath", test::quoted(repo.str())},
                                       {"commit", commit_json(second, test::quoted(first))},
                                       {"patch", patch_json(second, "f.txt", "M")}}))
          .body;
  EXPECT_EQ(reply, "null");
}

// Working-copy files whose line list would pass 256 MiB: an untracked log of 10 million short
// lines (20 MB, a gigabyte of reply), refused before any line is diffed; a file of a gibibyte,
// refused before it is read; a deleted one of 96 MiB of empty lines, whose git is stopped
// early in the blob; and a file of 1.5 million lines each changed, whose two sides pass only
// together. Each reply is null with one line saying why, and the server holds neither list
// nor reply.
TEST(Endpoints, WorkingCopyDiffOverTheCapIsNullAndHoldsNothing) {
  TempRepo repo;
  auto lines = [](size_t count, char c) {
    std::string text(2 * count, '\n');
    for (size_t i = 0; i < text.size(); i += 2) text[i] = c;
    return text;
  };
  std::string blob = trimmed(sh(repo.path,
                                "head -c 100663296 /dev/zero | tr '\\0' '\\n' | git -c "
                                "core.looseCompression=1 hash-object -w --stdin"));
  git(repo.path, {"update-index", "--add", "--cacheinfo", "100644," + blob + ",deleted.txt"});
  std::string head = repo.commit_file("changed.txt", lines(1500000, 'a'), "first");
  repo.write("changed.txt", lines(1500000, 'b'));
  repo.write("big.log", lines(10000000, 'x'));
  repo.write("sparse.bin", "");
  fs::resize_file(repo.path / "sparse.bin", 1ull << 30);  // never read: longer than the cap
  const std::tuple<const char*, const char*, size_t> cases[] = {{"big.log", "A", 64},
                                                                {"sparse.bin", "A", 64},
                                                                {"deleted.txt", "D", 64},
                                                                {"changed.txt", "M", 256}};
  for (const auto& [file, type, peak_mib] : cases) {
    std::string request = body({{"repoPath", test::quoted(repo.str())},
                                {"patch", wip_json(file, " ", type, type)},
                                {"headCommit", commit_json(head, "")}});
    ServerProcess server;
    std::string said;
    for (const char* endpoint : {"/f/load_wip_hunk_lines", "/f/load_wip_hunks"}) {
      EXPECT_EQ(server.post(endpoint, request).body.substr(0, 64), "null") << file << endpoint;
      said += "Working-copy diff stopped: its reply would pass 256 MiB\n";
      EXPECT_EQ(server.stderr_so_far(), said) << file << endpoint;
    }
    EXPECT_EQ(server.get("/pi").body, "brackwen");
#ifndef __SANITIZE_ADDRESS__  // its shadow memory and quarantine
    EXPECT_LT(server.status_kib("VmHWM:"), peak_mib << 10) << file;
#endif
  }
}

// The committed side of a working-copy diff is the file's blob, read whole or not at all: a
// name holding ".." beside a file and a tag named as its two ends is no range, and a git that
// dies after part of the blob gives no diff rather than one against that part.
TEST(Endpoints, WorkingCopyDiffReadsTheCommittedBlobWhole) {
  TempRepo repo;
  repo.write("a", "a\n");
  git(repo.path, {"add", "a"});
  std::string head = repo.commit_file("a..t.png", "one\ntwo\n", "both");
  git(repo.path, {"tag", "t.png"});
  repo.write("a..t.png", "one\nTWO\n");
  std::string request = body({{"repoPath", test::quoted(repo.str())},
                              {"patch", wip_json("a..t.png", " ", "M", "M")},
                              {"headCommit", commit_json(head, "")}});
  const std::pair<const char*, const char*> cases[] = {
      {"exec \"$REAL_GIT\" \"$@\"",
       R"j([{"status":" ","oldNum":1,"newNum":1,"hunkIndex":-1,"text":"one","index":0,"lineEnding":"\n"},{"status":"-","oldNum":2,"newNum":null,"hunkIndex":-1,"text":"two","index":1,"lineEnding":"\n"},{"status":"+","oldNum":null,"newNum":2,"hunkIndex":-1,"text":"TWO","index":2,"lineEnding":"\n"}])j"},
      {"case \"$*\" in *cat-file*) printf 'one\\n'; kill -9 $$;; esac; exec \"$REAL_GIT\" \"$@\"",
       "null"},
  };
  for (const auto& [git_body, reply] : cases) {
    GitRecorder stub(git_body);
    EXPECT_EQ(ServerProcess().post("/f/load_wip_hunk_lines", request).body, reply) << git_body;
  }
}

// A 160 MiB file of a commit reaches its target byte for byte, without the server ever
// holding it.
TEST(Endpoints, CommitImageStreamsALargeFile) {
  TempRepo repo;
  std::string blob = trimmed(sh(repo.path,
                                "head -c 167772160 /dev/zero | git -c core.looseCompression=1 "
                                "hash-object -w --stdin"));
  git(repo.path, {"update-index", "--add", "--cacheinfo", "100644," + blob + ",big.bin"});
  git(repo.path, {"commit", "-qm", "big"});
  ServerProcess server;
  fs::path target = server.root / "big.out";
  EXPECT_EQ(
      server
          .post("/f/load_commit_image", body({{"repoPath", test::quoted(repo.str())},
                                              {"commitId", "\"HEAD\""},
                                              {"originalImagePath", "\"big.bin\""},
                                              {"tempImagePath", test::quoted(target.string())}}))
          .body,
      "true");
  EXPECT_EQ(trimmed(git(repo.path, {"hash-object", target.string()})), blob);
  EXPECT_LT(server.status_kib("VmHWM:"), 112u << 10);
}

}  // namespace
}  // namespace brackwen::test
