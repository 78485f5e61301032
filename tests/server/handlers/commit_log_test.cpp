// The commit log endpoints end to end: a real repository with a tag, a remote and a stash.
#include <gtest/gtest.h>

#include <filesystem>

#include "api_types/json.hpp"
#include "support/server_harness.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using test::ServerProcess;
using test::sh;
using test::TempRepo;

// Multiples of 2^17 seconds: the float milliseconds are exact.
constexpr long T1 = 12970L * 131072;
constexpr long T2 = T1 + 131072;
constexpr long T3 = T2 + 131072;

std::string trimmed(std::string s) {
  while (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

std::string json_text(const std::string& s) {
  return to_json(s);
}

struct Fixture {
  TempRepo repo;
  std::string c1, c2, stash;

  Fixture() {
    c1 = repo.commit_file("a.txt", "1", "first", T1);
    test::git(repo.path, {"tag", "v1"});
    test::git(repo.path, {"remote", "add", "origin", "https://example.invalid/x.git"});
    test::git(repo.path, {"update-ref", "refs/remotes/origin/main", c1});
    c2 = repo.commit_file("a.txt", "2", "second", T2);
    repo.write("a.txt", "stashed");
    std::string date = "'" + std::to_string(T3) + " +0000'";
    stash = trimmed(sh(repo.path, "GIT_AUTHOR_DATE=" + date + " GIT_COMMITTER_DATE=" + date +
                                      " git stash push -q -m 'wip here' && git rev-parse "
                                      "refs/stash"));
  }

  Commit commit(const std::string& id, long seconds, size_t index, std::vector<std::string> parents,
                std::string message, std::vector<std::string> refs) const {
    Commit c;
    c.author = "Test User";
    c.email = "test@example.com";
    c.date = DateResult{static_cast<float>(seconds) * 1000.0f, 0};
    c.id = id;
    c.index = index;
    c.parent_ids = std::move(parents);
    c.message = std::move(message);
    c.refs = std::move(refs);
    return c;
  }

  RefInfo ref(const std::string& name, RefLocation location, const std::string& short_name,
              std::optional<std::string> remote, std::optional<std::string> sibling, RefType type,
              bool head, const std::string& commit, long seconds) const {
    return RefInfo{name,
                   location,
                   name,
                   short_name,
                   std::move(remote),
                   std::move(sibling),
                   type,
                   head,
                   commit,
                   static_cast<float>(seconds) * 1000.0f};
  }

  std::string request(const std::string& filters, bool fast) const {
    return "{\"repoPath\":" + json_text(repo.str()) + ",\"numCommits\":500,\"filters\":" + filters +
           ",\"fast\":" + (fast ? "true" : "false") + ",\"skipStashes\":false}";
  }
};

TEST(CommitLogEndpoints, HistoryWithTagRemoteAndStash) {
  Fixture f;
  ServerProcess server;
  Commit stash = f.commit(f.stash, T3, 0, {f.c2}, "On main", {});
  stash.stash_id = "refs/stash@{0}";
  std::vector<Commit> commits = {
      stash, f.commit(f.c2, T2, 1, {f.c1}, "second\n", {"refs/heads/main"}),
      f.commit(f.c1, T1, 2, {}, "first\n", {"refs/tags/v1", "refs/remotes/origin/main"})};
  using L = RefLocation;
  std::vector<RefInfo> refs = {
      f.ref("refs/heads/main", L::Local, "main", "origin", "refs/remotes/origin/main",
            RefType::Branch, true, f.c2, T2),
      f.ref("refs/tags/v1", L::Remote, "v1", "origin", std::nullopt, RefType::Tag, false, f.c1, T1),
      f.ref("refs/remotes/origin/main", L::Remote, "main", "origin", "refs/heads/main",
            RefType::Branch, false, f.c1, T1)};
  std::string expected = "[" + to_json(commits) + "," + to_json(refs) + "]";

  auto reply = server.post("/f/load_commits_and_refs", f.request("[]", false));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, expected);
  // Shortest digits of the float, written whole with ".0".
  EXPECT_NE(reply.body.find("\"ms\":1700003800000.0"), std::string::npos);
  EXPECT_EQ(server.post("/f/load_commits_and_refs", f.request("[]", true)).body, expected);

  // The array form of the request, with a filter: only the commit the first commit names.
  auto filtered = server.post(
      "/f/load_commits_and_refs",
      "[" + json_text(f.repo.str()) + ",500,[{\"commit\":[" + json_text(f.c1) + "]}],true,false]");
  Commit only = commits[2];
  only.index = 0;
  only.num_skipped = 2;
  EXPECT_EQ(filtered.body, "[" + to_json(std::vector<Commit>{only}) + "," + to_json(refs) + "]");
}

TEST(CommitLogEndpoints, HeadAndTopCommitCarryWholeRefs) {
  Fixture f;
  ServerProcess server;
  ParsedCommit head;
  Commit c2 = f.commit(f.c2, T2, 0, {f.c1}, "second\n", {});
  head.author = c2.author;
  head.email = c2.email;
  head.date = c2.date;
  head.id = c2.id;
  head.parent_ids = c2.parent_ids;
  head.message = c2.message;
  head.refs = {f.ref("refs/heads/main", RefLocation::Local, "main", std::nullopt, std::nullopt,
                     RefType::Branch, true, f.c2, T2)};
  std::string body = "{\"repoPath\":" + json_text(f.repo.str()) + "}";
  EXPECT_EQ(server.post("/f/load_head_commit", body).body, to_json(head));
  EXPECT_NE(server.post("/f/load_head_commit", body).body.find("\"refs\":[{\"id\""),
            std::string::npos);

  auto top = [&](const std::string& branch) {
    return server.post(
        "/f/load_top_commit_for_branch",
        "{\"repoPath\":" + json_text(f.repo.str()) + ",\"branchName\":" + json_text(branch) + "}");
  };
  auto v1 = top("v1");
  EXPECT_EQ(v1.status, 200);
  EXPECT_NE(v1.body.find("\"id\":" + json_text(f.c1)), std::string::npos);
  EXPECT_NE(v1.body.find("{\"id\":\"refs/tags/v1\",\"location\":\"Remote\""), std::string::npos);
  EXPECT_EQ(top("no-such-ref").body, "null");
  test::TempDir out;
  EXPECT_EQ(top("--output=" + (out.path / "x").string()).body, "null");
  EXPECT_FALSE(std::filesystem::exists(out.path / "x"));
}

TEST(CommitLogEndpoints, NullForAnEmptyRepositoryAndDropsForBadBodies) {
  TempRepo empty;
  ServerProcess server;
  std::string path = json_text(empty.str());
  EXPECT_EQ(server
                .post("/f/load_commits_and_refs",
                      "{\"repoPath\":" + path +
                          ",\"numCommits\":10,\"filters\":[],\"fast\":false,\"skipStashes\":false}")
                .body,
            "null");
  EXPECT_EQ(server.post("/f/load_head_commit", "{\"repoPath\":" + path + "}").body, "null");
  for (const auto& [endpoint, body] : std::vector<std::pair<std::string, std::string>>{
           {"load_commits_and_refs", "null"},
           {"load_commits_and_refs",
            "{\"repoPath\":" + path + ",\"numCommits\":10,\"filters\":[],\"fast\":false}"},
           {"load_commits_and_refs", "[" + path + ",-1,[],false,false]"},
           {"load_head_commit", "null"},
           {"load_top_commit_for_branch", "{\"repoPath\":" + path + "}"}}) {
    auto reply = server.post("/f/" + endpoint, body);
    EXPECT_EQ(reply.status, 500) << endpoint << " " << body;
    EXPECT_EQ(reply.body, "") << endpoint << " " << body;
  }
}

}  // namespace
}  // namespace brackwen
