// Repositories that are unusual but real, read end to end through the server: file names
// that need care, a detached HEAD, no commits, no working tree, a shallow history, a
// submodule, ten thousand tags, a shuffled large file and symbolic links. The answers must
// be right, not merely present.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <numeric>
#include <random>
#include <set>
#include <sstream>

#include "api_types/json.hpp"
#include "robustness/json_view.hpp"
#include "server/endpoints.hpp"
#include "support/server_harness.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

namespace fs = std::filesystem;
using test::JsonDoc;
using test::ServerProcess;
using test::TempDir;
using test::TempRepo;
using test::trimmed;
using Strings = std::vector<std::string>;

std::string q(const std::string& text) {
  return to_json(text);
}

std::string rev_parse(const fs::path& repo, const std::string& rev) {
  return trimmed(test::git(repo, {"rev-parse", rev}));
}

bool served(const std::string& endpoint) {
  return find_endpoint(endpoint_table(), endpoint) != nullptr;
}

std::string repo_body(const fs::path& repo) {
  return R"({"repoPath":)" + q(repo.string()) + "}";
}

std::string load_body(const fs::path& repo) {
  return R"({"repoPath":)" + q(repo.string()) +
         R"(,"numCommits":20000,"filters":[],"fast":false,"skipStashes":false})";
}

std::string commit_json(const std::string& id, const Strings& parents) {
  std::string list;
  for (const auto& p : parents) {
    if (!list.empty()) list += ",";
    list += q(p);
  }
  return R"({"author":"Test User","email":"test@example.com",)"
         R"("date":{"ms":1700000000000,"adjustment":0},"id":)" +
         q(id) + R"(,"index":0,"parentIds":[)" + list +
         R"(],"isMerge":false,"message":"m","stashId":null,"refs":[],"filtered":false,)"
         R"("numSkipped":0})";
}

std::string patch_json(const std::string& commit, const std::string& file,
                       const std::string& type) {
  return R"({"commitId":)" + q(commit) + R"(,"oldFile":)" + q(file) + R"(,"newFile":)" + q(file) +
         R"(,"patchType":)" + q(type) + R"(,"id":"x","isImage":false})";
}

std::string wip_patch_json(const std::string& file, const std::string& staged,
                           const std::string& unstaged, const std::string& type) {
  return R"({"oldFile":)" + q(file) + R"(,"newFile":)" + q(file) + R"(,"patchType":)" + q(type) +
         R"(,"stagedType":)" + q(staged) + R"(,"unStagedType":)" + q(unstaged) +
         R"(,"conflicted":false,"id":"x","isImage":false})";
}

// A file modified in the work tree, for the working-copy hunk endpoints and the
// conflicted-file reader (which drops "headCommit").
std::string wip_body(const fs::path& repo, const std::string& file, const std::string& head) {
  return R"({"repoPath":)" + q(repo.string()) + R"(,"patch":)" +
         wip_patch_json(file, " ", "M", "M") + R"(,"headCommit":)" + head + "}";
}

// The texts of the lines of the first hunk of a load_hunks or load_wip_hunks reply.
Strings first_hunk_texts(const JsonDoc& reply) {
  return test::field_of_each(test::value_or_null(reply.root.at(0).at(0)["lines"]), "text");
}

JsonDoc post_json(const ServerProcess& server, const std::string& endpoint,
                  const std::string& body) {
  auto reply = server.post("/f/" + endpoint, body);
  EXPECT_EQ(reply.status, 200) << endpoint << " " << body;
  JsonDoc doc(reply.body);
  EXPECT_TRUE(doc.ok) << endpoint << ": " << reply.body;
  return doc;
}

std::string post_text(const ServerProcess& server, const std::string& endpoint,
                      const std::string& body) {
  return server.post("/f/" + endpoint, body).body;
}

Strings commit_ids(const JsonDoc& loaded) {
  return test::field_of_each(test::value_or_null(loaded.root.at(0)), "id");
}

Strings ref_ids(const JsonDoc& loaded) {
  return test::field_of_each(test::value_or_null(loaded.root.at(1)), "id");
}

