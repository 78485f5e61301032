// A repository someone else made, opened as it came: its .git/config, a file it includes from
// the work tree, its .gitattributes and hooks name programs. No endpoint that only reads may
// run one, and the programs that do run (the user's own filters) never see the credentials.
#include <gtest/gtest.h>

#include "robustness/reply_checks.hpp"
#include "server/handlers/endpoint_table.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;
using test::FieldKind;

constexpr const char* PASSWORD = "hunter2-secret";

// Each program appends its name and the credentials it sees to traces/<name>; a filter passes
// its input through, as a real one would.
void write_programs(const fs::path& dir) {
  fs::create_directories(dir / "bin");
  fs::create_directories(dir / "traces");
  for (std::string name :
       {"gpg",        "gpg-ssh", "gpg-x509",       "fsmonitor",     "clean",
        "smudge",     "process", "included-clean", "external-diff", "driver-diff",
        "textconv",   "hook",    "pager",          "editor",        "askpass",
        "credential", "ssh",     "alternate-refs", "diff-filter",   "mine"}) {
    std::ofstream(dir / "bin" / name)
        << "#!/bin/sh\necho \"$BRACKWEN_USERNAME $BRACKWEN_PASSWORD $GIT_ASKPASS\" >> '"
        << (dir / "traces" / name).string() << "'\nexec cat\n";
    fs::permissions(dir / "bin" / name, fs::perms::owner_all);
  }
}

// The repository's settings that name a program, by the program's name.
const std::vector<std::pair<std::string, std::string>> PROGRAM_SETTINGS = {
    {"filter.evil.clean", "clean"},
    {"filter.evil.smudge", "smudge"},
    {"filter.proc.process", "process"},
    {"diff.evil.textconv", "textconv"},
    {"diff.evil.command", "driver-diff"},
    {"diff.external", "external-diff"},
    {"core.fsmonitor", "fsmonitor"},
    {"gpg.program", "gpg"},
    {"gpg.ssh.program", "gpg-ssh"},
    {"gpg.x509.program", "gpg-x509"},
    {"core.pager", "pager"},
    {"core.editor", "editor"},
    {"core.askPass", "askpass"},
    {"credential.helper", "credential"},
    {"core.sshCommand", "ssh"},
    {"core.alternateRefsCommand", "alternate-refs"},
    {"interactive.diffFilter", "diff-filter"},
};

// Two commits, the second an edit of a diffed file and a plain one, then a commit with a
// signature header on top; the work tree as an unpacked archive leaves it: every file's time
// other than the index says, one edited, one new.
std::map<std::string, std::string> build_repository(test::TempRepo& repo, const fs::path& bin) {
  repo.write(".gitattributes",
             "f.txt diff=evil\n*.cln filter=evil\n*.prc filter=proc\n*.inc filter=included\n"
             "*.mine filter=mine\n");
  repo.write("included.cfg",
             "[filter \"included\"]\n\tclean = " + (bin / "included-clean").string() + "\n");
  for (const char* file : {"a.cln", "b.prc", "c.inc", "d.mine", "e.txt"}) repo.write(file, "x\n");
  test::sh(repo.path, "git add -A");
  std::string c1 = repo.commit_file("f.txt", "one\n", "first");
  repo.write("e.txt", "x\ny\n");
  test::sh(repo.path, "git add e.txt");
  std::string c2 = repo.commit_file("f.txt", "one\ntwo\n", "second");
  std::string config =
      "git config filter.evil.required true && "
      "git config filter.proc.required true && git config include.path ../included.cfg && "
      "git config log.showSignature true && git config core.untrackedCache true && "
      "git config core.hooksPath .git/hooks";
  for (const auto& [key, program] : PROGRAM_SETTINGS) {
    config += " && git config " + key + " " + (bin / program).string();
  }
  test::sh(repo.path, config +
                          " && git update-ref refs/remotes/origin/main HEAD~ && "
                          "git tag v1 HEAD~1");
  // A commit object with a signature, written by hand: showing it runs gpg.program.
  std::string signed_commit = test::trimmed(test::sh(
      repo.path,
      "printf 'tree %s\\nparent %s\\nauthor A <a@b> 1700000000 +0000\\ncommitter A <a@b> "
      "1700000000 +0000\\ngpgsig -----BEGIN PGP SIGNATURE-----\\n \\n iQ==\\n -----END PGP "
      "SIGNATURE-----\\n\\nsigned\\n' $(git rev-parse HEAD^{tree}) $(git rev-parse HEAD) | "
      "git hash-object -t commit -w --stdin"));
  test::sh(repo.path, "git update-ref refs/heads/main " + signed_commit +
                          " && touch -d @1900000000 * .gitattributes && "
                          "echo three >> f.txt && echo new > new.txt");
  for (const char* hook :
       {"post-index-change", "reference-transaction", "post-checkout", "post-merge", "post-rewrite",
        "pre-auto-gc", "pre-commit", "fsmonitor-watchman", "pre-push"}) {
    fs::copy_file(bin / "hook", repo.path / ".git/hooks" / hook);
  }
  return {{"c1", c1}, {"c2", c2}, {"c3", signed_commit}};
}

