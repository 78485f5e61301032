// A repository that calls itself a partial clone and lacks an object: reading it makes git
// fetch what it lacks. The fetch may use the user's own ssh, credential helpers and settings,
// never a program the repository's own configuration names, nor a remote it ships; it starts
// no maintenance; and a read that fails says which of the repository's settings it set aside.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <iostream>

#include "robustness/reply_checks.hpp"
#include "server/handlers/endpoint_table.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;

// Each program notes that it ran in traces/<name> and fails, as a transport that reaches
// nobody does.
void write_programs(const fs::path& dir, std::initializer_list<const char*> names) {
  fs::create_directories(dir / "bin");
  fs::create_directories(dir / "traces");
  for (std::string name : names) {
    std::ofstream(dir / "bin" / name)
        << "#!/bin/sh\necho \"$*\" >> '" << (dir / "traces" / name).string() << "'\nexit 1\n";
    fs::permissions(dir / "bin" / name, fs::perms::owner_all);
  }
}

// Answers every HTTP request with 401, so that git asks for credentials.
struct Unauthorized {
  Unauthorized() {
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(listener, 16);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    server = std::thread([this] {
      for (int fd; (fd = ::accept(listener, nullptr, nullptr)) >= 0; ::close(fd)) {
        char request[8192];
        (void)::recv(fd, request, sizeof request, 0);
        std::string reply =
            "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
            "Content-Length: 0\r\nConnection: close\r\n\r\n";
        (void)::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
      }
    });
  }
  ~Unauthorized() {
    ::shutdown(listener, SHUT_RDWR);
    ::close(listener);
    server.join();
  }
  int listener = -1;
  uint16_t port = 0;
  std::thread server;
};

struct Case {
  std::string name;
  std::string url;  // {http} is the 401 server, {source} a repository holding every object
  std::vector<std::pair<std::string, std::string>> settings;  // {bin}: the programs' folder
  std::string ran;  // the program of the user's that the fetch runs, if any
};

std::string filled(std::string text, const std::map<std::string, std::string>& values) {
  for (const auto& [name, value] : values) {
    for (size_t at; (at = text.find(name)) != std::string::npos;)
      text.replace(at, name.size(), value);
  }
  return text;
}

// Two commits of f.txt; the first one's blob is then gone and the repository says that its
// remote "origin" has it.
std::pair<std::string, std::string> partial_repository(test::TempRepo& repo) {
  std::string c1 = repo.commit_file("f.txt", "one\n", "first");
  std::string c2 = repo.commit_file("f.txt", "one\ntwo\n", "second");
  std::string blob = test::trimmed(test::git(repo.path, {"rev-parse", c1 + ":f.txt"}));
  fs::remove(repo.path / ".git/objects" / blob.substr(0, 2) / blob.substr(2));
  test::sh(repo.path,
           "git config core.repositoryformatversion 1 && "
           "git config extensions.partialClone origin && git config remote.origin.promisor true");
  return {c1, c2};
}