Strings sorted(Strings list) {
  std::sort(list.begin(), list.end());
  return list;
}

const Strings kOddNames = {
    "-dash.txt", "--output=x.txt",  "tab\there.txt",         "new\nline.txt", "quo\"te.txt",
    " lead.txt", "back\\slash.txt", "\xC3\xBCn\xC3\xAF.txt", "plain.txt",
};
// Latin-1, not UTF-8: git's output carries the byte, which reaches JSON as U+FFFD.
const std::string kLatin1Name = "caf\xE9.txt";
const std::string kLatin1AsSent = "caf\xEF\xBF\xBD.txt";

TEST(OddRepositories, FileNamesThatNeedCare) {
  TempRepo repo;
  for (const auto& name : kOddNames) repo.write(name, "x\n");
  repo.write(kLatin1Name, "x\n");
  test::sh(repo.path, "git add -A && git commit -q -m first");
  std::string first = rev_parse(repo.path, "HEAD");
  for (const auto& name : kOddNames) repo.write(name, "x\ny\n");
  repo.write(kLatin1Name, "x\ny\n");
  test::sh(repo.path, "git add -A && git commit -q -m second");
  std::string head = rev_parse(repo.path, "HEAD");
  for (const auto& name : kOddNames) repo.write(name, "x\ny\nz\n");
  repo.write(kLatin1Name, "x\ny\nz\n");
  test::git(repo.path, {"branch", "plain.txt"});  // a branch named like a file
  ServerProcess server;

  auto loaded = post_json(server, "load_commits_and_refs", load_body(repo.path));
  EXPECT_EQ(commit_ids(loaded), (Strings{head, first}));

  Strings all = kOddNames;
  all.push_back(kLatin1AsSent);
  auto patches = post_json(server, "load_patches_for_commit",
                           R"({"repoPath":)" + q(repo.str()) + R"(,"commitId":)" + q(head) + "}");
  EXPECT_EQ(sorted(test::field_of_each(patches.root, "newFile")), sorted(all));
  EXPECT_EQ(sorted(test::field_of_each(patches.root, "oldFile")), sorted(all));
  Strings patch_ids;
  for (const auto& name : sorted(all)) patch_ids.push_back(name + "-M");
  EXPECT_EQ(sorted(test::field_of_each(patches.root, "id")), patch_ids);

  // Sorted by the lower-cased name, which for these names is the name itself.
  auto wip = post_json(server, "load_wip_patches", repo_body(repo.path));
  EXPECT_EQ(test::field_of_each(wip.root, "newFile"), sorted(all));
  EXPECT_EQ(test::field_of_each(wip.root, "unStagedType"), Strings(all.size(), "M"));

  test::TempDir out;
  for (const auto& name : kOddNames) {
    SCOPED_TRACE(name);
    auto hunks =
        post_json(server, "load_hunks",
                  R"({"repoPath":)" + q(repo.str()) + R"(,"commit":)" + commit_json(head, {first}) +
                      R"(,"patch":)" + patch_json(head, name, "M") + "}");
    EXPECT_EQ(first_hunk_texts(hunks), (Strings{"x", "y"}));
    auto wip_hunks =
        post_json(server, "load_wip_hunks", wip_body(repo.path, name, commit_json(head, {first})));
    EXPECT_EQ(first_hunk_texts(wip_hunks), (Strings{"x", "y", "z"}));
    EXPECT_EQ(uint64_t(wip_hunks.root.at(1)), 1u);
    fs::path image = out.path / "image";
    EXPECT_EQ(post_text(server, "load_commit_image",
                        R"({"repoPath":)" + q(repo.str()) + R"(,"commitId":)" + q(head) +
                            R"(,"originalImagePath":)" + q(name) + R"(,"tempImagePath":)" +
                            q(image.string()) + "}"),
              "true");
    EXPECT_EQ(test::read_file(image), "x\ny\n");
  }
  // What the front end received for the Latin-1 name names no file.
  EXPECT_EQ(
      post_text(server, "load_hunks",
                R"({"repoPath":)" + q(repo.str()) + R"(,"commit":)" + commit_json(head, {first}) +
                    R"(,"patch":)" + patch_json(head, kLatin1AsSent, "M") + "}"),
      "null");

  auto conflicted =
      post_json(server, "load_conflicted_file", wip_body(repo.path, "new\nline.txt", "null"));
  EXPECT_EQ(test::size_of(test::value_or_null(conflicted.root["lines"])), 3u);
  EXPECT_EQ(test::size_of(test::value_or_null(conflicted.root["sections"])), 0u);

  auto found =
      post_json(server, "search_commits",
                R"({"repoPath":)" + q(repo.str()) + R"(,"searchText":"DASH","numResults":9})");
  EXPECT_EQ(sorted(test::field_of_each(found.root, "commitId")), sorted({head, first}));

  auto top = post_json(server, "load_top_commit_for_branch",
                       R"({"repoPath":)" + q(repo.str()) + R"(,"branchName":"plain.txt"})");
  EXPECT_EQ(test::text_of(test::value_or_null(top.root["id"])), head);

  auto listed =
      post_json(server, "run", R"({"repoPath":)" + q(repo.str()) + R"(,"args":["ls-files","-z"]})");
  std::string files = test::text_of(listed.root);
  for (const auto& name : kOddNames) EXPECT_NE(files.find(name + '\0'), std::string::npos);
}