std::string field_value(const std::string& key, FieldKind kind, const fs::path& repo,
                        const std::map<std::string, std::string>& ids, const fs::path& out) {
  using K = FieldKind;
  const std::map<std::string, std::string> texts = {{"commitId", ids.at("c2")},
                                                    {"ancestorCandidateId", ids.at("c1")},
                                                    {"commitId1", ids.at("c1")},
                                                    {"commitId2", ids.at("c3")},
                                                    {"headCommitId", ids.at("c3")},
                                                    {"branchName", "main"},
                                                    {"searchText", "two"},
                                                    {"originalImagePath", "f.txt"},
                                                    {"currentWord", ""}};
  // clang-format off
  switch (kind) {
    case K::Repo: return test::quoted(repo.string());
    case K::Path: return test::quoted((out / "image").string());
    case K::U32: return "50";
    case K::U64: return "10";
    case K::Bool: return "false";
    case K::Filters: return "[]";
    case K::AcKind: return "\"commitMessage\"";
    case K::Commit: return test::commit_json(ids.at("c2"), test::quoted(ids.at("c1")));
    case K::OptCommit: return test::commit_json(ids.at("c3"), test::quoted(ids.at("c2")));
    case K::Patch: return test::patch_json(ids.at("c2"), "f.txt", "M");
    case K::WipPatch: return test::wip_json("f.txt", " ", "M", "M");
    case K::Text: return test::quoted(texts.count(key) ? texts.at(key) : "");
    default: return "";
  }
  // clang-format on
}

// The endpoints that neither start an action, run the front end's own git command nor write
// the user's settings or files.
bool only_reads(const test::EndpointShape& shape) {
  for (const char* other :
       {"run", "set_credentials", "override_git_home", "write_file", "set_data_store", "watch_repo",
        "start_diff_search", "poll_diff_search"}) {
    if (shape.path == other) return false;
  }
  return !shape.starts_action && !shape.bare_string;
}

// What each program that ran saw, by its name.
std::map<std::string, std::string> traces(const fs::path& dir) {
  std::map<std::string, std::string> seen;
  for (const auto& entry : fs::directory_iterator(dir)) {
    seen[entry.path().filename().string()] = test::read_file(entry.path());
  }
  return seen;
}