TEST(LazyFetch, RunsTheUsersProgramsNeverTheRepositorys) {
  test::TempDir programs;
  write_programs(programs.path, {"ssh", "upload-pack", "vcs", "proxy", "ext", "alternate-refs",
                                 "helper", "askpass", "my-ssh", "my-helper", "git-remote-mine"});
  std::string bin = (programs.path / "bin").string();
  test::TempRepo source;
  source.commit_file("f.txt", "one\n", "first");
  test::TempRepo alternate;
  Unauthorized http;
  const std::vector<Case> cases = {
      {"ssh", "ssh://example.invalid/r", {{"core.sshCommand", "{bin}/ssh"}}, "my-ssh"},
      {"upload-pack", "{source}", {{"remote.origin.uploadpack", "{bin}/upload-pack"}}, ""},
      // git runs "git-remote-<vcs>", a path below the work tree once it holds a "/".
      {"vcs", "{source}", {{"remote.origin.vcs", "x/../{bin}/vcs"}}, ""},
      {"proxy", "git://example.invalid/r", {{"core.gitProxy", "{bin}/proxy"}}, ""},
      {"ext", "ext::{bin}/ext %S", {{"protocol.ext.allow", "always"}}, ""},
      {"alternates", "{source}", {{"core.alternateRefsCommand", "{bin}/alternate-refs"}}, ""},
      // A remote helper the user installed and allows only by hand.
      {"protocol", "mine::x", {{"protocol.mine.allow", "always"}}, ""},
      {"credentials",
       "http://127.0.0.1:{port}/r",
       {{"credential.helper", "{bin}/helper"}, {"core.askPass", "{bin}/askpass"}},
       "my-helper"},
  };
  test::ServerProcess server({{"PATH", bin + ":" + test::trimmed(test::sh(".", "echo $PATH"))}});
  std::ofstream(server.home / ".gitconfig")
      << "[core]\n\tsshCommand = " << bin << "/my-ssh\n[credential]\n\thelper = " << bin
      << "/my-helper\n[protocol \"mine\"]\n\tallow = never\n";
  auto client = server.client();
  for (const Case& c : cases) {
    if (c.url.starts_with("http") && !test::git_speaks_http()) {
      std::cout << c.name << ": skipped, this git was built without HTTP\n";
      continue;
    }
    test::TempRepo repo;
    auto [c1, c2] = partial_repository(repo);
    fs::create_directories(repo.path / "git-remote-x");
    std::map<std::string, std::string> values = {
        {"{bin}", c.name == "vcs" ? fs::relative(bin, repo.path).string() : bin},
        {"{source}", source.str()},
        {"{port}", std::to_string(http.port)}};
    std::string config =
        "git config remote.origin.url " + test::shell_quoted(filled(c.url, values));
    for (const auto& [key, value] : c.settings)
      config += " && git config " + key + " " + test::shell_quoted(filled(value, values));
    test::sh(repo.path, config);
    if (c.name == "alternates") {
      std::ofstream(repo.path / ".git/objects/info/alternates")
          << (alternate.path / ".git/objects").string() << "\n";
    }
    std::string reply =
        test::post_with(*client, "/f/load_hunks",
                        test::body({{"repoPath", test::quoted(repo.str())},
                                    {"commit", test::commit_json(c2, test::quoted(c1))},
                                    {"patch", test::patch_json(c2, "f.txt", "M")}}))
            .body;
    EXPECT_FALSE(reply.empty()) << c.name;
    if (!c.ran.empty()) {
      EXPECT_TRUE(fs::exists(programs.path / "traces" / c.ran)) << c.name;
    }
    for (const auto& entry : fs::directory_iterator(programs.path / "traces")) {
      std::string program = entry.path().filename().string();
      EXPECT_EQ(program, c.ran) << c.name << " ran " << program;
      fs::remove(entry.path());
    }
  }
}

// The user's GIT_ALLOW_PROTOCOL outranks every setting, so reads carry it as settings: the
// repository's upload-pack is still refused, and the protocols the list leaves out stay out.
TEST(LazyFetch, TheUsersProtocolListKeepsTheRefusals) {
  test::TempDir programs;
  write_programs(programs.path, {"upload-pack", "my-ssh"});
  std::string bin = (programs.path / "bin").string();
  test::TempRepo source;
  source.commit_file("f.txt", "one\n", "first");
  test::ServerProcess server(test::Environment{{"GIT_ALLOW_PROTOCOL", "file"}});
  std::ofstream(server.home / ".gitconfig") << "[core]\n\tsshCommand = " << bin << "/my-ssh\n";
  const std::pair<std::string, std::string> cases[] = {
      {source.str(), "git config remote.origin.uploadpack " + bin + "/upload-pack"},
      {"ssh://example.invalid/r", "true"}};
  for (const auto& [url, config] : cases) {
    test::TempRepo repo;
    auto [c1, c2] = partial_repository(repo);
    test::sh(repo.path,
             "git config remote.origin.url " + test::shell_quoted(url) + " && " + config);
    server.post("/f/load_hunks", test::body({{"repoPath", test::quoted(repo.str())},
                                             {"commit", test::commit_json(c2, test::quoted(c1))},
                                             {"patch", test::patch_json(c2, "f.txt", "M")}}));
    EXPECT_TRUE(fs::is_empty(programs.path / "traces")) << url;
  }
}