// Authors and messages that imitate the log format's fields and records, in a repository that
// also holds a file name with line ends: each commit is listed once with its own id, parents,
// author and message, no text becomes a ref, and none reaches git as an option.
TEST(OddRepositories, CommitTextsThatImitateTheLogFormat) {
  const std::string marker = "4a41380f-a4e8-4251-9ca2-bf55186ed32a";
  TempRepo repo;
  TempDir out;
  fs::path planted = out.path / "planted";
  std::string a = repo.commit_file("x\ntouch EVIL\n.txt", "1\n", "a\n");
  std::string b = repo.commit_file("b.txt", "1\n", "b\n");
  struct Forgery {
    std::string author, message;
  };
  const std::vector<Forgery> forgeries = {
      {"m; m; 1700000000 +0000; --output=" + planted.string() + "; 0123abc", "option as id\n"},
      {"x; y; 1234567890 +0000; " + a + "; " + b, "another's id\n"},
      {"Semi; Colon",
       "tag\n" + marker + "; (tag: refs/tags/v9.9)\nB; b@x; 1 +0000; " + b + "; ; fake\n"},
      {"T", "bare marker\n" + marker + ";\n"},
      {"T", marker + "; (HEAD -> refs/heads/fake\n\ntail\n"},
  };
  Strings authors = {"Test User", "Test User"}, messages = {"b\n", "a\n"};
  for (const auto& [author, message] : forgeries) {
    repo.write(".git/message", message);
    test::sh(repo.path, "GIT_AUTHOR_NAME='" + author +
                            "' git commit -q --allow-empty --cleanup=verbatim -F .git/message");
    authors.insert(authors.begin(), author);
    messages.insert(messages.begin(), message);
  }
  repo.write("b.txt", "2\n");
  test::git(repo.path, {"stash", "push", "-q", "-m", "keep " + marker + "; x"});
  // git's own account of the history: each id with its parents, newest first.
  Strings ids, parents;
  std::istringstream listed(test::git(repo.path, {"rev-list", "--parents", "--branches"}));
  for (std::string line; std::getline(listed, line);) {
    ids.push_back(line.substr(0, 40));
    parents.push_back(line.substr(std::min<size_t>(41, line.size())));
  }
  ServerProcess server;

  auto loaded = post_json(server, "load_commits_and_refs", load_body(repo.path));
  auto commits = test::value_or_null(loaded.root.at(0));
  // The stash entry, wherever its time puts it, aside: git's list has the rest.
  Strings stash_ids = test::field_of_each(commits, "stashId");
  size_t stash =
      std::find(stash_ids.begin(), stash_ids.end(), "refs/stash@{0}") - stash_ids.begin();
  ASSERT_EQ(stash_ids.size(), ids.size() + 1);
  ASSERT_LT(stash, stash_ids.size());
  EXPECT_EQ(test::text_of(commits.at(stash)["message"]), "On main");
  auto others = [&](const char* key) {
    Strings list = test::field_of_each(commits, key);
    list.erase(list.begin() + stash);
    return list;
  };
  EXPECT_EQ(others("id"), ids);
  EXPECT_EQ(others("author"), authors);
  EXPECT_EQ(others("message"), messages);
  Strings listed_parents;
  for (size_t i = 0; i < stash_ids.size(); ++i) {
    std::string joined;
    for (auto p : simdjson::dom::array(commits.at(i)["parentIds"])) {
      joined += (joined.empty() ? "" : " ") + test::text_of(p);
    }
    if (i != stash) listed_parents.push_back(joined);
  }
  EXPECT_EQ(listed_parents, parents);
  EXPECT_EQ(ref_ids(loaded), Strings{"refs/heads/main"});
  auto head = post_json(server, "load_head_commit", repo_body(repo.path));
  EXPECT_EQ(test::text_of(test::value_or_null(head.root["id"])), ids.front());

  // Every road to the changed files of uncached commits.
  auto patches = post_json(server, "load_patches_for_commit",
                           R"({"repoPath":)" + q(repo.str()) + R"(,"commitId":)" + q(a) + "}");
  EXPECT_EQ(test::field_of_each(patches.root, "newFile"), Strings{"x\ntouch EVIL\n.txt"});
  post_text(server, "search_commits",
            R"({"repoPath":)" + q(repo.str()) + R"(,"searchText":"m","numResults":9})");
  post_text(server, "auto_complete",
            R"({"currentWord":"o","repoPath":)" + q(repo.str()) +
                R"(,"maxNum":5,"kind":"commitMessage"})");
  post_text(server, "load_commits_and_refs",
            R"({"repoPath":)" + q(repo.str()) +
                R"(,"numCommits":100,"filters":[{"file":{"file_name":"b.txt"}}],"fast":false,)"
                R"("skipStashes":false})");
  EXPECT_FALSE(fs::exists(planted));
}