TEST(HostileRepository, ReadsRunNoProgramItNamesAndShowNoOneTheCredentials) {
  test::TempDir programs;
  write_programs(programs.path);
  test::TempRepo repo;
  auto ids = build_repository(repo, programs.path / "bin");
  test::ServerProcess server;
  std::ofstream(server.home / ".gitconfig")
      << "[filter \"mine\"]\n\tclean = " << (programs.path / "bin/mine").string() << "\n";
  EXPECT_EQ(server
                .post("/f/set_credentials", test::body({{"username", "\"someone\""},
                                                        {"password", test::quoted(PASSWORD)}}))
                .body,
            "null");
  std::string index = test::read_file(repo.path / ".git/index");
  auto client = server.client();
  std::map<std::string, std::string> replies;
  for (const test::EndpointShape& shape : test::endpoint_shapes()) {
    if (!only_reads(shape)) continue;
    std::string fields;
    for (const test::FieldShape& field : shape.fields) {
      fields += (fields.empty() ? "" : ",") + test::quoted(field.key) + ":" +
                field_value(field.key, field.kind, repo.path, ids, programs.path);
    }
    replies[shape.path] = test::post_with(*client, "/f/" + shape.path, "{" + fields + "}").body;
  }
  // After the loop: clearing the caches ends a search.
  std::string search = test::post_with(*client, "/f/start_diff_search",
                                       test::body({{"repoPath", test::quoted(repo.str())},
                                                   {"searchText", "\"two\""},
                                                   {"numResults", "10"},
                                                   {"startCommitIndex", "0"}}))
                           .body;
  EXPECT_TRUE(test::eventually([&] {
    return test::post_with(*client, "/f/poll_diff_search", "{\"searchId\":" + search + "}")
               .body.find("\"complete\":true") != std::string::npos;
  }));
  // Without a diff driver of its own a file goes to diff.external.
  std::string plain_hunks =
      test::post_with(*client, "/f/load_hunks",
                      test::body({{"repoPath", test::quoted(repo.str())},
                                  {"commit", test::commit_json(ids["c2"], test::quoted(ids["c1"]))},
                                  {"patch", test::patch_json(ids["c2"], "e.txt", "M")}}))
          .body;
  EXPECT_NE(plain_hunks.find("\"text\":\"y\""), std::string::npos);
  // The reads did their work: the history, the changed files and the diff are there.
  EXPECT_NE(replies["load_commits_and_refs"].find(ids["c3"]), std::string::npos);
  EXPECT_NE(replies["load_wip_patches"].find("f.txt"), std::string::npos);
  EXPECT_NE(replies["load_hunks"].find("\"text\":\"two\""), std::string::npos);
  // A read leaves the index as it was.
  EXPECT_EQ(test::read_file(repo.path / ".git/index"), index);
  // Only the user's own filter ran, and it saw no credentials.
  std::map<std::string, std::string> ran = traces(programs.path / "traces");
  for (const auto& [program, seen] : ran) {
    EXPECT_EQ(program, "mine") << seen;
    EXPECT_EQ(seen.find_first_not_of(" \n"), std::string::npos) << program << " saw " << seen;
  }
  EXPECT_TRUE(ran.contains("mine"));
}

// A status looks into each submodule with a git of its own, which reads that submodule's own
// configuration and attributes: their filters are switched off too, nested ones included, and
// the reply still tells that the submodules' content changed.
TEST(HostileRepository, SubmoduleFiltersNeverRun) {
  test::TempDir programs;
  write_programs(programs.path);
  test::TempRepo deep, inner, top;
  deep.write("m.txt", "m\n");
  test::sh(deep.path, "git add m.txt");
  deep.commit_file("n.txt", "n\n", "deep");
  inner.write("g.txt", "g\n");
  test::sh(inner.path, "git add g.txt");
  inner.commit_file("f.txt", "f\n", "inner");
  std::string add = "git -c protocol.file.allow=always submodule -q add ";
  test::sh(inner.path, add + test::shell_quoted(deep.str()) + " deep && git commit -qm deep");
  top.commit_file("t.txt", "t\n", "top");
  test::sh(top.path, add + test::shell_quoted(inner.str()) +
                         " sub && git commit -qm sub && git -c protocol.file.allow=always "
                         "submodule -q update --init --recursive");
  for (const auto& [modules, name] : {std::pair{".git/modules/sub", "clean"},
                                      std::pair{".git/modules/sub/modules/deep", "smudge"}}) {
    fs::path dir = top.path / modules;
    std::ofstream(dir / "config", std::ios::app)
        << "[filter \"" << name << "\"]\n\tclean = " << (programs.path / "bin" / name).string()
        << "\n";
    fs::create_directories(dir / "info");
    std::ofstream(dir / "info/attributes") << "* filter=" << name << "\n";
  }
  // A file whose size changed is not read; one whose time alone changed is, through its filter.
  test::sh(top.path,
           "echo more >> sub/g.txt && echo more >> sub/deep/m.txt && "
           "touch -d @1900000000 sub/f.txt sub/deep/n.txt");
  test::ServerProcess server;
  std::string reply = server.post("/f/load_wip_patches", test::repo_body(top.path)).body;
  EXPECT_NE(reply.find(R"("newFile":"sub","patchType":"M","stagedType":" ","unStagedType":"M")"),
            std::string::npos)
      << reply;
  EXPECT_TRUE(traces(programs.path / "traces").empty());
}

