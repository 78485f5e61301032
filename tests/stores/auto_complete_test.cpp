// Auto-complete: the word tree's order and limits, the words taken from history, and which
// tree a request uses.
#include "stores/auto_complete.hpp"

#include <gtest/gtest.h>

#include "api_types/requests.hpp"
#include "git/process.hpp"
#include "server/history.hpp"
#include "stores/stores.hpp"
#include "support/temp_repo.hpp"

namespace brackwen {
namespace {

using Words = std::vector<std::string>;

TrieNode tree_of(const Words& words) {
  TrieNode root;
  for (const auto& w : words) trie_insert(root, w);
  return root;
}

TEST(TrieComplete, PrefixOrderAndLimits) {
  struct Case {
    Words stored;
    std::string prefix;
    size_t max_num;
    Words expected;
  };
  const Case cases[] = {
      {{"refactor", "refactored", "release"}, "refa", 10, {"refactor", "refactored"}},
      {{"refactor", "refactored", "release"}, "refactor", 10, {"refactored"}},
      {{"refactor", "refactored", "release"}, "re", 10, {"refactor", "refactored", "release"}},
      {{"refactor"}, "Refa", 10, {}},  // case-sensitive
      {{"refactor"}, "refactors", 10, {}},
      {{"e", "d", "c", "b", "a"}, "", 2, {"a", "b"}},
      {{"xe", "xd", "xc"}, "x", 0, {}},
      {{"xe", "xd", "xc"}, "x", SIZE_MAX, {"xc", "xd", "xe"}},
      {{"same", "same", "same!"}, "sa", 10, {"same", "same!"}},
      // UTF-8 byte order: upper case, lower case, then longer encodings.
      {{"x\U0001F600", "x\u20AC", "xé", "xz", "xA", "x\uFFFF"},
       "x",
       10,
       {"xA", "xz", "xé", "x\u20AC", "x\uFFFF", "x\U0001F600"}},
      {{"été", "étage", "eta"}, "ét", 10, {"étage", "été"}},
      {{""}, "", 10, {}},  // an empty word adds nothing
  };
  for (const auto& c : cases) {
    auto root = tree_of(c.stored);
    EXPECT_EQ(trie_complete(root, c.prefix, c.max_num), c.expected) << c.prefix;
  }
}

TEST(TrieComplete, VeryLongWordNeedsNoDeepStack) {
  std::string word(2'000'000, 'a');
  {
    TrieNode root;
    trie_insert(root, word);
    trie_insert(root, word + "b");
    auto found = trie_complete(root, "aaa", 5);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[1].size(), word.size() + 1);
  }  // destroyed here, two million levels deep
}

Commit commit(std::string author, std::string email, std::string message) {
  Commit c;
  c.author = std::move(author);
  c.email = std::move(email);
  c.message = std::move(message);
  return c;
}

RefInfo ref(std::string short_name) {
  RefInfo r;
  r.short_name = std::move(short_name);
  return r;
}

TEST(BuildMessageTrie, WordsFromHistory) {
  CommitsAndRefs history;
  history.commits = {commit("Ada Lovelace", "ada@example.com", "fix improvement\n"),
                     commit("Ada Lovelace", "ada@example.com", "refactor:\ttidy\u00A0parsers"),
                     commit("Bob", "bob@example.com", "On main: stashed-work")};
  history.refs = {ref("main"), ref("feature/login")};
  Patch renamed;
  renamed.old_file = "src/old name.c";
  renamed.new_file = "src/new name.c";
  PatchMap patches{{"c1", {renamed}}};
  auto root = build_message_trie(history, patches);

  auto all = [&](const std::string& p) { return trie_complete(*root, p, 100); };
  EXPECT_EQ(all("improv"), Words{"improvement"});
  EXPECT_EQ(all("fi"), Words{});                   // three code points: dropped
  EXPECT_EQ(all("refac"), Words{"refactor:"});     // punctuation kept, tab splits
  EXPECT_EQ(all("pars"), Words{"parsers"});        // no-break space is whitespace
  EXPECT_EQ(all("stash"), Words{"stashed-work"});  // last word without a line end
  EXPECT_EQ(all("Ada"), Words{"Ada Lovelace"});
  EXPECT_EQ(all("ada@"), Words{"ada@example.com"});
  EXPECT_EQ(all("fea"), Words{"feature/login"});
  EXPECT_EQ(all("ma"), Words{"main"});
  EXPECT_EQ(all("src/"), (Words{"src/new name.c", "src/old name.c"}));
}

struct AutoCompleteTest : ::testing::Test {
  void TearDown() override {
    COMMITS_CACHE().set({});
    MESSAGE_TRIE().set({});
  }
  static void load(const std::string& repo, CommitsAndRefs history) {
    COMMITS_CACHE().update([&](CommitsCache& cache) {
      cache[repo] = std::make_shared<const CommitsAndRefs>(std::move(history));
    });
  }
};

TEST_F(AutoCompleteTest, BranchNames) {
  load("/repo", {{}, {ref("main"), ref("feature/b"), ref("feature/a"), ref("Main"), ref("main")}});
  EXPECT_EQ(complete_branch_name("/repo", "", 10),
            (Words{"Main", "feature/a", "feature/b", "main"}));
  EXPECT_EQ(complete_branch_name("/repo", "", 2), (Words{"Main", "feature/a"}));
  EXPECT_EQ(complete_branch_name("/repo", "feature/", 10), (Words{"feature/a", "feature/b"}));
  EXPECT_EQ(complete_branch_name("/repo", "zzz", 10), Words{});
  EXPECT_EQ(complete_branch_name("/never-loaded", "", 10), std::nullopt);
}

TEST_F(AutoCompleteTest, CommitMessageNeedsAWordAndALoadedRepository) {
  load("/repo", {{commit("Ada Lovelace", "ada@example.com", "documentation\n")}, {}});
  EXPECT_EQ(complete_commit_message("/repo", "", 10), std::nullopt);
  EXPECT_EQ(complete_commit_message("/never-loaded", "doc", 10), std::nullopt);
  EXPECT_EQ(complete_commit_message("/repo", "doc", 0), Words{});
  EXPECT_EQ(complete_commit_message("/repo", "doc", 10), Words{"documentation"});
  EXPECT_EQ(complete_commit_message("/repo", "xyz", 10), Words{});
}

TEST_F(AutoCompleteTest, TreeIsKeptForTheLastRepository) {
  load("/a", {{commit("Ada", "ada@example.com", "original\n")}, {}});
  load("/b", {{commit("Bob", "bob@example.com", "different\n")}, {}});
  EXPECT_EQ(complete_commit_message("/a", "orig", 10), Words{"original"});
  auto first = MESSAGE_TRIE().get()->root;

  // Reloaded history does not change the kept tree of the same repository.
  load("/a", {{commit("Ada", "ada@example.com", "replacement\n")}, {}});
  EXPECT_EQ(complete_commit_message("/a", "orig", 10), Words{"original"});
  EXPECT_EQ(MESSAGE_TRIE().get()->root, first);  // shared, not copied

  EXPECT_EQ(complete_commit_message("/b", "diff", 10), Words{"different"});
  EXPECT_EQ(MESSAGE_TRIE().get()->repo_path, "/b");
  EXPECT_EQ(complete_commit_message("/a", "repl", 10), Words{"replacement"});

  // A kept tree stays usable after its repository's history was dropped from the cache.
  COMMITS_CACHE().set({});
  EXPECT_EQ(complete_commit_message("/a", "repl", 10), Words{"replacement"});
  EXPECT_EQ(complete_branch_name("/a", "", 10), std::nullopt);
}

}  // namespace
}  // namespace brackwen