TEST(OddRepositories, DetachedHead) {
  TempRepo repo;
  std::string a = repo.commit_file("a.txt", "a\n", "A", 1700000000);
  std::string b = repo.commit_file("a.txt", "b\n", "B", 1700000100);
  test::git(repo.path, {"checkout", "-q", "--detach", a});
  std::string c = repo.commit_file("a.txt", "c\n", "C", 1700000200);
  ServerProcess server;

  auto head = post_json(server, "load_head_commit", repo_body(repo.path));
  EXPECT_EQ(test::text_of(test::value_or_null(head.root["id"])), c);
  EXPECT_EQ(test::field_of_each(test::value_or_null(head.root["refs"]), "id"), Strings{"HEAD"});
  EXPECT_FALSE(bool(head.root["refs"].at(0)["head"]));

  // The history lists branches, tags and remotes; a commit only HEAD reaches is not in it.
  auto loaded = post_json(server, "load_commits_and_refs", load_body(repo.path));
  EXPECT_EQ(commit_ids(loaded), (Strings{b, a}));
  EXPECT_EQ(ref_ids(loaded), Strings{"refs/heads/main"});
  EXPECT_FALSE(bool(loaded.root.at(1).at(0)["head"]));

  EXPECT_EQ(post_text(server, "load_wip_patches", repo_body(repo.path)), "null");
  repo.write("a.txt", "d\n");
  auto wip = post_json(server, "load_wip_hunks", wip_body(repo.path, "a.txt", commit_json(c, {a})));
  EXPECT_EQ(first_hunk_texts(wip), (Strings{"c", "d"}));

  if (served("calc_head_info")) {
    EXPECT_EQ(post_text(server, "calc_head_info", repo_body(repo.path)), "null");
  }
  if (served("get_all_commits_on_current_branch")) {
    EXPECT_EQ(post_text(server, "get_all_commits_on_current_branch", repo_body(repo.path)), "null");
  }
  if (served("get_un_pushed_commits")) {
    // No checked-out branch in the cache: git lists what HEAD has and no remote has.
    EXPECT_EQ(post_text(server, "get_un_pushed_commits", repo_body(repo.path)),
              R"({"thisBranch":[],"allBranches":[)" + q(c) + "," + q(a) + "]}");
  }
}