// The user's own filter "lfs" (as ~/.gitconfig holds it) cleans "DATA" to the committed "data",
// so big.bin is clean for git. A repository, or a submodule a status looks into, that defines
// filter.lfs.* in its own configuration (as a per-clone install writes it) gets the user's
// values back: the user's program runs, the repository's never does. The repository sets no
// filter.lfs.process, which in git itself would take the place of every clean, the user's too.
TEST(HostileRepository, TheUsersOwnFilterRunsWhereTheRepositoryDefinesItsName) {
  for (const std::string where : {"submodule", "repository"}) {
    test::TempDir programs;
    write_programs(programs.path);
    test::TempRepo inner, top;
    inner.commit_file("i.txt", "i\n", "inner");
    top.write(".gitattributes", "*.bin filter=lfs\n");
    top.write("big.bin", "data");
    top.write("note.txt", "a\n");
    test::sh(top.path, "git add .gitattributes big.bin note.txt && git commit -qm big");
    test::sh(top.path, "git -c protocol.file.allow=always submodule -q add " +
                           test::shell_quoted(inner.str()) + " sub && git commit -qm sub");
    fs::path config = top.path / (where == "submodule" ? ".git/modules/sub/config" : ".git/config");
    std::ofstream(config, std::ios::app)
        << "[filter \"lfs\"]\n\tclean = " << (programs.path / "bin/clean").string()
        << "\n\tsmudge = " << (programs.path / "bin/smudge").string() << "\n\trequired = true\n";
    test::sh(top.path,
             "printf DATA > big.bin && touch -d @1900000000 big.bin && echo b >> note.txt");
    test::ServerProcess server;
    std::ofstream(server.home / ".gitconfig")
        << "[filter \"lfs\"]\n\tclean = tr A-Z a-z\n\tsmudge = cat\n\trequired = true\n";
    std::string reply = server.post("/f/load_wip_patches", test::repo_body(top.path)).body;
    EXPECT_EQ(reply.find("big.bin"), std::string::npos) << where << ": " << reply;
    EXPECT_NE(reply.find("note.txt"), std::string::npos) << where << ": " << reply;
    EXPECT_TRUE(traces(programs.path / "traces").empty()) << where;
  }
}

// Where the user's filter has clean and smudge commands but no process and the repository sets
// one, the process gets an empty value back, which still keeps git from running any command of
// that filter: the user's required filter fails the status, and the line says why.
TEST(HostileRepository, AFilterProcessThatOutranksTheUsersFilterIsNamed) {
  test::TempDir programs;
  write_programs(programs.path);
  test::TempRepo repo;
  repo.write(".gitattributes", "*.bin filter=mine\n");
  repo.write("big.bin", "data");
  test::sh(repo.path, "git add .gitattributes big.bin && git commit -qm big");
  test::git(repo.path, {"config", "filter.mine.process", (programs.path / "bin/clean").string()});
  test::sh(repo.path, "printf DATA > big.bin && touch -d @1900000000 big.bin");
  test::ServerProcess server;
  std::ofstream(server.home / ".gitconfig")
      << "[filter \"mine\"]\n\tclean = tr A-Z a-z\n\tsmudge = cat\n\trequired = true\n";
  EXPECT_EQ(server.post("/f/load_wip_patches", test::repo_body(repo.path)).body, "null");
  EXPECT_EQ(server.stderr_so_far(),
            "git status failed: the repository's own filter.mine.process is not used on reads; "
            "while a filter's process is set git runs none of its commands, the user's own too\n");
  EXPECT_TRUE(traces(programs.path / "traces").empty());
}