// An ssh that runs the remote command here, as a login to this machine would, or one that fails
// to connect when `works` is false.
void write_local_ssh(const fs::path& program, bool works = true) {
  fs::create_directories(program.parent_path());
  std::ofstream(program) << "#!/bin/sh\n"
                         << (works ? "" : "exit 255\n")
                         // The options, each with its value, then the host.
                         << "while [ \"${1#-}\" != \"$1\" ]; do shift 2; done\nshift\n"
                         << "exec sh -c \"$1\"\n";
  fs::permissions(program, fs::perms::owner_all);
}

// A source repository of two commits of f.txt that serves filters, and a blobless clone of it
// in `dir`/r: the first commit's blob is fetched when a read needs it.
struct BloblessClone {
  explicit BloblessClone(const fs::path& dir) : path(dir / "r") {
    c1 = source.commit_file("f.txt", "one\n", "first");
    c2 = source.commit_file("f.txt", "one\ntwo\n", "second");
    test::git(source.path, {"config", "uploadpack.allowFilter", "true"});
    fs::create_directories(dir);
    test::sh(dir, "git clone -q --no-checkout --filter=blob:none file://" +
                      test::shell_quoted(source.str()) + " r");
  }
  std::string hunks_body() const {
    return test::body({{"repoPath", test::quoted(path.string())},
                       {"commit", test::commit_json(c2, test::quoted(c1))},
                       {"patch", test::patch_json(c2, "f.txt", "M")}});
  }
  test::TempRepo source;
  fs::path path;
  std::string c1, c2;
};

constexpr const char* FETCHED_HUNK =
    R"("status":"+","oldNum":null,"newNum":2,"hunkIndex":0,"text":"two")";

// The repository's upload-pack runs on the host the URL names, over ssh as well: a clone of a
// repository on this machine reached as "localhost:<path>" would run it as the user. Nothing
// carries it; without one, the user's ssh fetches.
TEST(LazyFetch, TheRepositorysUploadPackRunsOverNoTransport) {
  test::TempDir dir;
  write_local_ssh(dir.path / "bin/ssh");
  fs::path marker = dir.path / "MARKER";
  for (bool upload_pack : {true, false}) {
    BloblessClone clone(dir.path / (upload_pack ? "a" : "b"));
    std::string config = "git config remote.origin.url localhost:" + clone.source.str();
    if (upload_pack) {
      config += " && git config remote.origin.uploadpack " +
                test::shell_quoted("touch " + marker.string() + "; git-upload-pack");
    }
    test::sh(clone.path, config);
    test::ServerProcess server;
    std::ofstream(server.home / ".gitconfig")
        << "[core]\n\tsshCommand = " << (dir.path / "bin/ssh").string() << "\n";
    std::string reply = server.post("/f/load_hunks", clone.hunks_body()).body;
    EXPECT_FALSE(fs::exists(marker)) << upload_pack;
    if (!upload_pack) {
      EXPECT_NE(reply.find(FETCHED_HUNK), std::string::npos) << reply;
      EXPECT_EQ(server.stderr_so_far(), "");
      continue;
    }
    EXPECT_EQ(reply, "null");
    EXPECT_EQ(server.stderr_so_far(),
              "git diff failed: the repository's own remote.origin.uploadpack is not used on "
              "reads; ssh and local remotes are refused while it sets an upload-pack\n");
  }
}