TEST(OddRepositories, EmptyRepository) {
  TempRepo repo;
  repo.write("u.txt", "u\n");
  ServerProcess server;
  EXPECT_EQ(post_text(server, "load_commits_and_refs", load_body(repo.path)), "null");
  EXPECT_EQ(post_text(server, "load_head_commit", repo_body(repo.path)), "null");
  EXPECT_EQ(post_text(server, "load_top_commit_for_branch",
                      R"({"repoPath":)" + q(repo.str()) + R"(,"branchName":"main"})"),
            "null");
  auto wip = post_json(server, "load_wip_patches", repo_body(repo.path));
  EXPECT_EQ(test::field_of_each(wip.root, "id"), Strings{"u.txtA"});
  EXPECT_EQ(test::field_of_each(wip.root, "stagedType"), Strings{"?"});
  auto hunks = post_json(server, "load_wip_hunks",
                         R"({"repoPath":)" + q(repo.str()) + R"(,"patch":)" +
                             wip_patch_json("u.txt", "?", "?", "A") + R"(,"headCommit":null})");
  EXPECT_EQ(first_hunk_texts(hunks), Strings{"u"});
  EXPECT_EQ(post_text(server, "search_commits",
                      R"({"repoPath":)" + q(repo.str()) + R"(,"searchText":"u","numResults":5})"),
            "null");
  if (served("auto_complete")) {
    EXPECT_EQ(post_text(server, "auto_complete",
                        R"({"currentWord":"","repoPath":)" + q(repo.str()) +
                            R"(,"maxNum":5,"kind":"createBranch"})"),
              "null");
  }
  if (served("calc_head_info")) {
    EXPECT_EQ(post_text(server, "calc_head_info", repo_body(repo.path)), "null");
  }
  if (served("get_un_pushed_commits")) {
    EXPECT_EQ(post_text(server, "get_un_pushed_commits", repo_body(repo.path)),
              R"({"thisBranch":[],"allBranches":[]})");
  }
  if (served("load_full_config")) {
    auto config = post_json(server, "load_full_config", repo_body(repo.path));
    EXPECT_EQ(test::text_of(test::value_or_null(config.root["entries"]["core.bare"])), "false");
  }
}

TEST(OddRepositories, BareRepository) {
  TempRepo source;
  std::string first = source.commit_file("a.txt", "1\n", "first", 1700000000);
  test::git(source.path, {"tag", "v1"});
  std::string second = source.commit_file("a.txt", "1\n2\n", "second", 1700000100);
  TempDir holder;
  fs::path bare = holder.path / "bare.git";
  test::git(holder.path, {"clone", "-q", "--bare", source.str(), bare.string()});
  ServerProcess server;

  auto loaded = post_json(server, "load_commits_and_refs", load_body(bare));
  EXPECT_EQ(commit_ids(loaded), (Strings{second, first}));
  EXPECT_EQ(sorted(ref_ids(loaded)), (Strings{"refs/heads/main", "refs/tags/v1"}));
  auto head = post_json(server, "load_head_commit", repo_body(bare));
  EXPECT_EQ(test::text_of(test::value_or_null(head.root["id"])), second);
  EXPECT_EQ(post_text(server, "load_wip_patches", repo_body(bare)), "null");
  auto patches =
      post_json(server, "load_patches_for_commit",
                R"({"repoPath":)" + q(bare.string()) + R"(,"commitId":)" + q(second) + "}");
  EXPECT_EQ(test::field_of_each(patches.root, "id"), Strings{"a.txt-M"});
  auto hunks = post_json(server, "load_hunks",
                         R"({"repoPath":)" + q(bare.string()) + R"(,"commit":)" +
                             commit_json(second, {first}) + R"(,"patch":)" +
                             patch_json(second, "a.txt", "M") + "}");
  EXPECT_EQ(first_hunk_texts(hunks), (Strings{"1", "2"}));
  EXPECT_EQ(post_text(server, "run",
                      R"({"repoPath":)" + q(bare.string()) +
                          R"(,"args":["rev-parse","--is-bare-repository"]})"),
            R"("true\n")");
  if (served("is_merge_in_progress")) {
    EXPECT_EQ(post_text(server, "is_merge_in_progress", repo_body(bare)), "null");
    EXPECT_EQ(post_text(server, "is_rebase_in_progress", repo_body(bare)), "false");
  }
  if (served("load_full_config")) {
    auto config = post_json(server, "load_full_config", repo_body(bare));
    EXPECT_EQ(test::text_of(test::value_or_null(config.root["entries"]["core.bare"])), "true");
  }
}