// A diff driver's pattern for the function line is tried on every line above a change: one of
// the repository's with back references takes exponential time on lines of "a", with the CPU
// busy, so the stall rule never ends it. Its keys get the user's values back, or git's own
// function line; "binary" gets "auto", as for a driver nobody set.
TEST(HostileRepository, TheRepositorysDiffDriverKeysNeverRun) {
  const std::pair<std::string, std::string> drivers[] = {
      {"xfuncname", R"(((a*)*)*\2\1x)"},
      {"funcname", R"(\(\(a*\)*\)*\2\1x)"},
      {"binary", "true"},
  };
  std::string lines;
  for (int i = 0; i < 1000; ++i) lines += std::string(100, 'a') + "\n";
  test::ServerProcess server;
  for (const auto& [variable, value] : drivers) {
    test::TempRepo repo;
    std::string c1 = repo.commit_file("f.txt", lines + "one\n", "first");
    std::string c2 = repo.commit_file("f.txt", lines + "two\n", "second");
    std::ofstream(repo.path / ".git/info/attributes") << "*.txt diff=evil\n";
    test::git(repo.path, {"config", "diff.evil." + variable, value});
    std::string reply =
        server
            .post("/f/load_hunks", test::body({{"repoPath", test::quoted(repo.str())},
                                               {"commit", test::commit_json(c2, test::quoted(c1))},
                                               {"patch", test::patch_json(c2, "f.txt", "M")}}))
            .body;
    EXPECT_NE(reply.find(R"("status":"+","oldNum":null,"newNum":1001,"hunkIndex":0,"text":"two")"),
              std::string::npos)
        << variable << ": " << reply.substr(0, 300);
  }
}

// A mailmap.file of /dev/zero: a log that reads it never ends, busy, so the stall rule never
// stops it, and every request waits behind it. The history answers at once, as it does for the
// same commits without the setting, whose .mailmap gives the author another name: the authors
// are the commits' own. The next request is answered at once.
TEST(HostileRepository, AMailmapWithNoEndIsNeverRead) {
  test::TempRepo honest, endless;
  for (test::TempRepo* repo : {&honest, &endless}) {
    repo->commit_file("a.txt", "1\n", "first");
    repo->write(".mailmap", "Someone Else <else@example.com> <test@example.com>\n");
  }
  test::git(endless.path, {"config", "mailmap.file", "/dev/zero"});
  auto history = [](const test::TempRepo& repo) {
    return test::body({{"repoPath", test::quoted(repo.str())},
                       {"numCommits", "100"},
                       {"filters", "[]"},
                       {"fast", "false"},
                       {"skipStashes", "false"}});
  };
  test::ServerProcess server;
  std::string reply = server.post("/f/load_commits_and_refs", history(honest)).body;
  EXPECT_NE(reply.find(R"("author":"Test User","email":"test@example.com")"), std::string::npos)
      << reply;
  EXPECT_EQ(server.post("/f/load_commits_and_refs", history(endless)).body, reply);
  EXPECT_EQ(server.get("/pi").body, "brackwen");
  EXPECT_EQ(server.stderr_so_far(), "");
}

// Filters with odd names: "" (the attribute "filter=" with no name chooses it) is switched
// off like any other; one whose name git's command line cannot carry cannot be, and the status
// that would run it is not run.
TEST(HostileRepository, FiltersWithOddNamesNeverRun) {
  for (const std::string name : {"", "a=b"}) {
    test::TempDir programs;
    write_programs(programs.path);
    test::TempRepo repo;
    repo.write(".gitattributes", "* filter=" + name + "\n");
    test::sh(repo.path, "git add .gitattributes");
    repo.commit_file("f.txt", "one\n", "first");
    test::sh(repo.path, "git config " + test::shell_quoted("filter." + name + ".clean") + " " +
                            (programs.path / "bin/clean").string() +
                            " && touch -d @1900000000 f.txt .gitattributes");
    test::ServerProcess server;
    EXPECT_EQ(server.post("/f/load_wip_patches", test::repo_body(repo.path)).body, "null") << name;
    EXPECT_TRUE(traces(programs.path / "traces").empty()) << name;
  }
}