// Settings of a repository's own that make git's automatic maintenance due on any fetch: two
// packs are too many, gc runs in the foreground (so that a test sees it), and a commit-graph
// is written by the fetch and by maintenance.
constexpr const char* MAINTENANCE_DUE =
    "git config gc.autoPackLimit 1 && git config gc.autoDetach false && "
    "git config fetch.writeCommitGraph true && git config maintenance.commit-graph.enabled true "
    "&& git config maintenance.commit-graph.auto -1 && git update-ref refs/heads/loose HEAD";

// The packs, by name.
std::vector<std::string> pack_files(const fs::path& repo) {
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(repo / ".git/objects/pack")) {
    if (entry.path().extension() == ".pack") files.push_back(entry.path().filename().string());
  }
  return test::sorted(files);
}

// gc packs the loose ref; maintenance and the fetch write a commit-graph.
void expect_no_maintenance(const fs::path& repo) {
  EXPECT_TRUE(fs::exists(repo / ".git/refs/heads/loose"));
  EXPECT_FALSE(fs::exists(repo / ".git/objects/info/commit-graph"));
  EXPECT_FALSE(fs::exists(repo / ".git/objects/info/commit-graphs"));
}

// A promisor remote that the repository ships inside itself is never fetched from (it would
// run upload-pack and pack-objects on whatever it holds), however its URL names it, and the
// read says so; no read starts maintenance or gc, whatever the repository's settings make due.
TEST(LazyFetch, NoFetchFromARemoteTheRepositoryShipsNoMaintenanceAfterAFetch) {
  // How the configuration names the bare repository shipped in .git/o ({top} is the work tree,
  // {dir} a folder beside it); the last keeps the real remote, outside.
  const std::pair<std::string, std::string> remotes[] = {
      {"relative", "git config remote.origin.url .git/o"},
      // A colon after a slash makes no host.
      {"colon", "mv .git/o .git/o:x && git config remote.origin.url .git/o:x"},
      {"file URL", "git config remote.origin.url file://{top}/.git/%6f"},
      {"link", "ln -s {top}/.git {dir}/link && git config remote.origin.url {dir}/link/o"},
      {"git file",
       "echo 'gitdir: {top}/.git/o' > {dir}/gf && git config remote.origin.url {dir}/gf"},
      {"rewritten",
       "git config remote.origin.url https://example.invalid/o && "
       "git config url.{top}/.git/.insteadOf https://example.invalid/"},
      {"remotes file",
       "git config --unset remote.origin.url && mkdir .git/remotes && "
       "echo 'URL: {top}/.git/o' > .git/remotes/origin"},
      {"outside", ""},
  };
  test::TempDir dir;
  for (size_t i = 0; i < std::size(remotes); ++i) {
    const auto& [name, config] = remotes[i];
    fs::path folder = dir.path / std::to_string(i);
    BloblessClone clone(folder);
    test::sh(clone.path, MAINTENANCE_DUE);
    if (!config.empty()) {
      test::sh(folder,
               "git clone -q --bare " + test::shell_quoted(clone.source.str()) + " r/.git/o");
      test::sh(clone.path,
               filled(config, {{"{top}", clone.path.string()}, {"{dir}", folder.string()}}));
    }
    std::vector<std::string> packs = pack_files(clone.path);
    test::ServerProcess server;
    std::string reply = server.post("/f/load_hunks", clone.hunks_body()).body;
    expect_no_maintenance(clone.path);
    if (config.empty()) {
      EXPECT_NE(reply.find(FETCHED_HUNK), std::string::npos) << reply;
      EXPECT_EQ(pack_files(clone.path).size(), packs.size() + 1);
      continue;
    }
    EXPECT_EQ(reply, "null") << name;
    EXPECT_EQ(pack_files(clone.path), packs) << name;
    EXPECT_EQ(server.stderr_so_far(),
              "git diff failed: the repository's own remote.origin.url is not used on reads; a "
              "local remote that lies inside the repository, or that its configuration does not "
              "name, is never fetched from\n")
        << name;
  }
}