TEST(OddRepositories, ShallowClone) {
  TempRepo source;
  Strings ids;
  for (int i = 1; i <= 4; ++i) {
    ids.push_back(source.commit_file("a.txt", std::to_string(i) + "\n", "c" + std::to_string(i),
                                     1700000000 + i * 100));
  }
  TempDir holder;
  fs::path shallow = holder.path / "shallow";
  test::git(holder.path,
            {"clone", "-q", "--depth", "2", "file://" + source.str(), shallow.string()});
  ServerProcess server;

  auto loaded = post_json(server, "load_commits_and_refs", load_body(shallow));
  EXPECT_EQ(commit_ids(loaded), (Strings{ids[3], ids[2]}));
  auto boundary = loaded.root.at(0).at(1);
  EXPECT_EQ(test::size_of(test::value_or_null(boundary["parentIds"])), 0u);
  // git marks the boundary "grafted" among the decorations; that is no ref.
  EXPECT_EQ(test::size_of(test::value_or_null(boundary["refs"])), 0u);
  EXPECT_EQ(ref_ids(loaded), (Strings{"refs/heads/main", "refs/remotes/origin/main"}));
  EXPECT_EQ(test::field_of_each(test::value_or_null(loaded.root.at(1)), "siblingId"),
            (Strings{"refs/remotes/origin/main", "refs/heads/main"}));

  // Without its parent the boundary commit adds its whole tree.
  auto patches =
      post_json(server, "load_patches_for_commit",
                R"({"repoPath":)" + q(shallow.string()) + R"(,"commitId":)" + q(ids[2]) + "}");
  EXPECT_EQ(test::field_of_each(patches.root, "id"), Strings{"a.txt-A"});
  auto hunks = post_json(server, "load_hunks",
                         R"({"repoPath":)" + q(shallow.string()) + R"(,"commit":)" +
                             commit_json(ids[2], {}) + R"(,"patch":)" +
                             patch_json(ids[2], "a.txt", "A") + "}");
  EXPECT_EQ(first_hunk_texts(hunks), Strings{"3"});

  if (served("commit_ids_between_commits")) {
    EXPECT_EQ(post_text(server, "commit_ids_between_commits",
                        R"({"repoPath":)" + q(shallow.string()) + R"(,"commitId1":)" + q(ids[2]) +
                            R"(,"commitId2":)" + q(ids[3]) + "}"),
              "[" + q(ids[3]) + "]");
  }
  if (served("get_un_pushed_commits")) {
    EXPECT_EQ(post_text(server, "get_un_pushed_commits", repo_body(shallow)),
              R"({"thisBranch":[],"allBranches":[]})");
  }
  if (served("calc_head_info")) {
    auto info = post_json(server, "calc_head_info", repo_body(shallow));
    EXPECT_EQ(test::text_of(test::value_or_null(info.root["ref"]["id"])), "refs/heads/main");
    EXPECT_EQ(test::text_of(test::value_or_null(info.root["remoteRef"]["id"])),
              "refs/remotes/origin/main");
    EXPECT_EQ(uint64_t(info.root["remoteAhead"]), 0u);
    EXPECT_EQ(uint64_t(info.root["remoteBehind"]), 0u);
  }
}