// Counting the filters takes linear time, and more than a command line can switch off are
// refused at once, with one line on standard error.
TEST(HostileRepository, MoreFiltersThanACommandLineHoldsAreRefused) {
  test::TempRepo repo;
  repo.commit_file("f.txt", "one\n", "first");
  {
    std::ofstream config(repo.path / ".git/config", std::ios::app);
    for (int i = 0; i < 250000; ++i) config << "[filter \"f" << i << "\"]\n\tclean = x\n";
  }
  test::ServerProcess server;
  EXPECT_EQ(server.post("/f/load_wip_patches", test::repo_body(repo.path)).body, "null");
  EXPECT_EQ(server.get("/pi").body, "brackwen");
  EXPECT_EQ(server.stderr_so_far(),
            "git status not run: the repository's configuration names more programs than a "
            "command line can switch off\n");
}

// A path is read as a path: "<id>:a..t.png" is no range from "<id>:a" to the tag "t.png", and
// no text conversion runs on the blob.
TEST(HostileRepository, ImagePathIsNeverARange) {
  test::TempDir programs;
  write_programs(programs.path);
  test::TempRepo repo;
  repo.write(".gitattributes", "*.png diff=evil\n");
  repo.write("a", "a\n");
  test::sh(repo.path, "git add a .gitattributes");
  std::string id = repo.commit_file("a..t.png", "\x89PNG..\n", "images");
  test::sh(repo.path, "git tag t.png && git config diff.evil.textconv " +
                          (programs.path / "bin/textconv").string());
  test::ServerProcess server;
  auto image = [&](const std::string& path) {
    return server
        .post("/f/load_commit_image",
              test::body({{"repoPath", test::quoted(repo.str())},
                          {"commitId", test::quoted(id)},
                          {"originalImagePath", test::quoted(path)},
                          {"tempImagePath", test::quoted((programs.path / "out").string())}}))
        .body;
  };
  EXPECT_EQ(image("a..t.png"), "true");
  EXPECT_EQ(test::read_file(programs.path / "out"), "\x89PNG..\n");
  fs::remove(programs.path / "out");
  // The root tree is no blob.
  EXPECT_EQ(image(""), "false");
  EXPECT_FALSE(fs::exists(programs.path / "out"));
  EXPECT_TRUE(traces(programs.path / "traces").empty());
}

// A byte that is not UTF-8 stands in the reply as the three bytes of U+FFFD, and is counted so:
// a line of 60 MB of 0xFF makes a reply of 343 MiB, over the cap.
TEST(HostileRepository, InvalidBytesCountAtTheirRepairedLength) {
  test::TempRepo repo;
  std::string c1 = repo.commit_file("a.txt", "a\n", "first");
  test::sh(repo.path,
           "head -c 60000000 /dev/zero | tr '\\000' '\\377' > big.txt && echo >> big.txt && "
           "git add big.txt && git commit -qm big");
  std::string c2 = test::trimmed(test::git(repo.path, {"rev-parse", "HEAD"}));
  test::ServerProcess server;
  std::string reply =
      server
          .post("/f/load_hunks", test::body({{"repoPath", test::quoted(repo.str())},
                                             {"commit", test::commit_json(c2, test::quoted(c1))},
                                             {"patch", test::patch_json(c2, "big.txt", "A")}}))
          .body;
  EXPECT_TRUE(reply == "null") << "a reply of " << reply.size() << " bytes";
  EXPECT_EQ(server.stderr_so_far(), "Diff of " + c2 + " stopped: its reply would pass 256 MiB\n");
}

}  // namespace
}  // namespace brackwen