// A promisor remote beside the repository whose upload-pack sends a keep-alive every second
// while its pack-objects waits for ever on a FIFO where the pack's bitmap should be: the stall
// rule sees progress in the keep-alives. The request's reads end at its cap, after the real
// 120 s, with one line, and the next request is answered at once. The same remote with its
// bitmap serves the object.
TEST(LazyFetch, AFetchThatNeverEndsStopsAtTheRequestsCap) {
  test::TempDir dir;
  test::ServerProcess server;
  auto client = server.client();
  client->set_read_timeout(std::chrono::seconds(150));
  for (bool endless : {false, true}) {
    fs::path folder = dir.path / (endless ? "endless" : "honest");
    BloblessClone clone(folder);
    test::sh(folder, "git clone -q --bare " + test::shell_quoted(clone.source.str()) +
                         " o.git && cd o.git && git config uploadpack.allowFilter true && git "
                         "config uploadpack.keepAlive 1 && git repack -qadb");
    if (endless)
      test::sh(folder, "cd o.git/objects/pack && b=$(ls *.bitmap) && rm $b && mkfifo $b");
    test::git(clone.path, {"config", "remote.origin.url", "../o.git"});
    std::string reply = test::post_with(*client, "/f/load_hunks", clone.hunks_body()).body;
    if (!endless) {
      EXPECT_NE(reply.find(FETCHED_HUNK), std::string::npos) << reply;
      continue;
    }
    EXPECT_EQ(reply, "null");
    EXPECT_EQ(server.get("/pi").body, "brackwen");
    EXPECT_EQ(server.stderr_so_far(),
              "git diff stopped: its request's reads took more than 120 s\n");
  }
}

// A clone made with `git clone -c core.sshCommand=...` keeps that command in its own
// configuration. A read fetches with the user's ssh instead; when that fails, one line names
// the key set aside. A read that fails where the repository set nothing writes no line.
TEST(LazyFetch, AFailedFetchNamesTheKeysItSetAside) {
  test::TempDir dir;
  write_local_ssh(dir.path / "bin/ssh");
  write_local_ssh(dir.path / "bin/user-ssh", false);
  for (bool own_ssh : {true, false}) {
    BloblessClone clone(dir.path / (own_ssh ? "a" : "b"));
    std::string config = "git config remote.origin.url localhost:" + clone.source.str();
    if (own_ssh) config += " && git config core.sshCommand " + (dir.path / "bin/ssh").string();
    test::sh(clone.path, config);
    test::ServerProcess server;
    std::ofstream(server.home / ".gitconfig")
        << "[core]\n\tsshCommand = " << (dir.path / "bin/user-ssh").string() << "\n";
    EXPECT_EQ(server.post("/f/load_hunks", clone.hunks_body()).body, "null") << own_ssh;
    EXPECT_EQ(server.stderr_so_far(),
              own_ssh ? "git diff failed: the repository's own core.sshCommand is not used on "
                        "reads\n"
                      : "");
  }
}

// A blobless clone of a local repository fetches what it lacks through git's own upload-pack,
// and the reply is the diff.
TEST(LazyFetch, RealPartialCloneFetchesWhatItLacks) {
  test::TempRepo source;
  std::string c1 = source.commit_file("f.txt", "one\n", "first");
  std::string c2 = source.commit_file("f.txt", "one\ntwo\n", "second");
  test::git(source.path, {"config", "uploadpack.allowFilter", "true"});
  test::TempDir clone;
  test::sh(clone.path, "git clone -q --no-checkout --filter=blob:none file://" +
                           test::shell_quoted(source.str()) + " r");
  test::ServerProcess server;
  std::string reply = server
                          .post("/f/load_hunks",
                                test::body({{"repoPath", test::quoted((clone.path / "r").string())},
                                            {"commit", test::commit_json(c2, test::quoted(c1))},
                                            {"patch", test::patch_json(c2, "f.txt", "M")}}))
                          .body;
  EXPECT_NE(reply.find(R"("status":"+","oldNum":null,"newNum":2,"hunkIndex":0,"text":"two")"),
            std::string::npos)
      << reply;
}

}  // namespace
}  // namespace brackwen