TEST(OddRepositories, Submodule) {
  TempRepo inner;
  std::string inner_head = inner.commit_file("i.txt", "i\n", "inner");
  TempRepo outer;
  outer.commit_file("s.txt", "s\n", "outer");
  test::sh(outer.path, "git -c protocol.file.allow=always submodule add -q '" + inner.str() +
                           "' sub && git commit -q -m 'add sub'");
  std::string head = rev_parse(outer.path, "HEAD");
  std::string parent = rev_parse(outer.path, "HEAD~");
  outer.write("sub/i.txt", "i\nchanged\n");
  ServerProcess server;
  post_json(server, "load_commits_and_refs", load_body(outer.path));

  auto wip = post_json(server, "load_wip_patches", repo_body(outer.path));
  EXPECT_EQ(test::field_of_each(wip.root, "id"), Strings{"subM"});
  auto patches = post_json(server, "load_patches_for_commit",
                           R"({"repoPath":)" + q(outer.str()) + R"(,"commitId":)" + q(head) + "}");
  EXPECT_EQ(test::field_of_each(patches.root, "id"), (Strings{".gitmodules-A", "sub-A"}));
  auto hunks =
      post_json(server, "load_hunks",
                R"({"repoPath":)" + q(outer.str()) + R"(,"commit":)" + commit_json(head, {parent}) +
                    R"(,"patch":)" + patch_json(head, "sub", "A") + "}");
  EXPECT_EQ(first_hunk_texts(hunks), Strings{"Subproject commit " + inner_head});
  // The submodule's working tree is a folder, not a file with a text.
  std::string sub_body = wip_body(outer.path, "sub", commit_json(head, {parent}));
  EXPECT_EQ(post_text(server, "load_wip_hunks", sub_body), "null");
  EXPECT_EQ(post_text(server, "load_conflicted_file", sub_body), "null");
  TempDir out;
  EXPECT_EQ(post_text(server, "load_commit_image",
                      R"({"repoPath":)" + q(outer.str()) + R"(,"commitId":)" + q(head) +
                          R"(,"originalImagePath":"sub","tempImagePath":)" +
                          q((out.path / "x").string()) + "}"),
            "false");
}

TEST(OddRepositories, TenThousandTags) {
  TempRepo repo;
  std::string c1 = repo.commit_file("a.txt", "1\n", "c1", 1700000000);
  repo.commit_file("a.txt", "2\n", "c2", 1700000100);
  std::string c3 = repo.commit_file("a.txt", "3\n", "c3", 1700000200);
  // Written as git's packed-refs file: ten thousand loose ref files take seconds to create.
  std::string packed = "# pack-refs with: peeled fully-peeled sorted \n";
  for (int i = 0; i < 10000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "t%04d", i);
    packed += (i % 2 ? c1 : c3) + " refs/tags/" + name + "\n";
  }
  repo.write(".git/packed-refs", packed);
  ASSERT_EQ(trimmed(test::git(repo.path, {"tag", "--list", "t*"})).size(), 10000u * 6 - 1);
  ServerProcess server;

  auto loaded = post_json(server, "load_commits_and_refs", load_body(repo.path));
  auto refs = test::value_or_null(loaded.root.at(1));
  ASSERT_EQ(test::size_of(refs), 10001u);
  auto types = test::field_of_each(refs, "refType");
  EXPECT_EQ(std::count(types.begin(), types.end(), "Tag"), 10000);
  std::map<std::string, std::string> tag_commit;
  auto ids = test::field_of_each(refs, "id");
  auto commits = test::field_of_each(refs, "commitId");
  for (size_t i = 0; i < ids.size(); ++i) tag_commit[ids[i]] = commits[i];
  EXPECT_EQ(tag_commit["refs/tags/t0000"], c3);
  EXPECT_EQ(tag_commit["refs/tags/t9999"], c1);

  EXPECT_EQ(post_text(server, "auto_complete",
                      R"({"currentWord":"t099","repoPath":)" + q(repo.str()) +
                          R"(,"maxNum":20,"kind":"createBranch"})"),
            R"(["t0990","t0991","t0992","t0993","t0994","t0995","t0996","t0997","t0998","t0999"])");
  auto found =
      post_json(server, "search_commits",
                R"({"repoPath":)" + q(repo.str()) + R"(,"searchText":"T1234","numResults":10})");
  EXPECT_EQ(test::field_of_each(found.root, "commitId"), Strings{c3});
  EXPECT_EQ(
      post_text(server, "search_commits",
                R"({"repoPath":)" + q(repo.str()) + R"(,"searchText":"T1234","numResults":10})"),
      R"([{"commitId":)" + q(c3) +
          R"(,"matches":[],"patches":[],"diffs":[],"refIds":["refs/tags/t1234"]}])");
  auto top = post_json(server, "load_top_commit_for_branch",
                       R"({"repoPath":)" + q(repo.str()) + R"(,"branchName":"t5001"})");
  EXPECT_EQ(test::text_of(test::value_or_null(top.root["id"])), c1);

  if (served("calc_ref_diffs")) {
    auto diffs = post_json(server, "calc_ref_diffs",
                           R"({"repoPath":)" + q(repo.str()) + R"(,"headCommitId":)" + q(c3) + "}");
    simdjson::dom::object by_ref;
    ASSERT_EQ(diffs.root.at(1).get(by_ref), simdjson::SUCCESS);
    EXPECT_EQ(by_ref.size(), 10001u);
    EXPECT_EQ(uint64_t(by_ref["refs/tags/t0001"]["behindHead"]), 2u);
    EXPECT_EQ(uint64_t(by_ref["refs/tags/t0001"]["aheadOfHead"]), 0u);
  }
}

