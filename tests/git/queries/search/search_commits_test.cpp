#include "git/queries/search/search_commits.hpp"

#include <gtest/gtest.h>

namespace brackwen {
namespace {

using S = SearchMatchType;

Commit commit(std::string id, std::string author, std::string message,
              std::vector<std::string> refs = {}) {
  Commit c;
  c.id = std::move(id);
  c.author = std::move(author);
  c.email = "dev@example.com";
  c.message = std::move(message);
  c.refs = std::move(refs);
  return c;
}

RefInfo ref(std::string id, std::string full_name) {
  RefInfo r;
  r.id = std::move(id);
  r.full_name = std::move(full_name);
  return r;
}

Patch patch(std::string commit_id, std::string old_file, std::string new_file) {
  Patch p;
  p.commit_id = std::move(commit_id);
  p.old_file = std::move(old_file);
  p.new_file = std::move(new_file);
  return p;
}

struct History {
  CommitsAndRefs history{
      {commit("c1", "Ann", "Fix the Parser", {"r-main"}), commit("c2", "Bob", "Ärger mit ΟΔΟΣ"),
       commit("c3", "Cy", "rename"), commit("c4", "Dee", "other", {"r-tag", "r-main"}),
       commit("c5", "Eve", "last")},
      {ref("r-main", "refs/heads/main"), ref("r-tag", "refs/tags/Release-1"),
       ref("r-lonely", "refs/heads/release-x")}};
  PatchMap patches{{"c1", {patch("c1", "src/a.txt", "src/a.txt")}},
                   {"c3", {patch("c3", "Old/Name.txt", "new/other.txt"), patch("c3", "x", "y")}}};

  std::vector<CommitSearchResult> search(std::string_view text, uint64_t limit = 100) const {
    return search_commits(history, patches, text, limit);
  }
};

std::vector<std::string> ids(const std::vector<CommitSearchResult>& results) {
  std::vector<std::string> out;
  for (const auto& r : results) out.push_back(r.commit_id);
  return out;
}

TEST(SearchCommits, CaseFoldsAsciiAndNonAscii) {
  History h;
  auto parser = h.search("PARSER");
  ASSERT_EQ(parser.size(), 1u);
  EXPECT_EQ(parser[0].matches, std::vector<S>{S::CommitMessage});
  EXPECT_EQ(ids(h.search("äRGER")), std::vector<std::string>{"c2"});
  // Lower-casing knows the final sigma: "ΟΔΟΣ" and "οδος" meet as "οδος".
  EXPECT_EQ(ids(h.search("οδος")), std::vector<std::string>{"c2"});
  EXPECT_EQ(ids(h.search("ΟΔΟΣ")), std::vector<std::string>{"c2"});
}

TEST(SearchCommits, MatchesThroughPathsAndRefsAlone) {
  History h;
  auto by_old_path = h.search("old/name");
  ASSERT_EQ(by_old_path.size(), 1u);
  EXPECT_TRUE(by_old_path[0].matches.empty());
  EXPECT_EQ(by_old_path[0].patches, (std::vector<Patch>{h.patches["c3"][0]}));

  // The lonely ref matches too but decorates no commit.
  auto by_ref = h.search("release");
  ASSERT_EQ(by_ref.size(), 1u);
  EXPECT_EQ(by_ref[0].commit_id, "c4");
  EXPECT_EQ(by_ref[0].ref_ids, std::vector<std::string>{"r-tag"});
  EXPECT_TRUE(by_ref[0].matches.empty());
  EXPECT_TRUE(by_ref[0].patches.empty());
  EXPECT_TRUE(by_ref[0].diffs.empty());

  EXPECT_EQ(ids(h.search("heads/main")), (std::vector<std::string>{"c1", "c4"}));
  EXPECT_TRUE(h.search("nowhere").empty());
}

}  // namespace
}  // namespace brackwen
