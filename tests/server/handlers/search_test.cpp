#include "server/handlers/search.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "server/endpoints.hpp"
#include "server/history.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

// A handler's reply as one text: its pieces joined.
std::optional<std::string> joined(std::optional<Reply> reply) {
  if (!reply) return std::nullopt;
  std::string text;
  for (const std::string& piece : std::get<TextPieces>(reply->body)) text += piece;
  return text;
}

std::optional<std::string> reply_of(Handler handler, const std::string& body) {
  return joined(handler(body));
}

using test::TempRepo;

struct SearchRepo : TempRepo {
  std::string first;
  std::string second;
  std::string third;
  SearchRepo() {
    first = commit_file("docs/Readme.md", "r\n", "commit one: Ändern der Größe", 1700000000);
    second = commit_file("src/main.cpp", "m\n", "commit two", 1700000100);
    third = commit_file("src/util.cpp", "u\n", "commit three", 1700000200);
    HistoryQuery request;
    request.repo_path = str();
    request.num_commits = 100;
    EXPECT_TRUE(load_commits_and_refs(request));
  }
  std::string search(const std::string& text, int limit) const {
    return *reply_of(handle_search_commits, R"({"repoPath":")" + str() + R"(","searchText":")" +
                                                text + R"(","numResults":)" +
                                                std::to_string(limit) + "}");
  }
  std::string patches_of(const std::string& id) const {
    return *reply_of(handle_load_patches_for_commit,
                     R"({"repoPath":")" + str() + R"(","commitId":")" + id + R"("})");
  }
};

size_t count(const std::string& text, const std::string& word) {
  size_t n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

TEST(SearchCommitsEndpoint, StopsOneResultPastTheLimitAndFoldsNonAsciiCase) {
  SearchRepo repo;
  auto two = repo.search("COMMIT", 1);
  EXPECT_EQ(count(two, "\"commitId\""), 2u);
  EXPECT_NE(two.find(repo.third), std::string::npos);  // newest first
  EXPECT_EQ(two.find(repo.first), std::string::npos);

  auto folded = repo.search("ÄNDERN DER GRÖSSE", 10);
  EXPECT_EQ(folded, "[]");  // "ß" lower-cases to itself, not to "ss"
  folded = repo.search("ÄNDERN DER GRÖẞE", 10);
  EXPECT_EQ(count(folded, "\"commitId\""), 1u);
  EXPECT_NE(folded.find(R"("matches":["CommitMessage"])"), std::string::npos) << folded;

  auto by_path = repo.search("README", 10);
  EXPECT_TRUE(by_path.starts_with(R"([{"commitId":")" + repo.first +
                                  R"(","matches":[],"patches":[{"commitId":")" + repo.first +
                                  R"(","oldFile":"docs/Readme.md","newFile":"docs/Readme.md",)"
                                  R"("patchType":"A",)"))
      << by_path;
  EXPECT_TRUE(by_path.ends_with(R"("isImage":false}],"diffs":[],"refIds":[]}])")) << by_path;
  auto by_ref = repo.search("refs/heads/MAIN", 10);
  EXPECT_EQ(count(by_ref, "\"commitId\""), 1u);
  EXPECT_NE(by_ref.find(R"("refIds":[")"), std::string::npos) << by_ref;
}

TEST(PatchesForCommitEndpoint, ExactCachedIdsOnly) {
  SearchRepo repo;
  auto patches = repo.patches_of(repo.second);
  EXPECT_NE(patches.find(R"("newFile":"src/main.cpp")"), std::string::npos) << patches;
  auto upper = repo.second;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  EXPECT_EQ(repo.patches_of(upper), "null");
  EXPECT_EQ(repo.patches_of(repo.second.substr(0, 7)), "null");

  TempRepo never_loaded;
  never_loaded.commit_file("a", "a\n", "a");
  EXPECT_EQ(reply_of(handle_search_commits, R"({"repoPath":")" + never_loaded.str() +
                                                R"(","searchText":"","numResults":5})"),
            "null");
  EXPECT_EQ(reply_of(handle_load_patches_for_commit,
                     R"({"repoPath":")" + never_loaded.str() + R"(","commitId":"x"})"),
            "null");
  EXPECT_EQ(reply_of(handle_search_commits, R"({"repoPath":"x","searchText":"","numResults":1.5})"),
            std::nullopt);
  EXPECT_EQ(reply_of(handle_search_commits, R"({"repoPath":"x","searchText":"","numResults":-1})"),
            std::nullopt);
  EXPECT_EQ(reply_of(handle_search_commits, R"(["x","",1])"), "null");
}

}  // namespace
}  // namespace brackwen