// Every line of a 160,000-line file reordered: an exact diff's cost grows with the square of
// the line count and held the one request loop past the client's timeout.
TEST(OddRepositories, ShuffledLargeFile) {
  constexpr size_t kLines = 160000;
  Strings lines;
  for (size_t i = 0; i < kLines; ++i) lines.push_back("line " + std::to_string(i) + "\n");
  auto joined = [&] { return std::accumulate(lines.begin(), lines.end(), std::string()); };
  TempRepo repo;
  std::string head = repo.commit_file("big.txt", joined(), "big");
  std::shuffle(lines.begin(), lines.end(), std::mt19937(1));
  repo.write("big.txt", joined());
  ServerProcess server;

  auto reply = post_json(server, "load_wip_hunk_lines",
                         wip_body(repo.path, "big.txt", commit_json(head, {})));
  std::map<std::string, size_t> tally;
  for (const auto& status : test::field_of_each(reply.root, "status")) ++tally[status];
  // Each old line once as " " or "-", each new line once as " " or "+", and nothing else.
  EXPECT_EQ(tally[" "] + tally["-"], kLines);
  EXPECT_EQ(tally[" "] + tally["+"], kLines);
  EXPECT_EQ(tally.size(), 3u);
  EXPECT_EQ(server.get("/pi").status, 200);
}

// A committed link pointed elsewhere diffs as its link texts, as git shows it. Neither a link
// nor a directory that is a link on the way to a file is read through.
TEST(OddRepositories, SymbolicLinks) {
  TempRepo repo;
  test::sh(repo.path,
           "echo old target > old.txt && echo new target > new.txt && ln -s old.txt link && "
           "mkdir dir && echo committed > dir/f.txt && git add -A && git commit -q -m links && "
           "ln -sfn new.txt link && mv dir elsewhere && ln -s elsewhere dir");
  std::string head = commit_json(rev_parse(repo.path, "HEAD"), {});
  ServerProcess server;

  auto lines = post_json(server, "load_wip_hunk_lines", wip_body(repo.path, "link", head));
  EXPECT_EQ(test::field_of_each(lines.root, "status"), (Strings{"-", "+"}));
  EXPECT_EQ(test::field_of_each(lines.root, "text"), (Strings{"old.txt", "new.txt"}));
  EXPECT_EQ(post_text(server, "load_wip_hunk_lines", wip_body(repo.path, "dir/f.txt", head)),
            "null");
  for (const std::string file : {"link", "dir/f.txt"}) {
    EXPECT_EQ(post_text(server, "load_conflicted_file", wip_body(repo.path, file, head)), "null");
  }
}

}  // namespace
}  // namespace brackwen
